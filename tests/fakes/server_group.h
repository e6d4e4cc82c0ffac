// A sound server for the tests, started as a process group of its own in a
// session of its own, so that it is ended as a whole when the object goes
// (asked first, then made to), with its output in a file, so that none of
// it holds the test runner's output open.
#pragma once

#include <sys/types.h>

#include <map>
#include <string>
#include <vector>

namespace quorvel::testing {

class ServerGroup {
 public:
  ServerGroup() = default;
  ~ServerGroup();
  ServerGroup(const ServerGroup&) = delete;
  ServerGroup& operator=(const ServerGroup&) = delete;

  // Starts `argv` (its program looked up on PATH) with the test runner's
  // environment changed by `env` (an empty value removes the variable),
  // standard input from /dev/null and its output to the file `log`. False
  // when it could not be started.
  bool start(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env,
             const std::string& log);

 private:
  pid_t group_ = -1;
};

}  // namespace quorvel::testing
