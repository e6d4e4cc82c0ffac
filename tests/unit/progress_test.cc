// Progress of long steps: the count a step keeps, what the console draws
// of it on a terminal (and never elsewhere), and the steps that report it.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "app/console_reporter.h"
#include "apply/reconcile.h"
#include "common/report.h"
#include "docio/load.h"
#include "platform/document/document_parse.h"
#include "snapshot/snapshot.h"
#include "support/example_device.h"
#include "support/test_util.h"

namespace quorvel {
namespace {

// Keeps every progress call; the other messages are dropped.
class ProgressLog final : public Reporter {
 public:
  struct Call {
    std::string what;
    std::uint64_t done;
    std::uint64_t total;
  };
  void error(std::string_view) override {}
  void note(std::string_view) override {}
  void status(std::string_view) override {}
  void text(std::string_view) override {}
  void progress(std::string_view what, std::uint64_t done, std::uint64_t total) override {
    calls.push_back({std::string(what), done, total});
  }
  // The calls of the step whose name starts with `what`.
  std::vector<Call> of(std::string_view what) const {
    std::vector<Call> found;
    for (const Call& call : calls) {
      if (call.what.starts_with(what)) found.push_back(call);
    }
    return found;
  }
  std::vector<Call> calls;
};

// A step's calls begin at 0, never go back, stay below the total until the
// last, which ends the step at its total; and there are few of them.
void expect_one_whole_step(const std::vector<ProgressLog::Call>& calls, std::uint64_t total) {
  ASSERT_GE(calls.size(), 2u);
  EXPECT_EQ(calls.front().done, 0u);
  EXPECT_EQ(calls.back().done, total);
  EXPECT_LE(calls.size(), 203u);
  for (std::size_t k = 0; k < calls.size(); ++k) {
    EXPECT_EQ(calls[k].total, total);
    if (k > 0) {
      EXPECT_GE(calls[k].done, calls[k - 1].done);
    }
    if (k + 1 < calls.size()) {
      EXPECT_LT(calls[k].done, total) << "call " << k;
    }
  }
}

TEST(ProgressTest, CountsAStepInAFewCallsFromStartToEnd) {
  struct Case {
    const char* name;
    std::uint64_t total;
    std::uint64_t advances;  // of one item each
  };
  for (const Case& c : {Case{"a million items", 1000000, 1000000},
                        Case{"fewer items than the steps it tells", 7, 7},
                        Case{"more done than expected", 10, 25},
                        Case{"less done than expected", 1000, 300}}) {
    SCOPED_TRACE(c.name);
    ProgressLog log;
    {
      Progress progress(log, "step", c.total);
      for (std::uint64_t k = 0; k < c.advances; ++k) progress.advance();
    }
    expect_one_whole_step(log.calls, c.total);
  }
}

TEST(ProgressTest, FinishEndsTheStepOnceAndReachNeverGoesBack) {
  ProgressLog log;
  {
    Progress progress(log, "step", 100);
    progress.reach(60);
    progress.reach(30);
    progress.finish();
    progress.advance(10);
  }
  ASSERT_EQ(log.calls.size(), 3u);
  EXPECT_EQ(log.calls[1].done, 60u);
  EXPECT_EQ(log.calls[2].done, 100u);
}

// A console on a string, at a time the test sets.
struct Console {
  explicit Console(bool terminal)
      : reporter(out, terminal, [this] { return now; }) {}
  void after(std::chrono::milliseconds elapsed) { now += elapsed; }

