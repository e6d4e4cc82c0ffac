// QUORVEL_MIXER=alsa:NAME, and the machine's mixer on Linux.
#include "platform/alsa/alsa_mixer.h"
#include "platform/mixer/mixer_registration.h"

namespace quorvel {
namespace {

constexpr const char* kDefaultDevice = "default";

Result open_named(const std::string& name, Reporter&, std::unique_ptr<OpenedMixer>& out) {
  std::unique_ptr<Mixer> service;
  Result opened = open_alsa_mixer(name, service);
  if (opened) out = opened_mixer(std::move(service));
  return opened;
}

// ALSA's plugins that lead to a sound server: with QUORVEL_MIXER unset the
// server is reached through its own back-end only, which knows which server
// it talks to and bounds every wait, never through these.
bool leads_to_sound_server(const std::string& type) { return type == "pulse" || type == "pipewire"; }

// The machine's sound cards; without one, ALSA's default control device
// when it opens and is not a sound server's plugin. Neither means no ALSA
// mixer, and so does a machine without alsa-lib, which is said.
Result open_default(Reporter&, std::unique_ptr<OpenedMixer>& out) {
  if (Result loaded = load_alsa(); !loaded) {
    return Result::failure("no ALSA mixer: " + loaded.message());
  }
  std::vector<std::string> cards = alsa_card_devices();
  std::unique_ptr<Mixer> service;
  if (!cards.empty()) {
    service = make_alsa_mixer(std::move(cards));
  } else if (leads_to_sound_server(alsa_control_type(kDefaultDevice)) ||
             !open_alsa_mixer(kDefaultDevice, service)) {
    service.reset();
  }
  out = opened_mixer(std::move(service));
  return Result();
}

// QUORVEL_MIXER=alsa: ALSA's default control device.
Result open_bare(Reporter& reporter, std::unique_ptr<OpenedMixer>& out) {
  return open_named(kDefaultDevice, reporter, out);
}

}  // namespace

// alsa:NAME, and the machine's mixer on Linux.
MixerRegistration alsa_mixer_registration() {
  MixerRegistration registration{"alsa", "NAME, an ALSA control device", open_named,
                                 open_default};
  registration.open_bare = open_bare;
  return registration;
}

}  // namespace quorvel
