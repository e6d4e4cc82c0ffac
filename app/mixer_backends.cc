// The mixer back-ends this build knows, in order of preference: with
// QUORVEL_MIXER unset, the first of those that can be the machine's mixer
// and finds one is used. The list is the build's (QUORVEL_MIXER_BACKENDS in
// the root CMakeLists.txt, which says why this order), one QUORVEL_BACKEND
// line per back-end; each registration is defined in the back-end's own
// folder (platform/KIND).
#include "app/mixer_select.h"

namespace quorvel {

#define QUORVEL_BACKEND(kind) MixerRegistration kind##_mixer_registration();
#include "mixer_backends.inc"
#undef QUORVEL_BACKEND

std::span<const MixerRegistration> mixer_backends() {
  static const MixerRegistration backends[] = {
#define QUORVEL_BACKEND(kind) kind##_mixer_registration(),
#include "mixer_backends.inc"
#undef QUORVEL_BACKEND
  };
  return backends;
}

}  // namespace quorvel
