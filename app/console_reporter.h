// The console: the one Reporter of the program (common/report.h), on the
// standard error stream, each message made printable (printable()), its
// URLs' user information masked, in the console's encoding. On a terminal
// a step that lasts more than a second shows how far it has got, on a line
// of its own that is drawn over as it goes and cleared at its end.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <string>
#include <string_view>

#include "common/report.h"

namespace quorvel {

class ConsoleReporter final : public Reporter {
 public:
  using Clock = std::function<std::chrono::steady_clock::time_point()>;

  // Standard error, with progress where it is a terminal.
  ConsoleReporter();
  // `out`, with progress only when `terminal`, timed by `clock`.
  ConsoleReporter(std::ostream& out, bool terminal, Clock clock);

  void error(std::string_view message) override;
  void note(std::string_view message) override;
  void status(std::string_view message) override;
  void text(std::string_view text) override;
  void progress(std::string_view what, std::uint64_t done, std::uint64_t total) override;

  // How long a step runs before its progress is shown.
  static constexpr std::chrono::seconds kProgressAfter{1};

 private:
  void line(const char* prefix, std::string_view message);
  // Blanks the progress line drawn, if any, so that what follows starts at
  // the line's beginning.
  void clear_progress();

  std::ostream& out_;
  bool terminal_;
  Clock clock_;
  std::string what_;  // the step under way; empty: none
  std::chrono::steady_clock::time_point started_;
  std::size_t drawn_ = 0;  // characters of the progress line on the screen
  int percent_ = -1;       // the percent drawn
};

// The program's console, which the run hands to every step.
Reporter& console();

// Shorthands for app/'s own lines: console().error, note and status.
inline void report_error(std::string_view message) { console().error(message); }
inline void report_note(std::string_view message) { console().note(message); }
inline void report_status(std::string_view message) { console().status(message); }

}  // namespace quorvel
