// The console: the one Reporter of the program (common/report.h), on the
// standard error stream, each message made printable (printable()), its
// URLs' user information masked, in the console's encoding.
#pragma once

#include <string_view>

#include "common/report.h"

namespace quorvel {

class ConsoleReporter final : public Reporter {
 public:
  void error(std::string_view message) override;
  void note(std::string_view message) override;
  void status(std::string_view message) override;
  void text(std::string_view text) override;
};

// The program's console, which the run hands to every step.
Reporter& console();

// Shorthands for app/'s own lines: console().error, note and status.
inline void report_error(std::string_view message) { console().error(message); }
inline void report_note(std::string_view message) { console().note(message); }
inline void report_status(std::string_view message) { console().status(message); }

}  // namespace quorvel
