// POSIX: saves killed at every system call they make. For each row, the
// program runs once under strace to list its system calls; then, for each
// of them, a fresh copy of the row's folder sees the program killed
// (SIGKILL, injected by strace) at that call, after which every file the
// row watches holds its old content or its new one, whole, and one ordinary
// save into the folder leaves nothing there that a complete run would not.
// Slow (hundreds of runs): labelled heavy.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "support/test_util.h"

namespace quorvel {
namespace {

using testing::ProgramResult;
using testing::read_file;
using testing::run_command;
using testing::TempDir;
using testing::write_file;

struct KilledSave {
  const char* name;
  std::function<void(const std::filesystem::path&)> setup;  // beyond device.xml and change.xml
  std::vector<std::string> args;
  std::vector<std::string> watched;  // files that are either old or new, never anything else
  std::string ordinary_out;          // where the ordinary save after the kill goes
};

const KilledSave kSaves[] = {
    {"OutOverAnExistingFile",
     [](const std::filesystem::path& dir) { write_file(dir / "saved.xml", "old"); },
     {"-out", "saved.xml"},
     {"saved.xml"},
     "ordinary.xml"},
    {"OutToANewFile", nullptr, {"-out", "new.xml"}, {"new.xml"}, "ordinary.xml"},
    {"OutThroughALink",
     [](const std::filesystem::path& dir) {
       std::filesystem::create_directory(dir / "real");
       write_file(dir / "real" / "saved.xml", "old");
       std::filesystem::create_symlink("real/saved.xml", dir / "link.xml");
     },
     {"-out", "link.xml"},
     {"real/saved.xml"},
     "real/ordinary.xml"},
    {"RestoreRewritesTheDeviceFile", nullptr, {"change.xml"}, {"device.xml"}, "ordinary.xml"},
};

// The folder of a row, as it is before the program runs.
void make_scene(const KilledSave& row, const std::filesystem::path& dir) {
  std::filesystem::copy_file(testing::source_dir() / "examples" / "soundcard.xml",
                             dir / "device.xml");
  write_file(dir / "change.xml",
             "<audio_mixer id=\"0\"><destination component_type=\"4\"><line_control "
             "ctrl_type=\"1342373889\"><value ch=\"1\">1000</value><value ch=\"2\">2000</value>"
             "</line_control></destination></audio_mixer>");
  if (row.setup) row.setup(dir);
}

// Every file and link under `dir`, by its path relative to it.
std::set<std::string> listing(const std::filesystem::path& dir) {
  std::set<std::string> names;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(dir)) {
    names.insert(std::filesystem::relative(entry.path(), dir).string());
  }
  return names;
}

std::optional<std::string> content(const std::filesystem::path& path) {
  if (!std::filesystem::exists(path)) return std::nullopt;
  return read_file(path);
}

// The system calls of a trace, in order, each with how many calls of its
// name came before it and itself (strace's "when=" counts that way).
std::vector<std::pair<std::string, int>> system_calls(const std::string& trace) {
  std::vector<std::pair<std::string, int>> calls;
  std::map<std::string, int> seen;
  std::istringstream lines(trace);
  for (std::string line; std::getline(lines, line);) {
    // "PID  name(arguments) = result"; signals, exits and the second half
    // of a call another thread interrupted are not calls.
    const std::size_t start = line.find_first_not_of("0123456789 ");
    if (start == std::string::npos || line.compare(start, 3, "+++") == 0 ||
        line.compare(start, 3, "---") == 0 || line.compare(start, 4, "<...") == 0) {
      continue;
    }
    const std::size_t paren = line.find('(', start);
    if (paren == std::string::npos) continue;
    const std::string name = line.substr(start, paren - start);
    calls.emplace_back(name, ++seen[name]);
  }
  return calls;
}

class KilledSaveTest : public ::testing::TestWithParam<KilledSave> {
 protected:
  ProgramResult traced(const std::filesystem::path& dir, const std::vector<std::string>& options,
                       const std::vector<std::string>& args) {
    std::vector<std::string> argv = {"strace", "-f", "-qq"};
    argv.insert(argv.end(), options.begin(), options.end());
    argv.push_back("--");
    argv.push_back(testing::quorvel_binary().string());
    argv.insert(argv.end(), args.begin(), args.end());
    return run_command(argv, env(dir), dir);
  }
  static std::map<std::string, std::string> env(const std::filesystem::path& dir) {
    return {{"QUORVEL_MIXER", "sim:" + (dir / "device.xml").string()}};
  }
};

TEST_P(KilledSaveTest, LeavesOldOrNewContentAndNothingOnceTheNextSaveHasRun) {
  const KilledSave& row = GetParam();
  if (run_command({"strace", "-V"}).exit_code != 0) GTEST_SKIP() << "strace is not installed";

  // The complete run: its system calls, and what it leaves.
  TempDir reference;
  make_scene(row, reference.path());
  std::map<std::string, std::optional<std::string>> before;
  for (const std::string& file : row.watched) before[file] = content(reference / file);
  TempDir logs;
  const std::filesystem::path trace = logs / "trace.log";
  ProgramResult complete = traced(reference.path(), {"-o", trace.string()}, row.args);
  ASSERT_EQ(complete.exit_code, 0) << complete.err;
  const std::vector<std::pair<std::string, int>> calls = system_calls(read_file(trace));
  if (calls.empty()) GTEST_SKIP() << "strace cannot trace here";
  std::map<std::string, std::optional<std::string>> after;
  for (const std::string& file : row.watched) after[file] = content(reference / file);
  for (const std::string& file : row.watched) ASSERT_NE(before[file], after[file]) << file;
  ASSERT_EQ(testing::run_quorvel({"-out", row.ordinary_out}, env(reference.path()),
                                 reference.path()).exit_code, 0);
  const std::set<std::string> complete_listing = listing(reference.path());

  int killed = 0;
  for (const auto& [call, when] : calls) {
    SCOPED_TRACE("killed at " + call + " number " + std::to_string(when));
    TempDir dir;
    make_scene(row, dir.path());
    ProgramResult run = traced(
        dir.path(),
        {"-o", "/dev/null", "-e", "inject=" + call + ":signal=SIGKILL:when=" + std::to_string(when)},
        row.args);
    if (run.exit_code == 128 + 9) ++killed;
    for (const std::string& file : row.watched) {
      const std::optional<std::string> now = content(dir / file);
      EXPECT_TRUE(now == before[file] || now == after[file]) << file << " is neither old nor new";
    }
    ProgramResult ordinary =
        testing::run_quorvel({"-out", row.ordinary_out}, env(dir.path()), dir.path());
    ASSERT_EQ(ordinary.exit_code, 0) << ordinary.err;
    for (const std::string& name : listing(dir.path())) {
      EXPECT_TRUE(complete_listing.count(name) == 1) << name << " was left behind";
    }
    if (HasFailure()) break;
  }
  // strace's own exit status is the program's: most injections killed it.
  EXPECT_GT(killed, static_cast<int>(calls.size()) / 2);
}

INSTANTIATE_TEST_SUITE_P(Rows, KilledSaveTest, ::testing::ValuesIn(kSaves),
                         [](const ::testing::TestParamInfo<KilledSave>& info) {
                           return std::string(info.param.name);
                         });

}  // namespace
}  // namespace quorvel
