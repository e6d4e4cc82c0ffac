// What the program's steps say as they go, and the problems they report on
// lines of their own: every layer below app/ says it through a Reporter that
// app/ hands it (app/console_reporter.h: the console), and never writes to a
// stream itself.
#pragma once

#include <cstdint>
#include <string>
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
  // How far a long step has got: `done` of `total` items. A step begins with
  // done 0 and ends with done == total; a console may show it while it lasts
  // and clears it at the end. Calls come from Progress (below), a few
  // hundred per step at most. Nothing is shown by default.
  virtual void progress(std::string_view what, std::uint64_t done, std::uint64_t total) {
    static_cast<void>(what);
    static_cast<void>(done);
    static_cast<void>(total);
  }
};

// A long step's count of the work done, told to a Reporter at its start,
// each time about 1/200 more of it is done, and at its end (finish(), or
// when the count is destroyed), so that the reporter is not called per item.
class Progress {
 public:
  // Begins the step `what` ("reading the mixer") of `total` items.
  Progress(Reporter& reporter, std::string what, std::uint64_t total);
  ~Progress() { finish(); }
  Progress(const Progress&) = delete;
  Progress& operator=(const Progress&) = delete;

  // `count` more items done.
  void advance(std::uint64_t count = 1) {
    done_ += count;
    if (done_ >= next_) tell();
  }
  // Done with `done` items in all (never fewer than told before).
  void reach(std::uint64_t done) {
    if (done > done_) advance(done - done_);
  }
  // Ends the step, however much of it was done; once.
  void finish();

 private:
  void tell();

  Reporter* reporter_;
  std::string what_;
  std::uint64_t total_;
  std::uint64_t done_ = 0;
  std::uint64_t next_ = 0;
  std::uint64_t step_;
};

}  // namespace quorvel
