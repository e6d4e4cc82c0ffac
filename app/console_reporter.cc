#include "app/console_reporter.h"

#include <iostream>
#include <string>

#include "platform/os/console.h"
#include "platform/os/text_encoding.h"

namespace quorvel {
namespace {

void line(const char* prefix, std::string_view message) {
  std::cerr << prefix << utf8_to_console(printable(mask_passwords(message))) << "\n";
}

}  // namespace

void ConsoleReporter::error(std::string_view message) { line("quorvel: error: ", message); }
void ConsoleReporter::note(std::string_view message) { line("quorvel: note: ", message); }
void ConsoleReporter::status(std::string_view message) { line("quorvel: ", message); }

void ConsoleReporter::text(std::string_view text) {
  std::cerr << utf8_to_console(text) << std::flush;
}

Reporter& console() {
  static ConsoleReporter reporter;
  return reporter;
}

}  // namespace quorvel
