// The real program loading documents from files, on the three load paths.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "support/sim_device_fixture.h"
#include "support/test_util.h"

namespace quorvel {
namespace {

using testing::ProgramResult;
using testing::read_file;
using testing::run_quorvel;
using testing::source_dir;
using testing::TempDir;
using testing::write_file;

const char* const kLoaded = "XML document loaded successfully\n";
const char* const kDownloading = "Downloading XML document URL\n";
const char* const kNotFound = "File not found error.";
const char* const kSaved = "audio XML file saved OK.";
// The default output name: the simulated device's product name.
const char* const kDefaultOutput = "Demo PCI Sound Card.xml";

// A syntax error on line 3, position 17 (the unquoted attribute value).
const char* const kBrokenDocument =
    "<audio_mixer id=\"0\">\n<destination>\n<line_control x=1/></destination>";
const char* const kBrokenReason = "An attribute is malformed.\n";

// Each test runs in a folder of its own, on a copy of the example sound card
// as the simulated mixer (the device rewrites its file after a change).
class LoadRunTest : public testing::SimDeviceFixture {
 protected:
  std::string full_path(const std::string& name) const {
    return (std::filesystem::canonical(dir_.path()) / name).string();
  }
};

TEST_F(LoadRunTest, WellFormedDocumentLoadsOnEveryPath) {
  std::filesystem::copy_file(source_dir() / "examples" / "soundcard.xml", dir_ / "in.xml");
  const struct {
    std::vector<std::string> args;
    std::string err;
  } cases[] = {
      {{"in.xml"}, kLoaded},
      {{"-local", "in.xml"}, kLoaded},
      {{"-url", "in.xml"}, std::string(kDownloading) + kLoaded},
      {{"-u", "-l", "in.xml"}, kLoaded},  // the stream path wins
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args.front());
    ProgramResult result = run(c.args);
    EXPECT_EQ(result.err, c.err);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.exit_code, 0);
  }
}

TEST_F(LoadRunTest, SyntaxErrorIsReportedAndFailsTheRun) {
  write_file(dir_ / "bad.xml", kBrokenDocument);
  std::string line_report = "Error on line 3, position 17 in \"bad.xml\".\n";

  ProgramResult plain = run({"bad.xml"});
  EXPECT_EQ(plain.err, kBrokenReason + line_report + kNotFound);
  EXPECT_EQ(plain.exit_code, 1);

  ProgramResult url = run({"-url", "bad.xml"});
  EXPECT_EQ(url.err, kDownloading + (kBrokenReason + line_report) + kNotFound);
  EXPECT_EQ(url.exit_code, 1);

  // The stream path names the full path and adds nothing of its own.
  ProgramResult local = run({"-local", "bad.xml"});
  EXPECT_EQ(local.err, kBrokenReason + ("Error on line 3, position 17 in \"" +
                                        full_path("bad.xml") + "\".\n"));
  EXPECT_EQ(local.exit_code, 1);
}

TEST_F(LoadRunTest, UnreadableSourceWritesOnlyTheReason) {
  std::string reason = "Cannot read \"missing.xml\": No such file or directory.\n";

  ProgramResult plain = run({"missing.xml"});
  EXPECT_EQ(plain.err, reason + kNotFound);
  EXPECT_EQ(plain.exit_code, 1);

  ProgramResult url = run({"-url", "missing.xml"});
  EXPECT_EQ(url.err, kDownloading + reason + kNotFound);
  EXPECT_EQ(url.exit_code, 1);
}

TEST_F(LoadRunTest, StreamThatDoesNotOpenStopsTheRunBeforeDumpAndSave) {
  ProgramResult result = run({"-t", "-local", "missing.xml", "-out"});
  // The system's reason on a line of its own, then the fixed text.
  EXPECT_EQ(result.err, "Cannot read \"" + full_path("missing.xml") +
                            "\": No such file or directory.\n" + kNotFound);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.exit_code, 1);
  EXPECT_FALSE(std::filesystem::exists(dir_ / kDefaultOutput));
}

TEST_F(LoadRunTest, FailedLoadStillDumpsRebuildsAndSavesButExitsOne) {
  write_file(dir_ / "bad.xml", kBrokenDocument);
  ProgramResult result = run({"-t", "bad.xml", "-out"});
  EXPECT_EQ(result.out, "\n") << "the dump shows the empty input document";
  EXPECT_EQ(result.err, std::string(kBrokenReason) +
                            "Error on line 3, position 17 in \"bad.xml\".\n" + kNotFound + kSaved);
  EXPECT_EQ(result.exit_code, 1);
  EXPECT_TRUE(std::filesystem::exists(dir_ / kDefaultOutput));
}

TEST_F(LoadRunTest, NothingOfABrokenDocumentReachesTheMixer) {
  // The example with its master volume changed: applying it changes the
  // device. The same text with a second root element must change nothing.
  std::string document = read_file(source_dir() / "examples" / "soundcard.xml");
  const std::string volume = "<value ch=\"1\">45875</value>";
  std::size_t at = document.find(volume);
  ASSERT_NE(at, std::string::npos);
  document.replace(at, volume.size(), "<value ch=\"1\">1000</value>");
  write_file(dir_ / "broken.xml", document + "<audio_mixer id=\"0\"/>\n");
  write_file(dir_ / "good.xml", document);
  const std::string device_before = read_file(device_);

  ProgramResult broken = run({"-local", "broken.xml"});
  EXPECT_EQ(broken.err, "Only one root element is allowed.\nError on line " +
                            std::to_string(std::count(document.begin(), document.end(), '\n') + 1) +
                            ", position 1 in \"" + full_path("broken.xml") + "\".\n");
  EXPECT_EQ(broken.exit_code, 1);
  EXPECT_EQ(read_file(device_), device_before);

  ProgramResult good = run({"-local", "good.xml"});
  EXPECT_EQ(good.err, kLoaded);
  EXPECT_EQ(good.exit_code, 0);
  EXPECT_NE(read_file(device_), device_before);
}

