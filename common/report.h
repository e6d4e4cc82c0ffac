// What the program's steps say as they go, and the problems they report on
// lines of their own: every layer below app/ says it through a Reporter that
// app/ hands it (app/console_reporter.h: the console), and never writes to a
// stream itself.
#pragma once

#include <string_view>

namespace quorvel {

class Reporter {
 public:
  virtual ~Reporter() = default;

  // A problem, on a line of its own: "quorvel: error: MESSAGE".
  virtual void error(std::string_view message) = 0;
  // Something left out on purpose that does not fail the run:
  // "quorvel: note: MESSAGE".
  virtual void note(std::string_view message) = 0;
  // What a long run did, or waits for: "quorvel: MESSAGE".
  virtual void status(std::string_view message) = 0;
  // One of the run's own texts, exactly as given (its line end included,
  // or none): "Downloading XML document URL\n", a load's reason.
  virtual void text(std::string_view text) = 0;
};

}  // namespace quorvel
