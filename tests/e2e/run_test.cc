// The program as a user runs it: arguments, messages, exit status, saved
// files, and the simulated device's file kept across runs.
#include <gtest/gtest.h>

#include <set>

#include "app/console_reporter.h"
#include "platform/sim/sim_backend.h"
#include "support/sim_device_fixture.h"
#include "support/test_util.h"

namespace quorvel {
namespace {

using testing::ProgramResult;
using testing::TempDir;
using testing::read_file;
using testing::run_command;
using testing::run_quorvel;
using testing::source_dir;
using testing::utf16le_to_utf8;
using testing::write_file;

constexpr const char* kUsage =
    "\nUsage: %s <options> [filename]\n"
    "Command Line Quorvel Utility Version 1.0\n"
    "Options are:\n\n"
    "  -url    <url>       Loads audio mixer XML document from specified URL\n"
    "  -local  <infile>    Loads audio mixer XML document from local file\n"
    "  -out    [outfile]   Saves audio mixer XML document to specified file.\n"
    "                      When no filename is specified, sound card name is used. \n"
    "\n";

// The usage text as the tests run the program (by its full path).
std::string usage_text() {
  std::string text = kUsage;
  text.replace(text.find("%s"), 2, testing::quorvel_binary().string());
  return text;
}

constexpr const char* kDeviceName = "Demo PCI Sound Card";

using RunTest = testing::SimDeviceFixture;

TEST_F(RunTest, NoArgumentsPrintsTheUsageText) {
  ProgramResult result = run({});
  EXPECT_EQ(result.err, usage_text());
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.exit_code, 0);
}

TEST_F(RunTest, OutSavesUnderTheDeviceNameOrTheGivenName) {
  ProgramResult result = run({"-out"});
  EXPECT_EQ(result.exit_code, 0) << result.err;
  EXPECT_EQ(result.err, "audio XML file saved OK.");
  std::string saved = read_file(dir_ / (std::string(kDeviceName) + ".xml"));
  ASSERT_GE(saved.size(), 2u);
  EXPECT_EQ(saved.substr(0, 2), "\xFF\xFE");
  std::string text = utf16le_to_utf8(saved);
  EXPECT_EQ(text.rfind("<?xml version=\"1.0\" encoding=\"UTF-16\"?>\n<!--Brevalt Corvane 1.0 -->\n"
                       "<!DOCTYPE audio_mixer SYSTEM \"audio_mixer.dtd\">\n<audio_mixer id=\"0\" ",
                       0),
            0u)
      << text.substr(0, 200);

  result = run({"-out", "name.xml"});
  EXPECT_EQ(result.exit_code, 0) << result.err;
  EXPECT_EQ(read_file(dir_ / "name.xml"), saved);
  // Nothing changed the device, so its file is as it was.
  EXPECT_EQ(read_file(device_), read_file(source_dir() / "examples" / "soundcard.xml"));
}

TEST_F(RunTest, SavedFileLoadsInAnotherXmlTool) {
#ifdef _WIN32
  GTEST_SKIP() << "no xmllint on Windows; the Windows tests load the file with MSXML";
#endif
  ASSERT_EQ(run({"-o", "saved.xml"}).exit_code, 0);
  ProgramResult lint = run_command({"xmllint", "--noout", (dir_ / "saved.xml").string()});
  EXPECT_EQ(lint.exit_code, 0) << lint.err;
}

TEST_F(RunTest, OutputOptionFollowedByAnOptionUsesTheDefaultName) {
  ProgramResult result = run({"-o", "-t"});
  EXPECT_EQ(result.exit_code, 0) << result.err;
  EXPECT_EQ(result.out, "\n");
  EXPECT_TRUE(std::filesystem::exists(dir_ / (std::string(kDeviceName) + ".xml")));
  EXPECT_FALSE(std::filesystem::exists(dir_ / "-t"));
}

TEST_F(RunTest, TreeWithoutFileNamePrintsOneEmptyLine) {
  ProgramResult result = run({"-t"});
  EXPECT_EQ(result.out, "\n");
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.exit_code, 0);
}

