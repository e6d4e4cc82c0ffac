#include "platform/os/console.h"

#include <iostream>

#include "platform/os/text_encoding.h"

namespace quorvel {

void report_error(std::string_view message) {
  std::cerr << "quorvel: error: " << utf8_to_console(message) << "\n";
}

std::string quote_name(std::string_view name) {
  std::string text = "\"";
  text += name;
  text += '"';
  return text;
}

}  // namespace quorvel
