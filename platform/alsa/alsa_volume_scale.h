// How an ALSA volume's raw range is shown in a mixer document.
//
// A VOLUME control in a document runs from 0 to 65535 whatever the card, so
// that a document moves between machines. A raw range of at most 65,536
// values (max - min <= 65535) is mapped onto 0..65535 and back, rounding
// half up both ways; over such a range the two mappings give every raw value
// back exactly. A wider range cannot be shown in 65,536 values without
// losing some, so it is shown as it is, with the raw bounds.
//
// A raw value beyond the range (a sound server's volume above 100 %) is
// shown beyond the shown bounds, on the same scale, and comes back as
// itself: the two mappings extend past the range unchanged.
#pragma once

#include <cstdint>
#include <limits>

namespace quorvel {

inline constexpr std::uint32_t kVolumeSpan = 65535;

struct AlsaVolumeScale {
  long long min = 0;
  long long max = 0;

  // Whether the range is mapped onto 0..kVolumeSpan (else shown raw).
  constexpr bool mapped() const { return max >= min && max - min <= kVolumeSpan; }

  // The bounds of the values shown.
  constexpr std::int32_t shown_min() const { return mapped() ? 0 : clamp32(min); }
  constexpr std::int32_t shown_max() const {
    return mapped() ? static_cast<std::int32_t>(kVolumeSpan) : clamp32(max);
  }

  // Whether the raw value lies within the range.
  constexpr bool holds(long long raw) const { return min <= raw && raw <= max; }

  // The value shown for a raw value, on the same scale beyond the range.
  // A range of one value shows everything as 0.
  constexpr std::int32_t to_shown(long long raw) const {
    if (!mapped()) return clamp32(raw);
    const long long span = max - min;
    if (span == 0) return 0;
    // (raw - min) * 65535 / span, rounded half up.
    return clamp32(floor_div((raw - min) * kVolumeSpan + span / 2, span));
  }

  // The raw value that `shown` stands for, on the same scale beyond the
  // shown bounds.
  constexpr long long raw_of(std::int32_t shown) const {
    if (!mapped()) return shown;
    // shown * span / 65535, rounded half up.
    return min + floor_div(static_cast<long long>(shown) * (max - min) + kVolumeSpan / 2,
                           kVolumeSpan);
  }

  // The raw value for a shown value; false when `shown` lies outside the
  // shown bounds.
  constexpr bool to_raw(std::int32_t shown, long long& raw) const {
    if (shown < shown_min() || shown > shown_max()) return false;
    if (!mapped()) {
      raw = shown;
      return true;
    }
    raw = raw_of(shown);
    return true;
  }

 private:
  // a / b rounded towards minus infinity (b > 0).
  static constexpr long long floor_div(long long a, long long b) {
    const long long q = a / b;
    return (a % b != 0 && a < 0) ? q - 1 : q;
  }

  static constexpr std::int32_t clamp32(long long value) {
    if (value < std::numeric_limits<std::int32_t>::min()) {
      return std::numeric_limits<std::int32_t>::min();
    }
    if (value > std::numeric_limits<std::int32_t>::max()) {
      return std::numeric_limits<std::int32_t>::max();
    }
    return static_cast<std::int32_t>(value);
  }
};

}  // namespace quorvel