// A letter that is no option is passed over, with a note that names it;
// the run goes on as without it: -save restores the file after it.
TEST_F(RunTest, UnknownLettersAreNotedAndPassedOver) {
  ProgramResult result = run({"-x", "-L", "-"});
  EXPECT_EQ(result.err,
            "quorvel: note: \"-x\" is no option (only the letter after the dash counts, and -x "
            "is none); it is passed over\n"
            "quorvel: note: \"-L\" is no option (only the letter after the dash counts, and -L "
            "is none); it is passed over\n"
            "quorvel: note: \"-\" is no option; it is passed over\n");
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.exit_code, 0);

  write_file(dir_ / "backup.xml", read_file(source_dir() / "examples" / "soundcard.xml"));
  result = run({"-save", "backup.xml"});
  EXPECT_EQ(result.err,
            "quorvel: note: \"-save\" is no option (only the letter after the dash counts, and -s "
            "is none); it is passed over\nXML document loaded successfully\n");
  EXPECT_EQ(result.exit_code, 0);
}

TEST_F(RunTest, FailedSaveKeepsTheTargetAndFails) {
  // Into a folder that does not exist.
  ProgramResult result = run({"-out", "missing/saved.xml"});
  // The system's reason on a line of its own, then the fixed text.
#ifdef _WIN32
  EXPECT_EQ(result.err.rfind("quorvel: error: cannot save \"missing/saved.xml\": ", 0), 0u)
      << result.err;
  EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1) << result.err;
  EXPECT_EQ(result.err.substr(result.err.find('\n')), "\nFile not found error.");
#else
  EXPECT_EQ(result.err,
            "quorvel: error: cannot save \"missing/saved.xml\": No such file or directory\n"
            "File not found error.");
#endif
  EXPECT_EQ(result.exit_code, 1);

  // Over a file in a folder that cannot be written: the file keeps its
  // content. (Root may write anywhere; the check needs an ordinary user.
  // Windows folders have no permission bits to take the right away.)
#ifndef _WIN32
  if (geteuid() != 0) {
    std::filesystem::create_directory(dir_ / "locked");
    write_file(dir_ / "locked" / "saved.xml", "old");
    std::filesystem::permissions(dir_ / "locked", std::filesystem::perms::owner_read |
                                                      std::filesystem::perms::owner_exec);
    result = run({"-out", "locked/saved.xml"});
    EXPECT_EQ(result.exit_code, 1);
    EXPECT_EQ(read_file(dir_ / "locked" / "saved.xml"), "old");
  }
#endif
}

TEST_F(RunTest, LongOutputNamesWork) {
  std::string name(250, 'n');
  name += ".xml";
  std::string folder(200, 'f');
  std::filesystem::create_directory(dir_ / folder);
  ProgramResult result = run({"-out", folder + "/" + name});
  EXPECT_EQ(result.exit_code, 0) << result.err;
  EXPECT_TRUE(std::filesystem::exists(dir_ / folder / name));
}

TEST(RunWithoutMixerTest, NoMixerShowsTheMessageAndFails) {
#ifdef _WIN32
  GTEST_SKIP() << "Windows shows the message in a message box; the Windows tests check it";
#endif
  std::error_code no_folder;
  for (const auto& entry : std::filesystem::directory_iterator("/dev/snd", no_folder)) {
    if (entry.path().filename().string().rfind("controlC", 0) == 0) {
      GTEST_SKIP() << "this machine has a sound card";
    }
  }
  // An ALSA configuration of nothing: no default device opens, whatever
  // this machine's own configuration makes the default (a sound server's).
  TempDir config;
  write_file(config / "empty.conf", "");
  const std::map<std::string, std::string> env{{"ALSA_CONFIG_PATH", (config / "empty.conf").string()}};
  TempDir dir;
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{}, std::vector<std::string>{"-out"}}) {
    ProgramResult result = run_quorvel(args, env, dir.path());
    EXPECT_EQ(result.err,
              "Brevalt, Inc.: Tavorin Could not find any mixer drivers on this System!\n");
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.exit_code, 1);
  }
  // QUORVEL_MIXER set but empty is the machine's mixer too, as when unset
  // (env(1) sets it; the harness unsets a variable given empty).
  std::vector<std::string> argv{"/usr/bin/env", "QUORVEL_MIXER=",
                                testing::quorvel_binary().string(), "-out"};
  ProgramResult empty = run_command(argv, env, dir.path());
  EXPECT_EQ(empty.err, "Brevalt, Inc.: Tavorin Could not find any mixer drivers on this System!\n");
  EXPECT_EQ(empty.exit_code, 1);
  EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
}

