// The preview (-n): what a restore would change, printed, with nothing
// written; its exit status tells "matches" (0), "differs" (1) and "broken" (2).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/sim_device_fixture.h"
#include "support/test_util.h"

namespace quorvel {
namespace {

using testing::ProgramResult;
using testing::read_file;
using testing::source_dir;
using testing::write_file;

// The example sound card's document with `from` replaced by `to`.
std::string edited_example(const std::string &from, const std::string &to) {
  std::string text = read_file(source_dir() / "examples" / "soundcard.xml");
  const std::size_t at = text.find(from);
  EXPECT_NE(at, std::string::npos) << from;
  if (at != std::string::npos) text.replace(at, from.size(), to);
  return text;
}

class PreviewTest : public testing::SimDeviceFixture {
 protected:
  void SetUp() override {
    SimDeviceFixture::SetUp();
    ASSERT_EQ(run({"-out", "profile.xml"}).exit_code, 0);
    // A drift: the master volume's left channel down, the wave source muted.
    write_file(dir_ / "drift.xml", edited_example("Master Volume<value ch=\"1\">45875<",
                                                  "Master Volume<value ch=\"1\">1000<"));
    std::string drift = read_file(dir_ / "drift.xml");
    drift.replace(drift.find("Wave Mute<value>0<"), 18, "Wave Mute<value>1<");
    write_file(dir_ / "drift.xml", drift);
  }
};

TEST_F(PreviewTest, ListsExactlyWhatTheRestoreChangesAndWritesNothing) {
  ProgramResult same = run({"-n", "profile.xml"});
  EXPECT_EQ(same.exit_code, 0) << same.err;
  EXPECT_EQ(same.out, "0 values would change, 0 would be refused, 41 already match\n");

  ASSERT_EQ(run({"drift.xml"}).exit_code, 0);
  const std::string drifted = read_file(device_);
  ProgramResult preview = run({"--dry-run", "profile.xml"});
  EXPECT_EQ(preview.exit_code, 1) << preview.err;
  EXPECT_EQ(preview.err, "XML document loaded successfully\n");
  EXPECT_EQ(preview.out,
            "change: \"Speakers\" / \"Wave\" / \"Wave Mute\": 1 -> 0\n"
            "change: \"Speakers\" / \"Master Volume\" ch 1: 1000 (2%) -> 45875 (70%)\n"
            "2 values would change, 0 would be refused, 39 already match\n");
  EXPECT_EQ(read_file(device_), drifted);

  // The restore does what the preview said; after it, the fleet converges.
  ASSERT_EQ(run({"profile.xml"}).exit_code, 0);
  EXPECT_EQ(run({"-n", "profile.xml"}).exit_code, 0);
  EXPECT_EQ(run({"-n", "drift.xml"}).exit_code, 1);
}

// -t and -out combine with a preview: the dump first, then the preview's
// lines; the save records the mixer as it is.
TEST_F(PreviewTest, DumpAndSaveCombineWithAPreview) {
  ASSERT_EQ(run({"drift.xml"}).exit_code, 0);
  ASSERT_EQ(run({"-out", "before.xml"}).exit_code, 0);
  ProgramResult result = run({"-t", "-d", "profile.xml", "-out", "after.xml"});
  EXPECT_EQ(result.exit_code, 1) << result.err;
  EXPECT_EQ(result.out.rfind("\n1.0'UTF-16'\n", 0), 0u) << result.out;
  EXPECT_TRUE(testing::holds(result.out, "\nchange: \"Speakers\" / \"Wave\""));
  EXPECT_EQ(read_file(dir_ / "after.xml"), read_file(dir_ / "before.xml"));

  // A document of another mixer id pairs with nothing; the save still
  // records the whole mixer, not a snapshot stripped of its unpaired mixer.
  write_file(dir_ / "other.xml", edited_example("<audio_mixer id=\"0\"", "<audio_mixer id=\"7\""));
  ProgramResult other = run({"-d", "other.xml", "-out", "other-after.xml"});
  EXPECT_EQ(other.exit_code, 2) << other.err;
  EXPECT_TRUE(testing::holds(other.err, "nothing in \"other.xml\" matches this mixer"));
  EXPECT_EQ(read_file(dir_ / "other-after.xml"), read_file(dir_ / "before.xml"));
}

// Every failure, whatever its stage, is 2, so that 1 only ever means
// "a restore would change something".
TEST_F(PreviewTest, AnythingBrokenExitsTwo) {
  write_file(dir_ / "nan.xml", edited_example(">45875<", ">loud<"));
  write_file(dir_ / "beyond.xml", edited_example(">45875<", ">70000<"));
  write_file(dir_ / "bad.xml", "<audio_mixer><oops></audio_mixer>");
  write_file(dir_ / "other.xml", "<audio_mixer id=\"7\" destinations=\"0\"/>");
  struct Case {
    std::vector<std::string> args;
    std::string err;  // a part of what standard error says
    std::string out;  // a part of what standard output says
  };
  const std::vector<Case> cases = {
      {{"-n"}, "no document to preview", ""},
      {{"-n", "missing.xml"}, "File not found error.", ""},
      {{"-n", "-local", "missing.xml"}, "File not found error.", ""},
      {{"-n", "bad.xml"}, "An end tag does not match the start tag", ""},
      {{"-n", "nan.xml"}, "\"loud\" is not a number", ""},
      {{"-n", "beyond.xml"},
       "",
       "refuse: \"Speakers\" / \"Master Volume\" ch 1: 70000 (bounds 0 to "
       "65535)\n"},
      {{"-n", "other.xml"}, "matches this mixer", ""},
      {{"-n", "profile.xml", "-out", "no/such/folder.xml"}, "File not found error.", ""},
  };
  const std::string device = read_file(device_);
  for (const Case &c : cases) {
    ProgramResult result = run(c.args);
    EXPECT_EQ(result.exit_code, 2) << c.args.back() << "\n" << result.err;
    EXPECT_TRUE(testing::holds(result.err, c.err)) << c.args.back();
    EXPECT_TRUE(testing::holds(result.out, c.out)) << c.args.back();
  }
  env_["QUORVEL_MIXER"] = "nosuchkind:x";
  ProgramResult result = run({"-n", "profile.xml"});
  EXPECT_EQ(result.exit_code, 2);
  EXPECT_TRUE(testing::holds(result.err, "QUORVEL_MIXER=nosuchkind:x"));
  EXPECT_EQ(read_file(device_), device);
}

}  // namespace
}  // namespace quorvel
