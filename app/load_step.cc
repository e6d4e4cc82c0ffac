#include "app/load_step.h"

#include <iostream>

namespace quorvel {

// Loading documents is not built yet: a file name is refused.
LoadStepResult run_load_step(InputDocument&, const std::string& file_name, bool, bool) {
  std::cerr << "quorvel: error: loading a mixer document (" << file_name
            << ") is not supported yet\n";
  return LoadStepResult{kFail, true};
}

}  // namespace quorvel