TEST(RunWithoutMixerTest, BadMixerSettingIsNamed) {
  TempDir dir;
  write_file(dir / "broken.xml", "<audio_mixer id=\"0\">x<destination");
  struct Case {
    std::string value;
    std::string expected;
  } cases[] = {
      {"bogus", "quorvel: error: QUORVEL_MIXER=bogus: "},
      {"sim:" + (dir / "none.xml").string(), "quorvel: error: QUORVEL_MIXER=sim:" + (dir / "none.xml").string() + ": "},
      {"sim:" + (dir / "broken.xml").string(), "quorvel: error: QUORVEL_MIXER=sim:" + (dir / "broken.xml").string() + ": "},
  };
  for (const Case& c : cases) {
    ProgramResult result = run_quorvel({"-out"}, {{"QUORVEL_MIXER", c.value}}, dir.path());
    EXPECT_EQ(result.err.rfind(c.expected, 0), 0u) << result.err;
    EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1) << result.err;
    EXPECT_EQ(result.exit_code, 1);
  }
}

// Help and version are answered before any mixer is looked for: with none
// (QUORVEL_MIXER unset on a machine without a sound card), and even with a
// setting that names no usable mixer, which would otherwise end the run.
TEST(RunWithoutMixerTest, HelpAndVersionNeedNoMixer) {
  TempDir dir;
  const std::map<std::string, std::string> no_mixer;
  const std::map<std::string, std::string> bad_mixer{{"QUORVEL_MIXER", "bogus"}};
  for (const auto* env : {&no_mixer, &bad_mixer}) {
    for (const std::string option : {"-h", "-?", "--help", "-help"}) {
      ProgramResult result = run_quorvel({option}, *env, dir.path());
      EXPECT_TRUE(testing::begins_with(result.out, usage_text())) << option;
      EXPECT_TRUE(testing::holds(result.out, "--dry-run")) << option;
      EXPECT_EQ(result.err, "") << option;
      EXPECT_EQ(result.exit_code, 0) << option;
    }
    ProgramResult result = run_quorvel({"--version"}, *env, dir.path());
    EXPECT_EQ(result.out, "quorvel 1.0\n");
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.exit_code, 0);
  }
  EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
}

// A help request anywhere on the command line wins over the work the other
// arguments ask for: nothing is loaded, applied or saved.
TEST_F(RunTest, HelpAmongOtherOptionsDoesNothingElse) {
  ProgramResult saved = run({"-out", "saved.xml"});
  ASSERT_EQ(saved.exit_code, 0) << saved.err;
  std::filesystem::remove(dir_ / "saved.xml");
  const std::string device_before = read_file(device_);

  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"-out", "new.xml", "-h"},
        std::vector<std::string>{"-local", "saved.xml", "--help", "-out"},
        std::vector<std::string>{"-t", "-?"}, std::vector<std::string>{"-out", "-h"}}) {
    ProgramResult result = run(args);
    EXPECT_TRUE(testing::begins_with(result.out, usage_text())) << args.back();
    EXPECT_EQ(result.err, "") << args.back();
    EXPECT_EQ(result.exit_code, 0) << args.back();
  }
  EXPECT_FALSE(std::filesystem::exists(dir_ / "new.xml"));
  EXPECT_FALSE(std::filesystem::exists(dir_ / "-out"));
  EXPECT_FALSE(std::filesystem::exists(dir_ / (std::string(kDeviceName) + ".xml")));
  EXPECT_EQ(read_file(device_), device_before);

  // The first of help and version wins.
  ProgramResult result = run({"--version", "-h"});
  EXPECT_EQ(result.out, "quorvel 1.0\n");
  EXPECT_EQ(result.exit_code, 0);
  result = run({"-?", "--version"});
  EXPECT_TRUE(testing::begins_with(result.out, usage_text()));
  EXPECT_EQ(result.exit_code, 0);
}

