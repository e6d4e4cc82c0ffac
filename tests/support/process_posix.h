// POSIX only: the real program started without waiting for it, for tests of
// concurrent runs and of runs killed part-way.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace quorvel::testing {

// A started program; its standard output and error go to files in the
// folder it runs in (`out_file`, `err_file`). Safe to call from any thread:
// the child gets its environment and folder without running code of the
// parent after the fork.
class StartedProgram {
 public:
  StartedProgram(const std::vector<std::string>& args, const std::map<std::string, std::string>& env,
                 const std::filesystem::path& cwd, const std::string& out_file,
                 const std::string& err_file);
  ~StartedProgram();
  StartedProgram(const StartedProgram&) = delete;
  StartedProgram& operator=(const StartedProgram&) = delete;

  pid_t pid() const { return pid_; }
  // Waits for the end; the exit status, or 128 + the signal that ended it.
  int wait();
  // Sends SIGKILL.
  void kill();

 private:
  pid_t pid_ = -1;
  int status_ = -1;
};

// The paths of the files the process has open (from /proc).
std::vector<std::string> open_files(pid_t pid);

}  // namespace quorvel::testing
