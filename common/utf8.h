// UTF-8 sequences, decoded and encoded.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace quorvel {

// The length of the UTF-8 sequence that starts at `at`, and its code point;
// 0 when the bytes there are not one (the end of the text, a stray
// continuation byte, a cut or over-long sequence, a surrogate, a code beyond
// U+10FFFF).
inline std::size_t utf8_sequence(std::string_view text, std::size_t at, char32_t& code) {
  if (at >= text.size()) return 0;
  const auto byte = [&](std::size_t i) -> char32_t { return static_cast<unsigned char>(text[i]); };
  const char32_t lead = byte(at);
  const std::size_t length = lead < 0x80 ? 1 : lead < 0xC2 ? 0 : lead < 0xE0 ? 2
                             : lead < 0xF0 ? 3 : lead < 0xF5 ? 4 : 0;
  if (length == 0 || at + length > text.size()) return 0;
  code = length == 1 ? lead : lead & (0x7F >> length);
  for (std::size_t i = 1; i < length; ++i) {
    if ((byte(at + i) & 0xC0) != 0x80) return 0;
    code = (code << 6) | (byte(at + i) & 0x3F);
  }
  const char32_t smallest[] = {0, 0, 0x80, 0x800, 0x10000};
  if (code < smallest[length] || code > 0x10FFFF || (code >= 0xD800 && code < 0xE000)) return 0;
  return length;
}

}  // namespace quorvel
