// A private PipeWire sound server for the tests: PipeWire, WirePlumber and
// PipeWire's PulseAudio server, started under a D-Bus session of their own,
// with their own runtime folder and home, so that nothing of the machine's
// (or a user's) sound server is touched. ALSA clients given env() reach its
// mixer through the machine's pipewire-alsa plugin ("default"), pactl
// through its Pulse server.
//
// The daemons run in a process group of their own, which is ended as a
// whole when the object goes; their output goes to a file in the server's
// folder, so that none of them holds the test runner's output open.
#pragma once

#include <chrono>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "fakes/server_group.h"
#include "support/test_util.h"

namespace quorvel::testing {

class PipeWireServer : public PrivateSoundServer {
 public:
  // Why the server cannot run on this machine (a package missing), or ""
  // when it can.
  static std::string missing_parts();

  // Starts the daemons and waits until `pactl info` answers and WirePlumber
  // keeps the defaults; started() says whether it did, and failure() why not.
  PipeWireServer();
  ~PipeWireServer();

 protected:
  void start_daemons() override;
};

}  // namespace quorvel::testing
