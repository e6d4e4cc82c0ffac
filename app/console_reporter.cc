#include "app/console_reporter.h"

#include <iostream>
#include <string>
#include <utility>

#include "platform/os/console.h"
#include "platform/os/text_encoding.h"

namespace quorvel {

ConsoleReporter::ConsoleReporter()
    : ConsoleReporter(std::cerr, error_stream_is_terminal(), &std::chrono::steady_clock::now) {}

ConsoleReporter::ConsoleReporter(std::ostream& out, bool terminal, Clock clock)
    : out_(out), terminal_(terminal), clock_(std::move(clock)) {}

void ConsoleReporter::line(const char* prefix, std::string_view message) {
  clear_progress();
  out_ << prefix << utf8_to_console(printable(mask_passwords(message))) << "\n";
}

void ConsoleReporter::error(std::string_view message) { line("quorvel: error: ", message); }
void ConsoleReporter::note(std::string_view message) { line("quorvel: note: ", message); }
void ConsoleReporter::status(std::string_view message) { line("quorvel: ", message); }

void ConsoleReporter::text(std::string_view text) {
  clear_progress();
  out_ << utf8_to_console(text) << std::flush;
}

void ConsoleReporter::progress(std::string_view what, std::uint64_t done, std::uint64_t total) {
  if (!terminal_) return;
  if (done >= total) {
    clear_progress();
    what_.clear();
    return;
  }
  const auto now = clock_();
  if (done == 0 || what != what_) {
    clear_progress();
    what_ = std::string(what);
    started_ = now;
  }
  if (now - started_ < kProgressAfter) return;
  const int percent = static_cast<int>(done * 100 / total);
  if (drawn_ > 0 && percent == percent_) return;
  // One step's line only grows as its percent does: each is drawn over the
  // last.
  const std::string shown = "quorvel: " + utf8_to_console(printable(mask_passwords(what_))) +
                            ": " + std::to_string(percent) + "%";
  out_ << '\r' << shown << std::flush;
  drawn_ = shown.size();
  percent_ = percent;
}

void ConsoleReporter::clear_progress() {
  if (drawn_ == 0) return;
  out_ << '\r' << std::string(drawn_, ' ') << '\r';
  drawn_ = 0;
  percent_ = -1;
}

Reporter& console() {
  static ConsoleReporter reporter;
  return reporter;
}

}  // namespace quorvel
