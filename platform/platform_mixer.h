// The machine's own mixer service, and the message shown when there is none.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "platform/mixer.h"

namespace quorvel {

// Opens the platform's mixer service. `spec` is empty for the platform's
// default, or "KIND:NAME" for a named device of a platform back-end (such
// as "alsa:hw:1"). Returns false with `error` set when `spec` names nothing
// this platform knows or the device cannot be opened. `out` may be left
// null on success: the machine has no mixer.
bool open_platform_mixer(std::string_view spec, std::unique_ptr<MixerService>& out,
                         std::string& error);

// Shows the user a message with a title: a message box where the platform
// has one, else one line "TITLE: TEXT" on standard error.
void show_message(const char* text, const char* title);

}  // namespace quorvel
