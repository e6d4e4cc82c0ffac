// The machine's own mixer service. Declared here for the program; defined by
// the back-end of the platform being built (platform/alsa on Linux,
// platform/winmm on Windows), which CMake links in.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "common/result.h"
#include "platform/mixer/mixer.h"

namespace quorvel {

// Opens the platform's mixer service. `spec` is empty for the platform's
// default, or "KIND:NAME" for a named device of a platform back-end (such
// as "alsa:hw:1"). Fails, saying why, when `spec` names nothing this
// platform knows or the device cannot be opened. `out` may be left null on
// success: the machine has no mixer.
Result open_platform_mixer(std::string_view spec, std::unique_ptr<MixerService>& out);

}  // namespace quorvel
