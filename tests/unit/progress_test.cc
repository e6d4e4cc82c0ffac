// Progress of long steps: the count a step keeps, what the console draws
// of it on a terminal (and never elsewhere), and the steps that report it.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "app/console_reporter.h"
#include "apply/reconcile.h"
#include "common/report.h"
#include "docio/load.h"
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
    EXPECT_GE(calls[k].done, k == 0 ? 0 : calls[k - 1].done);
    EXPECT_TRUE(k + 1 == calls.size() || calls[k].done < total) << "call " << k;
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

TEST(ConsoleProgressTest, DrawsOnATerminalAfterASecondAndClearsForMessagesAndAtTheEnd) {
  using std::chrono::milliseconds;
  const auto at = [](std::uint64_t done) {
    return [done](ConsoleReporter& console) { console.progress("restoring", done, 1000); };
  };
  const auto error = [](ConsoleReporter& console) { console.error("refused"); };
  const auto other = [](ConsoleReporter& console) { console.progress("reading", 0, 4); };
  const std::string blank = "\r" + std::string(22, ' ') + "\r";  // "quorvel: restoring: 0%"
  struct Case {
    const char* name;
    bool terminal;
    milliseconds between;
    std::vector<std::function<void(ConsoleReporter&)>> calls;
    std::string drawn;
  };
  const Case cases[] = {
      {"within a second", true, milliseconds(499), {at(0), at(5), at(10), at(1000)}, ""},
      {"no terminal", false, milliseconds(5000), {at(0), at(5), error, at(1000)},
       "quorvel: error: refused\n"},
      {"the same percent is drawn once", true, milliseconds(1000), {at(0), at(5), at(6), at(1000)},
       "\rquorvel: restoring: 0%" + blank},
      {"a message clears it, the next update draws it again", true, milliseconds(1000),
       {at(0), at(5), error, at(100), at(1000)},
       "\rquorvel: restoring: 0%" + blank + "quorvel: error: refused\n" +
           "\rquorvel: restoring: 10%" + "\r" + std::string(23, ' ') + "\r"},
      {"a new step clears the last and waits its own second", true, milliseconds(1000),
       {at(0), at(5), other}, "\rquorvel: restoring: 0%" + blank},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::ostringstream out;
    std::chrono::steady_clock::time_point now{};
    ConsoleReporter console(out, c.terminal, [&] { return now; });
    for (const auto& call : c.calls) {
      call(console);
      now += c.between;
    }
    EXPECT_EQ(out.str(), c.drawn);
  }
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
