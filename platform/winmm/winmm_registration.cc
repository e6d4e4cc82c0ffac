// The machine's mixer on Windows: the Windows multimedia mixer (winmm).
#include "platform/winmm/winmm_mixer.h"
#include "platform/mixer/mixer_registration.h"

namespace quorvel {
namespace {

// The service itself tells whether the machine has any mixer device.
Result open_default(Reporter&, std::unique_ptr<OpenedMixer>& out) {
  out = opened_mixer(std::make_unique<WinmmMixer>());
  return Result();
}

}  // namespace

// The machine's mixer on Windows; it cannot be named.
MixerRegistration winmm_mixer_registration() {
  return MixerRegistration{"winmm", nullptr, nullptr, open_default};
}

}  // namespace quorvel