// Long options are whole words with the meaning of their short forms, so
// "--out" saves; any other "--" word is refused before anything happens,
// so that a mistyped option never turns into a restore.
TEST_F(RunTest, LongOptionsSaveAndMistypedOnesDoNothing) {
  ProgramResult saved = run({"--out", "backup.xml"});
  ASSERT_EQ(saved.exit_code, 0) << saved.err;
  ASSERT_TRUE(std::filesystem::exists(dir_ / "backup.xml"));
  // A drifted device, and a backup of another state to restore by mistake.
  write_file(dir_ / "other.xml", read_file(source_dir() / "examples" / "soundcard.xml"));
  const std::string device_before = read_file(device_);

  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"--outt", "x.xml"}, std::vector<std::string>{"--dryrun", "x.xml"},
        std::vector<std::string>{"-n", "--diffs", "x.xml"},
        std::vector<std::string>{"--Help"}}) {
    write_file(dir_ / "x.xml", read_file(dir_ / "backup.xml"));
    ProgramResult result = run(args);
    EXPECT_TRUE(testing::holds(result.err, "unknown option \"" + args[args.size() > 2 ? 1 : 0] + "\""))
        << args[0];
    EXPECT_EQ(result.exit_code, args[0] == "-n" ? 2 : 1) << args[0];
    EXPECT_EQ(result.out, "") << args[0];
  }
  EXPECT_EQ(read_file(device_), device_before);
  EXPECT_FALSE(std::filesystem::exists(dir_ / "Demo PCI Sound Card.xml"));

  // A name after "-o" is a name, even one that begins with an h.
  ProgramResult result = run({"-o", "h.xml"});
  EXPECT_EQ(result.exit_code, 0) << result.err;
  EXPECT_TRUE(std::filesystem::exists(dir_ / "h.xml"));
}

// --follow ends at once, before anything is applied, where it cannot
// follow: a mixer that is no sound server, a profile that does not load, no
// profile, or an option that would save, print or preview.
TEST_F(RunTest, FollowRefusesWhatItCannotFollowAndAppliesNothing) {
  write_file(dir_ / "profile.xml", read_file(source_dir() / "examples" / "usb_headset.xml"));
  const std::string device_before = read_file(device_);
  struct Case {
    std::vector<std::string> args;
    int exit_code;
    const char* said;
  };
  for (const Case& c : {
           Case{{"--follow", "profile.xml"}, 1, "this mixer is not one, and nothing was applied"},
           Case{{"--follow", "missing.xml"}, 1, "File not found error."},
           Case{{"--follow"}, 1, "--follow needs a profile"},
           Case{{"--follow", "-n", "profile.xml"}, 2, "--follow does not go with -n"},
           Case{{"--follow", "-out", "profile.xml"}, 1, "--follow does not go with -out"},
           Case{{"-t", "--follow", "profile.xml"}, 1, "--follow does not go with -t"},
       }) {
    ProgramResult result = run(c.args);
    EXPECT_EQ(result.exit_code, c.exit_code) << c.args.back();
    EXPECT_TRUE(testing::holds(result.err, c.said)) << result.err;
    EXPECT_EQ(result.out, "") << c.args.back();
  }
  EXPECT_EQ(read_file(device_), device_before);
}

// --utf8 saves the same document in UTF-8, declared so, and it loads back
// as the UTF-16 one does.
TEST_F(RunTest, Utf8SavesTheSameDocumentAsText) {
  ASSERT_EQ(run({"-out", "wide.xml"}).exit_code, 0);
  ProgramResult result = run({"--utf8", "-out", "text.xml"});
  ASSERT_EQ(result.exit_code, 0) << result.err;
  std::string wide = utf16le_to_utf8(read_file(dir_ / "wide.xml"));
  wide.replace(wide.find("UTF-16"), 6, "UTF-8");
  EXPECT_EQ(read_file(dir_ / "text.xml"), wide);
  result = run({"-n", "text.xml"});
  EXPECT_EQ(result.exit_code, 0) << result.err;
  EXPECT_TRUE(testing::holds(result.out, "0 values would change")) << result.out;
}

