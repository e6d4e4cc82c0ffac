#include "app/load_step.h"

#include <iostream>

#include "app/run.h"
#include "common/dom.h"
#include "docio/load.h"

namespace quorvel {

LoadStepResult run_load_step(InputDocument& input, const std::string& file_name,
                             bool local_flag, bool url_flag) {
  LoadStepResult result;
  if (local_flag) {
    // The stream path: a source that does not open ends the run here.
    DocumentStream stream;
    Status opened = open_document_stream(file_name, stream);
    if (opened != kOk) {
      std::cerr << kFileNotFound;
      result.status = opened;
      result.stop_run = true;
      return result;
    }
    result.status = load_from_stream(input, stream);
    return result;
  }
  std::string wide_name = to_wide_string(file_name);
  result.status = url_flag ? load_from_url(input, wide_name) : load_from_file(input, wide_name);
  if (result.status != kOk) std::cerr << kFileNotFound;
  return result;
}

}  // namespace quorvel
