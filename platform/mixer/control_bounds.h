// A control's bounds, as every part of the program reads them: signed when
// min <= max as signed numbers, else the same 32 bits taken unsigned (a
// control whose values only make sense unsigned).
#pragma once

#include <algorithm>
#include <cstdint>
#include <span>

namespace quorvel {

// Whether `value` lies within min..max.
inline bool within_bounds(std::int32_t min, std::int32_t max, std::int32_t value) {
  if (min <= max) return min <= value && value <= max;
  const auto u = static_cast<std::uint32_t>(value);
  return static_cast<std::uint32_t>(min) <= u && u <= static_cast<std::uint32_t>(max);
}

// Widens min..max to cover `values`, each end as far as the values need and
// no further, by the same rule (unsigned bounds stay unsigned).
inline void cover_values(std::int32_t& min, std::int32_t& max,
                         std::span<const std::int32_t> values) {
  const bool is_signed = min <= max;
  for (std::int32_t value : values) {
    if (is_signed) {
      min = std::min(min, value);
      max = std::max(max, value);
    } else {
      const auto u = static_cast<std::uint32_t>(value);
      if (u < static_cast<std::uint32_t>(min)) min = value;
      if (u > static_cast<std::uint32_t>(max)) max = value;
    }
  }
}

}  // namespace quorvel
