// The load step of a run: fills the input document from the file name given
// on the command line, on the path the options chose.
#pragma once

#include <optional>
#include <string>

#include "common/result.h"
#include "docio/input_document.h"
#include "docio/load.h"

namespace quorvel {

// local_flag wins over url_flag. `file_name` is the argument as given (8-bit
// text in the system code page): the stream path opens it as it is, the
// other paths convert it to UTF-8 (system_to_utf8). Writes the load's
// messages and, after a failure, "File not found error." (no line end).
// A source that could not be opened on the stream path fails with the kind
// kLoadStopsRun: the run then cleans up and ends, after the reason and
// "File not found error.". `prepared`, when given, is the load begun by
// begin_load_step: the plain path takes it instead of loading again.
Result run_load_step(InputDocument& input, const std::string& file_name, bool local_flag,
                     bool url_flag, PreparedLoad* prepared = nullptr);

// The kind of a load step's failure that ends the run (Error::kind).
inline constexpr int kLoadStopsRun = 1;

// Begins, on a thread of its own, the load the run's load step will do,
// where that can be done ahead without anyone noticing: the plain path (no
// -local, no -url) with a name that is a regular file and not a URL. Every
// other run gets nothing begun and loads in its turn.
PreparedLoad begin_load_step(const std::optional<std::string>& file_name, bool local_flag,
                             bool url_flag);

}  // namespace quorvel
