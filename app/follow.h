// Following a profile: `quorvel --follow PROFILE` applies the profile to a
// sound server as a restore does, then stays, and applies again each part
// of it whose line or application appears (a headset plugged in, a program
// started), saying so in one line on standard error. It reconnects when
// the server restarts, reads the profile again when its file changes (a URL
// at each reconnect), and ends on SIGINT or SIGTERM.
#pragma once

#include <optional>
#include <string>

#include "app/options.h"

namespace quorvel {

// Follows the profile the options name on the mixer QUORVEL_MIXER names
// (`mixer_value`, as open_mixer takes it). Returns the exit status: 0 when
// ended by a signal; 1, before anything is applied, when the profile does
// not load or the mixer is not a sound server.
int follow_profile(const Options& options, const std::optional<std::string>& mixer_value);

}  // namespace quorvel
