// The component type of an ALSA element's source line, from its name.
#pragma once

#include <cstdint>
#include <string>

namespace quorvel {

// The component type of a source line named `name` (case-insensitive, by
// whole words, a word may carry a number: "Front Mic", "Mic2").
std::uint32_t alsa_source_component_type(const std::string& name);

}  // namespace quorvel
