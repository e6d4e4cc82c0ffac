// Building the snapshot document: the present state of mixer device 0 as a
// mixer document.
#pragma once

#include <optional>
#include <string>

#include "common/report.h"
#include "common/result.h"
#include "platform/document/document_model.h"
#include "platform/document/document_sink.h"
#include "platform/document/saved_writer.h"
#include "platform/mixer/mixer.h"

namespace quorvel {

// Replaces the document's content by a mixer document of device 0 of
// `mixer`, and sets `default_output_name` to the product name plus ".xml",
// made a file name in the current folder (default_file_name).
// Succeeds when the document is complete. Every problem is reported (to
// `reporter`) on a line of its own as it is met, and the failure's message sums them up:
// when the mixer cannot be opened or described, the document holds the
// prolog and an empty root (<audio_mixer id="0" destinations="0"/>) and
// `default_output_name` is unchanged; a line or control that cannot be read
// is left out or written as read, and the build goes on.
Result build_snapshot(Document& document, Mixer& mixer,
                      std::optional<std::string>& default_output_name, Reporter& reporter);

// The same snapshot written straight in the saved-file format into `bytes`
// (in `encoding`), for a run that needs no document of it: one that only
// saves.
Result build_saved_snapshot(std::string& bytes, Mixer& mixer,
                            std::optional<std::string>& default_output_name, Reporter& reporter,
                            SavedEncoding encoding = SavedEncoding::kUtf16);

// Reads device 0 of `mixer` as build_snapshot does, reporting and failing as
// it does and setting `default_output_name`, but keeps nothing of the
// document: for a run that needs to know that the mixer can still be read,
// not what it holds.
Result check_snapshot(Mixer& mixer, std::optional<std::string>& default_output_name,
                      Reporter& reporter);

// Writes one line_control element per control of `line`, a line of
// `layout`, into the line's element open in `sink` (none for a line without
// channels), reporting and failing as build_snapshot does. With `gone`
// given, a mixer found gone sets it and ends the line, unreported.
Result capture_line_controls(DocumentSink& sink, Mixer& mixer, const ModelLayout& layout,
                             const ModelLine& line, Reporter& reporter, bool* gone = nullptr);

}  // namespace quorvel
