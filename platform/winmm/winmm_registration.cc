// The machine's mixer on Windows: the Windows multimedia mixer (winmm).
#include "platform/winmm/winmm_mixer.h"
#include "platform/mixer/mixer_registration.h"

namespace quorvel {
namespace {

// The service itself tells whether the machine has any mixer device.
MixerOpening open_default(Reporter&) { return opened_mixer(std::make_unique<WinmmMixer>()); }

}  // namespace

// The machine's mixer on Windows; it cannot be named.
MixerRegistration winmm_mixer_registration() {
  return MixerRegistration{"winmm", nullptr, nullptr, open_default};
}

}  // namespace quorvel
