#include "platform/os/console.h"

#include <iostream>

#include "common/utf.h"
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
