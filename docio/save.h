// Saving a mixer document.
#pragma once

#include <pugixml.hpp>

#include <filesystem>
#include <string>

#include "common/result.h"

namespace quorvel {

// Writes the document to `path` in the saved-file format (UTF-16 with a
// byte order mark) as write_file_atomically writes files: an existing file
// is replaced whole or not at all, a link is followed, the file keeps its
// permissions. A failure gives the system's reason.
Result write_document(const pugi::xml_document& document, const std::filesystem::path& path);

// Writes the document to `file_name` (UTF-8; relative names are in the
// current folder) as write_document does, and writes
// "audio XML file saved OK." on success. Writes nothing on failure, whose
// message names the file and gives the reason: cannot save "x": reason.
Result save_document(const pugi::xml_document& document, const std::string& file_name);

// The same, for a document already in the saved-file format.
Result save_saved_document(const std::string& bytes, const std::string& file_name);

}  // namespace quorvel
