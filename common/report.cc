#include "common/report.h"

#include <iostream>

#include "platform/text_encoding.h"

namespace quorvel {

void report_error(std::string_view message) {
  std::cerr << "quorvel: error: " << utf8_to_console(message) << "\n";
}

std::string quoted(std::string_view name) {
  std::string text = "\"";
  text += name;
  text += '"';
  return text;
}

}  // namespace quorvel
