// Numbers as a mixer document writes them: signed radix-10 32-bit integers.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quorvel {

// Signed radix-10 text of a 32-bit quantity ("-65536" for 0xFFFF0000).
std::string int_text(std::int32_t value);

// Reads a value that is to be written to the mixer: white space, an
// optional sign, decimal digits, white space, and nothing else. The number
// must fit in 32 bits: from -2147483648 up to 4294967295, where what is
// beyond the signed range reads as the same 32 bits ("4294967295" is -1,
// the unsigned quantity that a document writes as "-1"). Anything else
// (no digits, "0x10", "1.5", "1e400", "5abc", too many digits) is nothing.
std::optional<std::int32_t> parse_int_strict(std::string_view text);

// Reads text the lenient way attribute values were always read (and still
// are where they pair elements, since documents in the wild may rely on
// it): leading white space skipped, an optional sign, the decimal digits up
// to the first other character; values beyond the signed 32-bit range
// saturate, and text without leading digits reads as 0.
std::int32_t parse_int(std::string_view text);

// As parse_int, for a quantity a document may write signed or unsigned: the
// leading number as 32 bits, from -2147483648 up to 4294967295 ("-1" and
// "4294967295" are both 0xFFFFFFFF), saturating beyond either end.
std::uint32_t parse_uint32(std::string_view text);

}  // namespace quorvel
