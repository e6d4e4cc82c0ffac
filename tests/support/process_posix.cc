#include "support/process_posix.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "support/test_util.h"

extern char** environ;

namespace quorvel::testing {

StartedProgram::StartedProgram(const std::vector<std::string>& args,
                               const std::map<std::string, std::string>& env,
                               const std::filesystem::path& cwd, const std::string& out_file,
                               const std::string& err_file) {
  // The environment: the parent's, with `env` applied (an empty value
  // removes the variable) and QUORVEL_MIXER removed unless set.
  std::map<std::string, std::string> variables;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const char* equals = std::strchr(*entry, '=');
    if (equals != nullptr) variables[std::string(*entry, static_cast<std::size_t>(equals - *entry))] = equals + 1;
  }
  variables.erase("QUORVEL_MIXER");
  for (const auto& [name, value] : env) {
    if (value.empty()) {
      variables.erase(name);
    } else {
      variables[name] = value;
    }
  }
  std::vector<std::string> entries;
  for (const auto& [name, value] : variables) entries.push_back(name + "=" + value);
  std::vector<char*> envp;
  for (std::string& entry : entries) envp.push_back(entry.data());
  envp.push_back(nullptr);

  std::vector<std::string> argv_text{quorvel_binary().string()};
  argv_text.insert(argv_text.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& arg : argv_text) argv.push_back(arg.data());
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addchdir_np(&actions, cwd.c_str());
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, out_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0644);
  posix_spawn_file_actions_addopen(&actions, 2, err_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0644);
  int error = posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (error != 0) throw std::runtime_error(std::string("posix_spawn: ") + std::strerror(error));
}

StartedProgram::~StartedProgram() {
  if (status_ < 0 && pid_ > 0) {
    kill();
    wait();
  }
}

int StartedProgram::wait() {
  if (status_ >= 0) return status_;
  int status = 0;
  while (waitpid(pid_, &status, 0) < 0) {
    if (errno != EINTR) return status_ = 255;
  }
  status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return status_;
}

void StartedProgram::kill() {
  if (status_ < 0) ::kill(pid_, SIGKILL);
}

std::vector<std::string> open_files(pid_t pid) {
  std::vector<std::string> files;
  std::error_code error;
  const std::filesystem::path folder = "/proc/" + std::to_string(pid) + "/fd";
  for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
    std::error_code link_error;
    std::filesystem::path target = std::filesystem::read_symlink(entry.path(), link_error);
    if (!link_error) files.push_back(target.string());
  }
  return files;
}

}  // namespace quorvel::testing