TEST_F(LoadRunTest, DumpOfASavedSnapshotShowsOneLinePerNode) {
  ProgramResult save = run({"-out", "saved.xml"});
  ASSERT_EQ(save.exit_code, 0) << save.err;
  ASSERT_EQ(read_file(dir_ / "saved.xml").substr(0, 2), "\xFF\xFE");

  // The document, the declaration's version and encoding, the comment, the
  // document type, the root with its id and destination count, the root's
  // name text, the first destination and its name, its first control (a
  // volume) with its name, then the two values with their channel numbers,
  // each value followed by its text.
  const std::string expected_start =
      "\n"
      "1.0'UTF-16'\n"
      "\n"
      "\n"
      "0'2'\n"
      "\n"
      "-65536'2'6'4'\n"
      "\n"
      "1'1342373889'65535'0'65535'\n"
      "\n"
      "1'\n"
      "\n"
      "2'\n"
      "\n";
  ProgramResult dump = run({"-t", "saved.xml"});
  EXPECT_EQ(dump.exit_code, 0) << dump.err;
  EXPECT_EQ(dump.out.substr(0, expected_start.size()), expected_start);
}

TEST_F(LoadRunTest, NothingATerminalWouldObeyIsPrinted) {
  // Character references put a C1 control sequence, DEL, a line end and a
  // tab into values (XML allows no other control characters); the name of
  // the document itself holds an escape.
  const std::string name = "bad\x1b[2J.xml";
  write_file(dir_ / "evil.xml",
             "<audio_mixer id=\"&#x9b;31m&#x7f;\" x=\"a&#10;b&#9;c\">C</audio_mixer>");
  ProgramResult dump = run({"-t", "evil.xml"});
  EXPECT_EQ(dump.out, "\n\\x9b31m\\x7f'a\\x0ab\\x09c'\n\n");
#ifdef _WIN32
  return;  // Windows allows no control character in a file name.
#endif
  write_file(dir_ / name, "<a>\n<b x=1/></a>");
  ProgramResult broken = run({name});
  EXPECT_EQ(broken.err.find('\x1b'), std::string::npos) << broken.err;
  EXPECT_NE(broken.err.find("in \"bad\\x1b[2J.xml\""), std::string::npos) << broken.err;
}

// The unit tests hold every way a document can be malformed; here one that
// only the conforming check refuses.
TEST_F(LoadRunTest, MalformedDocumentIsAParseErrorAndChangesNothing) {
  // It would restore the example's master volume to 1000 if it loaded.
  std::string document = read_file(source_dir() / "examples" / "soundcard.xml");
  const std::string volume = "<value ch=\"1\">45875</value>";
  const std::size_t at = document.find(volume);
  ASSERT_NE(at, std::string::npos);
  document.replace(at, volume.size(), "<value ch=\"1\">1000</value>");
  const std::size_t root = document.find("<audio_mixer ");
  const int root_line = static_cast<int>(std::count(document.begin(), document.begin() + root, '\n')) + 1;
  const std::string root_tag = "<audio_mixer id=\"0\" destinations=\"2\">";
  const std::string device_before = read_file(device_);
  document.insert(root + root_tag.size(), "&foo;");
  write_file(dir_ / "bad.xml", document);
  ProgramResult result = run({"-t", "bad.xml"});
  EXPECT_EQ(result.err, "The entity \"&foo;\" is not defined.\nError on line " +
                            std::to_string(root_line) + ", position 38 in \"bad.xml\".\n" + kNotFound);
  EXPECT_EQ(result.out, "\n") << "the document stays empty";
  EXPECT_EQ(result.exit_code, 1);
  EXPECT_EQ(read_file(device_), device_before);
}

// A run whose mixer does not open ends before its load step: whatever
// document it names (read ahead or not) it says only why the mixer did not
// open, as a run without one does.
TEST_F(LoadRunTest, RunWhoseMixerDoesNotOpenSaysNothingOfItsDocument) {
  std::filesystem::copy_file(source_dir() / "examples" / "soundcard.xml", dir_ / "in.xml");
  write_file(dir_ / "bad.xml", kBrokenDocument);
  env_["QUORVEL_MIXER"] = "sim:" + (dir_ / "no-device.xml").string();
  const ProgramResult alone = run({"-out", "out.xml"});
  ASSERT_NE(alone.err, "");
  const struct {
    std::vector<std::string> args;
    int exit_code;
  } cases[] = {
      {{"-out", "out.xml", "in.xml"}, alone.exit_code},
      {{"-out", "out.xml", "bad.xml"}, alone.exit_code},
      {{"-n", "in.xml"}, 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args.back());
    const ProgramResult result = run(c.args);
    EXPECT_EQ(result.err, alone.err);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.exit_code, c.exit_code);
  }
  EXPECT_FALSE(std::filesystem::exists(dir_ / "out.xml"));
}

}  // namespace
}  // namespace quorvel
