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

// local_flag wins over url_flag. Writes the load's messages.
LoadStepResult run_load_step(InputDocument& input, const std::string& file_name,
                             bool local_flag, bool url_flag);

}  // namespace quorvel
