// A sound server for the tests, started as a process group of its own in a
// session of its own, so that it is ended as a whole when the object goes
// (asked first, then made to), with its output in a file, so that none of
// it holds the test runner's output open.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "support/test_util.h"

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

// The environment a client of a private server gets: its runtime folder and
// home under `dir`, nothing of the machine's own server, and `more`.
std::map<std::string, std::string> private_server_env(const std::filesystem::path& dir,
                                                      std::map<std::string, std::string> more = {});

// Runs pactl with `args` in the environment `env` changes.
ProgramResult run_pactl(const std::map<std::string, std::string>& env,
                        const std::vector<std::string>& args);
// The same; a test failure when pactl fails. Returns its output.
std::string pactl_output(const std::map<std::string, std::string>& env,
                         const std::vector<std::string>& args);

// The text of a daemon's log file; "" when it cannot be read.
std::string read_log(const std::filesystem::path& file);

}  // namespace quorvel::testing
