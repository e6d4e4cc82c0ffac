// A sound server's volume on the document's scale. The server's full
// volume is 65536 (PA_VOLUME_NORM) and it holds up to 2^31 - 1; a document's
// full volume is 65535, as a card's and the Windows mixer's. So
//   document = floor(raw * 65535 / 65536)
//   raw      = ceil(document * 65536 / 65535)
// Every document value comes back from the server as itself, and every raw
// value too except k * 65536 + 1, which comes back one raw step lower
// (rounding to the nearest instead would break 50 % and 150 %).
#pragma once

#include <cstdint>
#include <optional>

namespace quorvel::pulse {

inline constexpr std::uint32_t kRawFull = 65536;      // the server's 100 %
inline constexpr std::uint32_t kRawTop = 0x7FFFFFFF;  // the most the server holds
inline constexpr std::int32_t kDocumentFull = 65535;  // 100 % in a document

inline std::int32_t document_of_raw(std::uint32_t raw) {
  if (raw > kRawTop) raw = kRawTop;
  return static_cast<std::int32_t>(std::uint64_t{raw} * 65535 / 65536);
}

// The raw value of a document value; none for a value below 0 or above
// what the server holds.
inline std::optional<std::uint32_t> raw_of_document(std::int32_t value) {
  if (value < 0) return std::nullopt;
  const std::uint64_t raw = (static_cast<std::uint64_t>(value) * 65536 + 65534) / 65535;
  if (raw > kRawTop) return std::nullopt;
  return static_cast<std::uint32_t>(raw);
}

// The highest document value, what the server's top stands for.
inline constexpr std::int32_t kDocumentTop =
    static_cast<std::int32_t>(std::uint64_t{kRawTop} * 65535 / 65536);

}  // namespace quorvel::pulse