// --show lists the mixer, or a document, and changes nothing; it refuses
// what would preview, print or save.
TEST_F(RunTest, ShowListsTheMixerOrADocumentAndChangesNothing) {
  const std::string device_before = read_file(device_);
  ProgramResult mixer = run({"--show"});
  EXPECT_EQ(mixer.exit_code, 0) << mixer.err;
  EXPECT_EQ(mixer.out.rfind("Mixer \"Demo PCI Sound Card\"\n\nDestination \"Speakers\": 2 channels\n"
                            "  \"Master Volume\": ch 1 45875 (70%), ch 2 45875 (70%)\n"
                            "  \"Master Mute\": off\n",
                            0),
            0u)
      << mixer.out;
  EXPECT_TRUE(testing::holds(mixer.out, "  \"Recording Source\": one of\n      \"CD Audio\"\n"
                                        "      \"Line In\"\n    * \"Microphone\"\n"))
      << mixer.out;
  ASSERT_EQ(run({"-out", "saved.xml"}).exit_code, 0);
  ProgramResult file = run({"--show", "saved.xml"});
  EXPECT_EQ(file.exit_code, 0) << file.err;
  EXPECT_EQ(file.out, mixer.out);
  for (const auto& [args, code] : std::vector<std::pair<std::vector<std::string>, int>>{
           {{"--show", "-out", "x.xml"}, 1}, {{"--show", "-n", "saved.xml"}, 2},
           {{"--show", "-t", "saved.xml"}, 1}, {{"--show", "missing.xml"}, 1}}) {
    ProgramResult refused = run(args);
    EXPECT_EQ(refused.exit_code, code) << args[1];
    EXPECT_EQ(refused.out, "") << args[1];
  }
  EXPECT_FALSE(std::filesystem::exists(dir_ / "x.xml"));
  EXPECT_EQ(read_file(device_), device_before);
}

// A document that loads but pairs with nothing of this mixer says so on one
// line and fails the run; the rest of the run goes on, the save included.
TEST_F(RunTest, DocumentThatMatchesNothingSaysSoAndFails) {
  ASSERT_EQ(run({"-out", "saved.xml"}).exit_code, 0);
  std::string saved = utf16le_to_utf8(read_file(dir_ / "saved.xml"));
  const std::string root = "<audio_mixer id=\"0\"";
  ASSERT_NE(saved.find(root), std::string::npos);
  std::string other_id = saved;
  other_id.replace(other_id.find(root), root.size(), "<audio_mixer id=\"1\"");
  other_id.replace(other_id.find("UTF-16"), 6, "UTF-8");
  write_file(dir_ / "other id.xml", other_id);
  write_file(dir_ / "other kind.xml",
             "<audio_mixer id=\"0\"><destination component_type=\"99\">X<line_control "
             "ctrl_id=\"1\" ctrl_type=\"1342373889\">V<value>1</value></line_control>"
             "</destination></audio_mixer>");
  for (const std::string name : {"other id.xml", "other kind.xml"}) {
    ProgramResult result = run({name, "-out", "after.xml"});
    EXPECT_EQ(result.err, "XML document loaded successfully\nquorvel: error: nothing in \"" +
                              name + "\" matches this mixer; nothing was restored\n"
                              "audio XML file saved OK.");
    EXPECT_EQ(result.exit_code, 1);
    EXPECT_EQ(read_file(dir_ / "after.xml"), read_file(dir_ / "saved.xml"));
  }
  // After a failed load the load has said what went wrong: nothing more.
  ProgramResult result = run({"missing.xml"});
  EXPECT_EQ(result.err.find("matches"), std::string::npos) << result.err;
  EXPECT_EQ(result.err.substr(result.err.size() - 21), "File not found error.");
  EXPECT_EQ(result.exit_code, 1);
}

