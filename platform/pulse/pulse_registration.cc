// QUORVEL_MIXER=pulse and pulse:SERVER, and the machine's mixer on Linux
// where a sound server answers.
#include "platform/mixer/mixer_registration.h"
#include "platform/pulse/pulse_mixer.h"

namespace quorvel {
namespace {

Result open_named(const std::string& server, std::unique_ptr<OpenedMixer>& out) {
  std::unique_ptr<MixerService> service;
  Result opened = open_pulse_mixer(server, service);
  if (opened) out = opened_service(std::move(service));
  return opened;
}

// QUORVEL_MIXER=pulse: the user's server, as libpulse finds it.
Result open_bare(std::unique_ptr<OpenedMixer>& out) { return open_named("", out); }

// The user's sound server, when one answers. None running is no server
// mixer, said only when no other mixer is found either; so is one that
// does not answer within the bound, which is said, since it cost the wait.
Result open_default(std::unique_ptr<OpenedMixer>& out) {
  std::unique_ptr<MixerService> service;
  bool absent = false;
  Result opened = open_pulse_mixer("", service, &absent);
  if (!opened) {
    return absent ? Result() : Result::failure("no sound server mixer: " + opened.message());
  }
  out = opened_service(std::move(service));
  return Result();
}

}  // namespace

MixerRegistration pulse_mixer_registration() {
  MixerRegistration registration{"pulse", "SERVER, a sound server (as in PULSE_SERVER)",
                                 open_named, open_default};
  registration.open_bare = open_bare;
  return registration;
}

}  // namespace quorvel
