// QUORVEL_MIXER=alsa:NAME, and the machine's mixer on Linux.
#include "platform/alsa/alsa_mixer.h"
#include "platform/mixer/mixer_registration.h"

namespace quorvel {
namespace {

constexpr const char* kDefaultDevice = "default";

MixerOpening open_named(const std::string& name, Reporter&) {
  Expected<std::unique_ptr<Mixer>> opened = open_alsa_mixer(name);
  if (!opened) return opened.error();
  return opened_mixer(std::move(opened).value());
}

// ALSA's plugins that lead to a sound server: with QUORVEL_MIXER unset the
// server is reached through its own back-end only, which knows which server
// it talks to and bounds every wait, never through these.
bool leads_to_sound_server(const std::string& type) { return type == "pulse" || type == "pipewire"; }

// The machine's sound cards; without one, ALSA's default control device
// when it opens and is not a sound server's plugin. Neither means no ALSA
// mixer, and so does a machine without alsa-lib, which is said.
MixerOpening open_default(Reporter&) {
  if (Result loaded = load_alsa(); !loaded) {
    return Error{"no ALSA mixer: " + loaded.message()};
  }
  std::vector<std::string> cards = alsa_card_devices();
  if (!cards.empty()) return opened_mixer(make_alsa_mixer(std::move(cards)));
  if (leads_to_sound_server(alsa_control_type(kDefaultDevice))) return MixerOpening(nullptr);
  Expected<std::unique_ptr<Mixer>> opened = open_alsa_mixer(kDefaultDevice);
  if (!opened) return MixerOpening(nullptr);
  return opened_mixer(std::move(opened).value());
}

// QUORVEL_MIXER=alsa: ALSA's default control device.
MixerOpening open_bare(Reporter& reporter) { return open_named(kDefaultDevice, reporter); }

}  // namespace

// alsa:NAME, and the machine's mixer on Linux.
MixerRegistration alsa_mixer_registration() {
  MixerRegistration registration{"alsa", "NAME, an ALSA control device", open_named,
                                 open_default};
  registration.open_bare = open_bare;
  return registration;
}

}  // namespace quorvel
