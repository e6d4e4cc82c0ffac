// Saving a mixer document.
#pragma once

#include <string>

#include "common/report.h"
#include "common/result.h"
#include "platform/document/document_model.h"
#include "platform/document/saved_writer.h"

namespace quorvel {

// Writes `bytes`, a document in the saved-file format (UTF-16 with a byte
// order mark: build_saved_snapshot, snapshot.h), to `file_name` (UTF-8;
// relative names are in the current folder) as write_file_atomically writes
// files: an existing file is replaced whole or not at all, a link is
// followed, the file keeps its permissions. Reports "audio XML file saved
// OK." on success. Reports nothing on failure, whose message names the file
// and gives the reason: cannot save "x": reason.
Result save_saved_document(const std::string& bytes, const std::string& file_name,
                           Reporter& reporter);

// Saves `document` (a snapshot built into the model) the same way, in the
// saved-file format, in `encoding`.
Result save_document(const Document& document, const std::string& file_name,
                     Reporter& reporter, SavedEncoding encoding = SavedEncoding::kUtf16);

}  // namespace quorvel
