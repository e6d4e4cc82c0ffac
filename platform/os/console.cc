#include "platform/os/console.h"

#include <iostream>

#include "platform/os/text_encoding.h"

namespace quorvel {

void report_error(std::string_view message) {
  std::cerr << "quorvel: error: " << utf8_to_console(printable(message)) << "\n";
}

std::string quote_name(std::string_view name) {
  std::string text = "\"";
  text += name;
  text += '"';
  return text;
}

namespace {

// The length of the UTF-8 sequence that starts at `at`, and its code
// point; 0 when the bytes there are not one (a stray continuation byte, a
// cut or over-long sequence, a surrogate, a code beyond U+10FFFF).
std::size_t utf8_sequence(std::string_view text, std::size_t at, char32_t& code) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(at);
  std::size_t length = lead < 0x80 ? 1 : lead < 0xC2 ? 0 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3
                                                      : lead < 0xF5 ? 4 : 0;
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
    char32_t code = 0;
    const std::size_t length = utf8_sequence(text, at, code);
    if (length == 0) {
      append_escape(out, static_cast<unsigned char>(text[at]));
      ++at;
      continue;
    }
    if (code < 0x20 || (code >= 0x7F && code < 0xA0)) {
      append_escape(out, static_cast<unsigned>(code));
    } else {
      out.append(text.substr(at, length));
    }
    at += length;
  }
  return out;
}

}  // namespace quorvel
