// Windows: the machine's mixer is the Windows multimedia mixer (winmm), and
// the no-mixer message is a message box.
#include <windows.h>

#include "platform/platform_mixer.h"
#include "platform/winmm_mixer.h"

namespace quorvel {

bool open_platform_mixer(std::string_view spec, std::unique_ptr<MixerService>& out,
                         std::string& error) {
  out.reset();
  if (spec.empty()) {
    // The service itself tells whether the machine has any mixer device.
    out = std::make_unique<WinmmMixer>();
    return true;
  }
  const std::string_view kind = spec.substr(0, spec.find(':'));
  error = "unknown mixer kind \"" + std::string(kind) +
          "\" (use sim:PATH; the Windows mixer is the default)";
  return false;
}

void show_message(const char* text, const char* title) {
  MessageBoxA(nullptr, text, title, MB_OK);
}

}  // namespace quorvel
