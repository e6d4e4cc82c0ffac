// The load step of a run: fills the input document from the file name given
// on the command line, on the path the options chose.
#pragma once

#include <string>

#include "common/status.h"
#include "docio/input_document.h"

namespace quorvel {

struct LoadStepResult {
  Status status = kOk;   // the load's status; non-zero for a failed load
  bool stop_run = false; // the source could not be opened: clean up and end
};

// local_flag wins over url_flag. `file_name` is the argument as given (8-bit
// text in the system code page): the stream path opens it as it is, the
// other paths convert it with to_wide_string. Writes the load's messages and,
// after a failure, "File not found error." (no line end).
LoadStepResult run_load_step(InputDocument& input, const std::string& file_name,
                             bool local_flag, bool url_flag);

}  // namespace quorvel
