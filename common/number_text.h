// Numbers as a mixer document writes them: signed radix-10 32-bit integers.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quorvel {

// Signed radix-10 text of a 32-bit quantity ("-65536" for 0xFFFF0000).
std::string int_text(std::int32_t value);

// Reads text the way the document's numbers are read back: leading white
// space is skipped, an optional sign taken, then decimal digits up to the
// first other character. Returns nothing when no digit follows; values
// beyond the 32-bit range saturate.
std::optional<std::int32_t> parse_int_strict(std::string_view text);

// As parse_int_strict, but text without leading digits reads as 0.
std::int32_t parse_int(std::string_view text);

}  // namespace quorvel
