#include "platform/os/console.h"

#include <algorithm>

#include "common/utf.h"
#include "platform/os/text_encoding.h"

namespace quorvel {

namespace {

bool scheme_character(char c, bool first) {
  const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
  if (first) return letter;
  return letter || (c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.';
}

}  // namespace

std::string mask_passwords(std::string_view text) {
  std::string out(text);
  for (std::size_t marker = out.find("://"); marker != std::string::npos;
       marker = out.find("://", marker + 3)) {
    // A scheme before it: at least a letter, then scheme characters.
    std::size_t start = marker;
    while (start > 0 && scheme_character(out[start - 1], false)) --start;
    while (start < marker && !scheme_character(out[start], true)) ++start;
    if (start == marker) continue;
    const std::size_t authority = marker + 3;
    const std::size_t end = std::min(out.find_first_of("?#", authority), out.size());
    const std::size_t at = out.rfind('@', end == authority ? authority : end - 1);
    // None, or empty.
    if (at == std::string::npos || at <= authority) continue;
    out.replace(authority, at - authority, "***");
    marker = authority;
  }
  return out;
}

std::string quote_name(std::string_view name) {
  std::string text = "\"";
  text += name;
  text += '"';
  return text;
}

namespace {

void append_escape(std::string& out, unsigned value) {
  const char* digits = "0123456789abcdef";
  out += "\\x";
  out += digits[(value >> 4) & 0xF];
  out += digits[value & 0xF];
}

}  // namespace

std::string printable(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t at = 0; at < text.size();) {
    const Utf8Char decoded = decode_utf8(text, at);
    if (!decoded.valid()) {
      append_escape(out, static_cast<unsigned char>(text[at]));
      ++at;
      continue;
    }
    const char32_t code = decoded.code;
    if (code < 0x20 || (code >= 0x7F && code < 0xA0)) {
      append_escape(out, static_cast<unsigned>(code));
    } else {
      out.append(text.substr(at, decoded.length));
    }
    at += decoded.length;
  }
  return out;
}

}  // namespace quorvel