// A mixer without lines, saved and restored onto itself, matches; a
// document without lines onto a mixer that has them restores nothing, and
// says so.
TEST_F(RunTest, ADocumentOfAMixerWithoutLinesMatchesOnlySuchAMixer) {
  write_file(dir_ / "empty device.xml", "<audio_mixer id=\"0\" destinations=\"0\">Empty</audio_mixer>");
  std::map<std::string, std::string> empty{{"QUORVEL_MIXER", "sim:empty device.xml"}};
  ASSERT_EQ(run_quorvel({"-out", "empty.xml"}, empty, dir_.path()).exit_code, 0);
  ProgramResult same = run_quorvel({"empty.xml"}, empty, dir_.path());
  EXPECT_EQ(same.err, "XML document loaded successfully\n");
  EXPECT_EQ(same.exit_code, 0);
  ProgramResult other = run({"empty.xml"});
  EXPECT_EQ(other.err, "XML document loaded successfully\nquorvel: error: nothing in "
                       "\"empty.xml\" matches this mixer; nothing was restored\n");
  EXPECT_EQ(other.exit_code, 1);
}

#ifndef _WIN32
// What the run prints on standard output must reach it: a dump or a
// preview into a full disk fails the run.
TEST_F(RunTest, StandardOutputThatCannotBeWrittenFailsTheRun) {
  ASSERT_EQ(run({"-out", "saved.xml"}).exit_code, 0);
  for (const auto& [option, status] : {std::pair<std::string, int>{"-t", 1}, {"-n", 2}}) {
    ProgramResult result = testing::run_command(
        {"sh", "-c", "exec \"$0\" " + option + " saved.xml >/dev/full",
         testing::quorvel_binary().string()},
        env_, dir_.path());
    EXPECT_EQ(result.exit_code, status) << option;
    EXPECT_EQ(result.err, "XML document loaded successfully\n"
                          "quorvel: error: cannot write to standard output\n")
        << option;
  }
}
#endif

// The dump shows every node as written, processing instructions included.
TEST_F(RunTest, TreeShowsProcessingInstructions) {
  write_file(dir_ / "pi.xml",
             "<?xml version=\"1.0\"?><?app x?><audio_mixer id=\"0\"><?app y?></audio_mixer>");
  ProgramResult result = run({"-t", "pi.xml"});
  EXPECT_EQ(result.out, "\n1.0'\n\n0'\n\n");
}

TEST_F(RunTest, SimulatedDeviceKeepsItsStateInItsFile) {
  const std::string original = read_file(device_);
  std::vector<std::int32_t> volume;
  {
    const std::unique_ptr<SimDeviceRun> run = testing::value_of(SimDeviceRun::open(device_, console()));
    ASSERT_NE(run, nullptr);
    EXPECT_TRUE(run->locked());

    // Unchanged: the file is not rewritten.
    ASSERT_TRUE(testing::succeeded(run->save()));
    EXPECT_EQ(read_file(device_), original);

    ASSERT_EQ(write_control(run->mixer(), 2, {1}), kMixerOk);  // master mute on
    ASSERT_TRUE(testing::succeeded(run->save()));
    EXPECT_NE(read_file(device_), original);
    volume = run->sim().values(1);
  }  // the device's lock goes with the run

  const std::unique_ptr<SimDeviceRun> reloaded =
      testing::value_of(SimDeviceRun::open(device_, console()));
  ASSERT_NE(reloaded, nullptr);
  EXPECT_EQ(reloaded->sim().values(2), (std::vector<std::int32_t>{1, 1}));
  EXPECT_EQ(reloaded->sim().values(1), volume);
  // Nothing is left beside it: no temporary file, and no lock file (the
  // lock is the device file's own).
  std::set<std::string> files;
  for (const auto& entry : std::filesystem::directory_iterator(dir_.path())) {
    files.insert(entry.path().filename().string());
  }
  EXPECT_EQ(files, (std::set<std::string>{"device.xml"}));
}

}  // namespace
}  // namespace quorvel
