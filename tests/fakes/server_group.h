// A sound server for the tests, started as a process group of its own in a
// session of its own, so that it is ended as a whole when the object goes
// (asked first, then made to), with its output in a file, so that none of
// it holds the test runner's output open.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <string>
#include <thread>
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
  // Ends the group as the destructor does (asked first, then made to).
  void stop();

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

// What the private sound servers of the tests share: a folder of their own
// (runtime folder, home, the daemons' log), the process group of their
// daemons, pactl run as their client, and the reason they did not start.
// Waits until `done` answers true, trying every 50 ms for at most `limit`.
template <typename Done>
bool wait_until(Done done, std::chrono::milliseconds limit = std::chrono::seconds(10)) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return true;
}

class PrivateSoundServer {
 public:
  PrivateSoundServer(const PrivateSoundServer&) = delete;
  PrivateSoundServer& operator=(const PrivateSoundServer&) = delete;

  bool started() const { return failure_.empty(); }
  const std::string& failure() const { return failure_; }

  // The environment of a client of this server: its runtime folder and
  // home, with the machine's own server variables unset.
  std::map<std::string, std::string> env() const { return private_server_env(dir_.path(), more_env_); }

  // Runs pactl with `args`; a test failure when it fails. Returns its output.
  std::string pactl(const std::vector<std::string>& args) const {
    return pactl_output(env(), args);
  }
  ProgramResult try_pactl(const std::vector<std::string>& args) const {
    return run_pactl(env(), args);
  }

  // The daemons' output so far (for a failing test's message).
  std::string log() const { return read_log(log_file()); }

  // Ends the daemons and starts them again in the same folder, as a
  // restarted server: clients reach it where they did. Whether it answers
  // again (failure() says why not); what the tests loaded is gone.
  bool restart() {
    group_.stop();
    failure_.clear();
    start_daemons();
    return started();
  }

 protected:
  // `more_env`: what a client's environment changes beyond the server's own.
  explicit PrivateSoundServer(std::map<std::string, std::string> more_env = {})
      : more_env_(std::move(more_env)) {}
  virtual ~PrivateSoundServer() = default;

  // Starts the daemons and waits until they answer, setting failure_ when
  // they do not; each server's constructor calls it.
  virtual void start_daemons() = 0;

  std::filesystem::path log_file() const { return dir_ / "daemons.log"; }

  // Starts the daemons (`argv` in `daemon_env`, their output to the log)
  // and waits up to `limit` for pactl to get an answer. False, with
  // failure_ saying why (`name` the server as the message names it), when
  // they do not start or answer.
  bool start_and_wait(const std::vector<std::string>& argv,
                      const std::map<std::string, std::string>& daemon_env,
                      const std::string& name, std::chrono::seconds limit);

  TempDir dir_;
  ServerGroup group_;  // ended before its folder goes
  std::string failure_;

 private:
  std::map<std::string, std::string> more_env_;
};

// The raw volumes of `pactl get-sink-volume` or `get-source-volume`, in
// channel order ("front-left: 10000 /  15% / ...").
std::vector<long> volumes_in(const std::string& pactl_output);

}  // namespace quorvel::testing
