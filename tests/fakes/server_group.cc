#include "fakes/server_group.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <regex>
#include <cstring>
#include <thread>

extern char** environ;

namespace quorvel::testing {
namespace {

constexpr auto kStopLimit = std::chrono::seconds(5);

}  // namespace

bool ServerGroup::start(const std::vector<std::string>& argv,
                        const std::map<std::string, std::string>& env, const std::string& log) {
  // Everything the child needs is made before the fork: it only calls
  // what is safe there.
  std::vector<std::string> variables;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string text = *entry;
    if (env.count(text.substr(0, text.find('='))) == 0) variables.push_back(text);
  }
  for (const auto& [name, value] : env) {
    if (!value.empty()) variables.push_back(name + "=" + value);
  }
  std::vector<char*> envp;
  for (std::string& variable : variables) envp.push_back(variable.data());
  envp.push_back(nullptr);
  std::vector<std::string> args = argv;
  std::vector<char*> arg_pointers;
  for (std::string& arg : args) arg_pointers.push_back(arg.data());
  arg_pointers.push_back(nullptr);

  group_ = fork();
  if (group_ < 0) return false;
  if (group_ == 0) {
    setsid();
    const int null_in = open("/dev/null", O_RDONLY);
    const int out = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (null_in < 0 || out < 0) _exit(126);
    dup2(null_in, 0);
    dup2(out, 1);
    dup2(out, 2);
    for (int fd = 3; fd < 1024; ++fd) close(fd);
    execvpe(arg_pointers[0], arg_pointers.data(), envp.data());
    _exit(127);
  }
  return true;
}

ServerGroup::~ServerGroup() { stop(); }

void ServerGroup::stop() {
  if (group_ <= 0) return;
  kill(-group_, SIGTERM);
  const auto deadline = std::chrono::steady_clock::now() + kStopLimit;
  int status = 0;
  while (waitpid(group_, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      kill(-group_, SIGKILL);
      waitpid(group_, &status, 0);
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  // The leader is gone; whatever of the group is left goes too.
  kill(-group_, SIGKILL);
  group_ = -1;
}

std::map<std::string, std::string> private_server_env(const std::filesystem::path& dir,
                                                      std::map<std::string, std::string> more) {
  std::map<std::string, std::string> env{
      {"XDG_RUNTIME_DIR", (dir / "run").string()},
      {"HOME", (dir / "home").string()},
      {"XDG_CONFIG_HOME", (dir / "home" / ".config").string()},
      {"XDG_STATE_HOME", (dir / "home" / ".local" / "state").string()},
      {"PIPEWIRE_RUNTIME_DIR", ""},
      {"PULSE_SERVER", ""}};
  env.merge(more);
  return env;
}

ProgramResult run_pactl(const std::map<std::string, std::string>& env,
                        const std::vector<std::string>& args) {
  std::vector<std::string> argv{"pactl"};
  argv.insert(argv.end(), args.begin(), args.end());
  return run_command(argv, env);
}

std::string pactl_output(const std::map<std::string, std::string>& env,
                         const std::vector<std::string>& args) {
  ProgramResult result = run_pactl(env, args);
  std::string command = "pactl";
  for (const std::string& arg : args) command += " " + arg;
  EXPECT_EQ(result.exit_code, 0) << command << ": " << result.err;
  return result.out;
}

std::string read_log(const std::filesystem::path& file) {
  try {
    return read_file(file);
  } catch (const std::exception&) {
    return "";
  }
}

std::vector<long> volumes_in(const std::string& pactl_output) {
  static const std::regex channel(R"(([a-z][a-z0-9-]*): (\d+) /)");
  std::vector<long> values;
  for (auto it = std::sregex_iterator(pactl_output.begin(), pactl_output.end(), channel);
       it != std::sregex_iterator(); ++it) {
    values.push_back(std::stol((*it)[2].str()));
  }
  return values;
}

bool PrivateSoundServer::start_and_wait(const std::vector<std::string>& argv,
                                        const std::map<std::string, std::string>& daemon_env,
                                        const std::string& name, std::chrono::seconds limit) {
  if (!group_.start(argv, daemon_env, log_file().string())) {
    failure_ = "fork failed";
    return false;
  }
  if (!wait_until([this] { return try_pactl({"info"}).exit_code == 0; }, limit)) {
    failure_ = name + " did not answer pactl within " + std::to_string(limit.count()) +
               " s; its output:\n" + log();
    return false;
  }
  return true;
}

}  // namespace quorvel::testing
