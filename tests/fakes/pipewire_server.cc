#include "fakes/pipewire_server.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <thread>

namespace quorvel::testing {
namespace {

// The programs and files the server needs, each with the Debian package
// that brings it.
struct Part {
  const char* path;
  const char* package;
};

constexpr Part kParts[] = {
    {"/usr/bin/pipewire", "pipewire"},
    {"/usr/bin/wireplumber", "wireplumber"},
    {"/usr/bin/pipewire-pulse", "pipewire-pulse"},
    {"/usr/bin/pactl", "pulseaudio-utils"},
    {"/usr/bin/dbus-run-session", "dbus"},
    {"/etc/alsa/conf.d/99-pipewire-default.conf", "pipewire-alsa"},
};

constexpr auto kStartLimit = std::chrono::seconds(30);
constexpr auto kStopLimit = std::chrono::seconds(5);

// Ends the process group `group` whose leader is `group`: asks first, then
// insists.
void end_group(pid_t group) {
  kill(-group, SIGTERM);
  const auto deadline = std::chrono::steady_clock::now() + kStopLimit;
  int status = 0;
  while (waitpid(group, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      kill(-group, SIGKILL);
      waitpid(group, &status, 0);
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  // The leader is gone; whatever of the group is left goes too.
  kill(-group, SIGKILL);
}

}  // namespace

std::string PipeWireServer::missing_parts() {
  std::string missing;
  for (const Part& part : kParts) {
    if (access(part.path, F_OK) == 0) continue;
    if (!missing.empty()) missing += ", ";
    missing += std::string(part.path) + " (package " + part.package + ")";
  }
  return missing;
}

PipeWireServer::PipeWireServer() {
  const std::filesystem::path run = dir_ / "run";
  const std::filesystem::path home = dir_ / "home";
  std::filesystem::create_directories(run);
  std::filesystem::create_directories(home);
  // PipeWire wants its runtime folder to be the user's alone.
  chmod(run.c_str(), 0700);
  const std::string log_path = (dir_ / "daemons.log").string();

  group_ = fork();
  if (group_ < 0) {
    failure_ = "fork failed";
    return;
  }
  if (group_ == 0) {
    // A session and process group of its own, ended as a whole; output to
    // the log file, nothing inherited from the test runner.
    setsid();
    int null_in = open("/dev/null", O_RDONLY);
    int log = open(log_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (null_in < 0 || log < 0) _exit(126);
    dup2(null_in, 0);
    dup2(log, 1);
    dup2(log, 2);
    for (int fd = 3; fd < 1024; ++fd) close(fd);
    for (const auto& [name, value] : env()) {
      if (value.empty()) {
        unsetenv(name.c_str());
      } else {
        setenv(name.c_str(), value.c_str(), 1);
      }
    }
    unsetenv("DBUS_SESSION_BUS_ADDRESS");
    unsetenv("DISPLAY");
    unsetenv("WAYLAND_DISPLAY");
    execlp("dbus-run-session", "dbus-run-session", "--", "sh", "-c",
           "pipewire & sleep 1; wireplumber & pipewire-pulse & wait", static_cast<char*>(nullptr));
    _exit(127);
  }

  const bool answered =
      wait_until([this] { return try_pactl({"info"}).exit_code == 0; }, kStartLimit);
  if (!answered) {
    failure_ = "the PipeWire server did not answer pactl within " +
               std::to_string(kStartLimit.count()) + " s; its output:\n" + log();
  }
}

PipeWireServer::~PipeWireServer() {
  if (group_ > 0) end_group(group_);
}

std::map<std::string, std::string> PipeWireServer::env() const {
  return {{"XDG_RUNTIME_DIR", (dir_ / "run").string()},
          {"HOME", (dir_ / "home").string()},
          {"XDG_CONFIG_HOME", (dir_ / "home" / ".config").string()},
          {"XDG_STATE_HOME", (dir_ / "home" / ".local" / "state").string()},
          {"PIPEWIRE_RUNTIME_DIR", ""},
          {"PULSE_SERVER", ""},
          {"ALSA_CONFIG_PATH", ""}};
}

ProgramResult PipeWireServer::try_pactl(const std::vector<std::string>& args) const {
  std::vector<std::string> argv{"pactl"};
  argv.insert(argv.end(), args.begin(), args.end());
  return run_command(argv, env());
}

std::string PipeWireServer::pactl(const std::vector<std::string>& args) const {
  ProgramResult result = try_pactl(args);
  std::string command = "pactl";
  for (const std::string& arg : args) command += " " + arg;
  EXPECT_EQ(result.exit_code, 0) << command << ": " << result.err;
  return result.out;
}

std::string PipeWireServer::log() const {
  try {
    return read_file(dir_ / "daemons.log");
  } catch (const std::exception&) {
    return "";
  }
}

}  // namespace quorvel::testing