  std::ostringstream out;
  std::chrono::steady_clock::time_point now{};
  ConsoleReporter reporter;
};

TEST(ConsoleProgressTest, DrawsOnATerminalOnlyAfterASecond) {
  using std::chrono::milliseconds;
  struct Case {
    const char* name;
    bool terminal;
    milliseconds before_update;
    std::string drawn;
  };
  const std::string line = "\rquorvel: reading \"a.xml\": 50%";
  const std::string blank = "\r" + std::string(line.size() - 1, ' ') + "\r";
  for (const Case& c : {Case{"a terminal, after a second", true, milliseconds(1000), line + blank},
                        Case{"a terminal, within a second", true, milliseconds(999), ""},
                        Case{"no terminal", false, milliseconds(5000), ""}}) {
    SCOPED_TRACE(c.name);
    Console console(c.terminal);
    console.reporter.progress("reading \"a.xml\"", 0, 10);
    console.after(c.before_update);
    console.reporter.progress("reading \"a.xml\"", 5, 10);
    console.reporter.progress("reading \"a.xml\"", 5, 10);  // the same percent: not drawn again
    console.reporter.progress("reading \"a.xml\"", 10, 10);
    EXPECT_EQ(console.out.str(), c.drawn);
  }
}

TEST(ConsoleProgressTest, AMessageClearsTheLineAndALaterUpdateDrawsItAgain) {
  Console console(true);
  console.reporter.progress("restoring", 0, 1000);
  console.after(std::chrono::seconds(2));
  console.reporter.progress("restoring", 5, 1000);
  console.reporter.error("control \"x\": refused");
  console.reporter.progress("restoring", 100, 1000);
  console.reporter.progress("restoring", 995, 1000);
  console.reporter.text("audio XML file saved OK.");
  const std::string first = "\rquorvel: restoring: 0%";
  const std::string blank = "\r" + std::string(first.size() - 1, ' ') + "\r";
  EXPECT_EQ(console.out.str(), first + blank + "quorvel: error: control \"x\": refused\n" +
                                   "\rquorvel: restoring: 10%" + "\rquorvel: restoring: 99%" +
                                   "\r" + std::string(first.size(), ' ') + "\r" +
                                   "audio XML file saved OK.");
}

TEST(ConsoleProgressTest, ANewStepClearsTheLastAndWaitsASecondOfItsOwn) {
  Console console(true);
  console.reporter.progress("reading the simulated device \"d.xml\"", 0, 4);
  console.after(std::chrono::seconds(1));
  console.reporter.progress("reading the simulated device \"d.xml\"", 1, 4);
  const std::string first = "\rquorvel: reading the simulated device \"d.xml\": 25%";
  console.reporter.progress("restoring", 0, 4);
  console.reporter.progress("restoring", 2, 4);  // no second of its own yet
  const std::string blank = "\r" + std::string(first.size() - 1, ' ') + "\r";
  EXPECT_EQ(console.out.str(), first + blank);
}

TEST(ProgressStepsTest, SnapshotLoadAndRestoreEachTellTheirWholeStep) {
  const std::filesystem::path example = testing::source_dir() / "examples" / "soundcard.xml";
  auto mixer = testing::example_mixer("soundcard.xml");
  ASSERT_TRUE(mixer);
  ProgressLog log;

  Document snapshot;
  std::optional<std::string> name;
  ASSERT_TRUE(build_snapshot(snapshot, *mixer, name, log));
  const std::vector<ProgressLog::Call> reading = log.of("reading the mixer");
  ASSERT_FALSE(reading.empty());
  expect_one_whole_step(reading, reading.front().total);
  EXPECT_GT(reading.front().total, 10u);

  InputDocument input;
  const std::string file = example.generic_string();
  ASSERT_TRUE(load_from_file(input, file, log));
  expect_one_whole_step(log.of("reading \"" + file + "\""), std::filesystem::file_size(example));

  const ApplyReport report = reconcile_documents(input.document, snapshot, *mixer, log);
  EXPECT_EQ(report.reported, 0);
  const std::vector<ProgressLog::Call> restoring = log.of("restoring");
  ASSERT_FALSE(restoring.empty());
  expect_one_whole_step(restoring, static_cast<std::uint64_t>(report.paired));
}

}  // namespace
}  // namespace quorvel
