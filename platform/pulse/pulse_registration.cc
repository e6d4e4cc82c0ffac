// QUORVEL_MIXER=pulse and pulse:SERVER, and the machine's mixer on Linux
// where a sound server answers.
#include <sys/stat.h>

#include <cstdlib>

#include "platform/mixer/mixer_registration.h"
#include "platform/pulse/pulse_client.h"
#include "platform/pulse/pulse_mixer.h"

namespace quorvel {
namespace {

std::string variable(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

// The sound server the machine names, as a libpulse server string: the
// PULSE_SERVER variable, else the socket of the user's server in the
// runtime folder where there is one (as libpulse looks for it); empty when
// nothing names one.
std::string named_server() {
  if (std::string server = variable("PULSE_SERVER"); !server.empty()) return server;
  std::string folder = variable("PULSE_RUNTIME_PATH");
  if (folder.empty()) {
    const std::string runtime = variable("XDG_RUNTIME_DIR");
    if (runtime.empty()) return {};
    folder = runtime + "/pulse";
  }
  const std::string socket = folder + "/native";
  struct stat status {};
  if (stat(socket.c_str(), &status) != 0 || !S_ISSOCK(status.st_mode)) return {};
  return "unix:" + socket;
}

bool claims_machine() { return !named_server().empty(); }

MixerOpening open_named(const std::string& server, Reporter&) {
  Expected<std::unique_ptr<Mixer>> opened = open_pulse_mixer(server);
  if (!opened) return opened.error();
  return opened_mixer(std::move(opened).value());
}

// QUORVEL_MIXER=pulse: the user's server, as libpulse finds it.
MixerOpening open_bare(Reporter& reporter) { return open_named("", reporter); }

// The user's sound server, when one answers. One that the machine names
// (claims_machine) is the machine's mixer, and its failure, which names it,
// the run's. None named and none running is no server mixer, said only when
// no other mixer is found either; so is one that does not answer within the
// bound, which is said, since it cost the wait.
MixerOpening open_default(Reporter&) {
  const std::string named = named_server();
  Expected<std::unique_ptr<Mixer>> opened = open_pulse_mixer(named);
  if (!opened) {
    if (!named.empty()) return opened.error();
    if (opened.kind() == pulse::kPulseServerAbsent) return MixerOpening(nullptr);
    return Error{"no sound server mixer: " + opened.message()};
  }
  return opened_mixer(std::move(opened).value());
}

}  // namespace

MixerRegistration pulse_mixer_registration() {
  MixerRegistration registration{"pulse", "SERVER, a sound server (as in PULSE_SERVER)",
                                 open_named, open_default};
  registration.open_bare = open_bare;
  registration.claims_machine = claims_machine;
  return registration;
}

}  // namespace quorvel
