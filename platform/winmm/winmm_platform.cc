// Windows: the machine's mixer is the Windows multimedia mixer (winmm).
#include "platform/mixer/platform_mixer.h"
#include "platform/winmm/winmm_mixer.h"

namespace quorvel {

Result open_platform_mixer(std::string_view spec, std::unique_ptr<MixerService>& out) {
  out.reset();
  if (spec.empty()) {
    // The service itself tells whether the machine has any mixer device.
    out = std::make_unique<WinmmMixer>();
    return Result();
  }
  const std::string_view kind = spec.substr(0, spec.find(':'));
  return Result::failure("unknown mixer kind \"" + std::string(kind) +
                         "\" (use sim:PATH; the Windows mixer is the default)");
}

}  // namespace quorvel
