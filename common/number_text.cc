#include "common/number_text.h"

#include <algorithm>
#include <charconv>
#include <limits>

namespace quorvel {
namespace {

bool is_space(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

// The signed number that leads `text` (after white space and a sign), its
// magnitude capped just past 32 bits; `end` is where its digits stop.
// Nothing when no digit follows.
std::optional<std::int64_t> leading_number(std::string_view text, std::size_t& end) {
  std::size_t i = 0;
  while (i < text.size() && is_space(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) {
    negative = text[i] == '-';
    ++i;
  }
  if (i >= text.size() || text[i] < '0' || text[i] > '9') return std::nullopt;
  constexpr std::int64_t kCap = std::int64_t{1} << 33;
  std::int64_t magnitude = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    magnitude = std::min(magnitude * 10 + (text[i] - '0'), kCap);
  }
  end = i;
  return negative ? -magnitude : magnitude;
}

}  // namespace

std::string int_text(std::int32_t value) {
  char buffer[16];
  auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  return std::string(buffer, result.ptr);
}

std::optional<std::int32_t> parse_int_strict(std::string_view text) {
  std::size_t end = 0;
  const std::optional<std::int64_t> number = leading_number(text, end);
  if (!number) return std::nullopt;
  while (end < text.size() && is_space(text[end])) ++end;
  if (end != text.size()) return std::nullopt;
  if (*number < std::numeric_limits<std::int32_t>::min() ||
      *number > std::numeric_limits<std::uint32_t>::max()) {
    return std::nullopt;
  }
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(*number));
}

std::int32_t parse_int(std::string_view text) {
  std::size_t end = 0;
  const std::int64_t number = leading_number(text, end).value_or(0);
  if (number > std::numeric_limits<std::int32_t>::max()) return std::numeric_limits<std::int32_t>::max();
  if (number < std::numeric_limits<std::int32_t>::min()) return std::numeric_limits<std::int32_t>::min();
  return static_cast<std::int32_t>(number);
}

std::uint32_t parse_uint32(std::string_view text) {
  std::size_t end = 0;
  const std::int64_t number = leading_number(text, end).value_or(0);
  if (number > std::numeric_limits<std::uint32_t>::max()) return std::numeric_limits<std::uint32_t>::max();
  if (number < std::numeric_limits<std::int32_t>::min()) return 0x80000000u;
  return static_cast<std::uint32_t>(number);
}

}  // namespace quorvel
