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

class PulseAudioServer : public PrivateSoundServer {
 public:
  // Why the daemon cannot run on this machine (a program or library
  // missing, the package not to be had), or "" when it can. Unpacks the
  // package at the first call.
  static std::string missing_parts();

  // Starts the daemon and waits until `pactl info` answers; started() says
  // whether it did, and failure() why not.
  PulseAudioServer();
  ~PulseAudioServer();

  // The libpulse server string of the daemon ("unix:/.../native").
  std::string server() const;

 protected:
  void start_daemons() override;
};

}  // namespace quorvel::testing
