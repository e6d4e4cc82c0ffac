// A private PulseAudio 16 daemon for the tests, run from Debian's package
// unpacked into the build folder (unpack_pulseaudio.sh), never installed:
// the package would take pipewire-alsa away. It runs with its own runtime
// folder and home, in a process group of its own ended as a whole when the
// object goes, loads nothing but its native protocol (clients reach it as
// server()) and the modules the tests load with pactl, and writes its output
// to a file in its folder.
#pragma once

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "fakes/server_group.h"
#include "support/test_util.h"

namespace quorvel::testing {

class PulseAudioServer {
 public:
  // Why the daemon cannot run on this machine (a program or library
  // missing, the package not to be had), or "" when it can. Unpacks the
  // package at the first call.
  static std::string missing_parts();

  // Starts the daemon and waits until `pactl info` answers; started() says
  // whether it did, and failure() why not.
  PulseAudioServer();
  ~PulseAudioServer();
  PulseAudioServer(const PulseAudioServer&) = delete;
  PulseAudioServer& operator=(const PulseAudioServer&) = delete;

  bool started() const { return failure_.empty(); }
  const std::string& failure() const { return failure_; }

  // The libpulse server string of the daemon ("unix:/.../native").
  std::string server() const;
  // The environment of a client of this daemon: its runtime folder and
  // home, with PULSE_SERVER unset.
  std::map<std::string, std::string> env() const;

  // Runs pactl with `args`; a test failure when it fails. Returns its output.
  std::string pactl(const std::vector<std::string>& args) const;
  ProgramResult try_pactl(const std::vector<std::string>& args) const;

  // The daemon's output so far (for a failing test's message).
  std::string log() const;

 private:
  TempDir dir_;
  ServerGroup group_;  // ended before its folder goes
  std::string failure_;
};

}  // namespace quorvel::testing
