// Decoding UTF-8 and UTF-16: one decoder of each, for every reader of text
// the program has (the printable form of messages, the well-formedness
// check, source positions, the saved file's writer), each of which treats
// broken text in its own way.
#pragma once

#include <cstddef>
#include <string_view>

namespace quorvel {

// One character of UTF-8 text: a lead byte with the continuation bytes its
// form asks for, as many of them as follow it.
struct Utf8Char {
  std::size_t length = 0;  // bytes taken (0: the text ends); 1 for a byte that leads nothing
  char32_t code = 0;       // the code the bytes give (cut short when not complete)
  bool complete = false;   // every continuation byte the lead byte asks for follows it

  // Whether the bytes are a character of UTF-8: complete, in the shortest
  // form, not a surrogate and not beyond U+10FFFF.
  bool valid() const {
    constexpr char32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
    return complete && code >= kSmallest[length] && code <= 0x10FFFF &&
           (code < 0xD800 || code >= 0xE000);
  }
};

// The character that starts at byte `at` of `text`. A lead byte of two to
// four bytes (0xC0 to 0xF7) takes the continuation bytes that follow it, up
// to as many as its form asks for; any other byte above 0x7F is one byte
// that leads nothing.
inline Utf8Char decode_utf8(std::string_view text, std::size_t at) {
  Utf8Char decoded;
  if (at >= text.size()) return decoded;
  const auto byte = [&](std::size_t i) -> char32_t { return static_cast<unsigned char>(text[i]); };
  const char32_t lead = byte(at);
  decoded.length = 1;
  decoded.code = lead;
  if (lead < 0x80) {
    decoded.complete = true;
    return decoded;
  }
  if (lead < 0xC0 || lead >= 0xF8) return decoded;
  std::size_t extra = lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : 1;
  decoded.code = lead & (0x3F >> extra);
  for (; extra > 0 && at + decoded.length < text.size(); --extra) {
    const char32_t next = byte(at + decoded.length);
    if ((next & 0xC0) != 0x80) break;
    decoded.code = (decoded.code << 6) | (next & 0x3F);
    ++decoded.length;
  }
  decoded.complete = extra == 0;
  return decoded;
}

constexpr bool is_surrogate(char32_t unit) { return unit >= 0xD800 && unit < 0xE000; }

// One character of UTF-16 text.
struct Utf16Char {
  std::size_t units = 1;  // units taken: 2 for a surrogate pair
  char32_t code = 0;      // a lone surrogate is its own code (is_surrogate)
};

// The character that the unit `lead`, followed by `trail` (0 when no unit
// follows), starts.
constexpr Utf16Char decode_utf16(char32_t lead, char32_t trail) {
  if (lead >= 0xD800 && lead < 0xDC00 && trail >= 0xDC00 && trail < 0xE000) {
    return {2, 0x10000 + ((lead & 0x3FF) << 10) + (trail & 0x3FF)};
  }
  return {1, lead};
}

}  // namespace quorvel
