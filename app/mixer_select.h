// Choosing the mixer back-end from the QUORVEL_MIXER environment variable.
#pragma once

#include <memory>
#include <optional>
#include <span>
#include <string>

#include "common/result.h"
#include "platform/mixer/mixer_registration.h"

namespace quorvel {

inline constexpr const char* kMixerVariable = "QUORVEL_MIXER";

// The mixer back-ends of this build, in order of preference
// (mixer_backends.cc).
std::span<const MixerRegistration> mixer_backends();

// Opens the mixer `value`, the variable's value, names:
//   unset or empty  the machine's mixer: the first back-end, in order, that
//                   finds one of its own (null when none does, and what
//                   kept a back-end from looking is reported); a
//                   back-end that claims the machine fails the whole when it
//                   cannot open
//   KIND:NAME       the mixer NAME of the back-end KIND (sim:PATH: the
//                   simulated device described by the mixer document PATH)
//   KIND            the back-end KIND's own default mixer, for those that
//                   have one (pulse: the user's sound server)
// Fails, naming the variable, the value and the reason, when the value is
// not usable. What a back-end says as it opens goes to `reporter`.
MixerOpening open_mixer(const std::optional<std::string>& value, Reporter& reporter);
// The same among `backends`.
MixerOpening open_mixer(std::span<const MixerRegistration> backends,
                        const std::optional<std::string>& value, Reporter& reporter);

}  // namespace quorvel
