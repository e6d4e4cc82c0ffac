// The mixer back-ends this build knows, in order of preference: with
// QUORVEL_MIXER unset, the first of those that can be the machine's mixer
// and finds one is used. One line per back-end, each registration defined
// in the back-end's own folder (platform/KIND).
#include "app/mixer_select.h"

namespace quorvel {

MixerRegistration sim_mixer_registration();
MixerRegistration pulse_mixer_registration();
MixerRegistration alsa_mixer_registration();
MixerRegistration winmm_mixer_registration();

std::span<const MixerRegistration> mixer_backends() {
  static const MixerRegistration backends[] = {
      sim_mixer_registration(),
#ifdef _WIN32
      winmm_mixer_registration(),
#else
      // A sound server that answers owns the machine's cards and its mixer
      // is the one its users see; without one, the cards.
      pulse_mixer_registration(),
      alsa_mixer_registration(),
#endif
  };
  return backends;
}

}  // namespace quorvel
