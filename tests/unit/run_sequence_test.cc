// The run sequence on a simulated device: what a restore reads of the mixer.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include <filesystem>
#include <iostream>
#include <memory>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "app/console_reporter.h"
#include "app/load_step.h"
#include "app/mixer_select.h"
#include "app/run.h"
#include "docio/load.h"
#include "platform/mixer/mixer.h"
#include "platform/sim/sim_mixer.h"
#include "support/example_device.h"
#include "support/recording_mixer.h"
#include "support/test_util.h"

namespace quorvel {
namespace {

using testing::CaptureStream;
using testing::MixerOp;
using testing::RecordingMixer;

// The control values one run reads on a fresh example sound card.
std::size_t values_read(const std::vector<std::string>& args) {
  auto mixer = testing::example_mixer("soundcard.xml");
  if (!mixer) return 0;
  RecordingMixer recorder(*mixer);
  CaptureStream err(std::cerr);
  EXPECT_EQ(run_sequence(args, &recorder), 0) << err.text();
  return recorder.entries(MixerOp::kRead);
}

// A restore reads the whole mixer again after applying, saved or not; a
// save after it saves that snapshot without reading the mixer once more.
TEST(RunSequenceTest, ARestoreRebuildsTheSnapshotOnce) {
  testing::TempDir dir;
  const std::string input = (testing::source_dir() / "examples" / "usb_headset.xml").string();
  const std::string output = (dir / "after.xml").string();

  const std::size_t snapshot = values_read({"quorvel"});
  ASSERT_GT(snapshot, 0u);
  const std::size_t restore = values_read({"quorvel", input});
  const std::size_t restore_and_save = values_read({"quorvel", input, "-out", output});
  EXPECT_GE(restore, 2 * snapshot);
  EXPECT_EQ(restore_and_save, restore);
  EXPECT_TRUE(std::filesystem::exists(output));
}

// What one run showed: its messages, its status and the device file after it.
struct RunSeen {
  int status = -1;
  std::string out;
  std::string err;
  std::string device;
};

// Runs `args` as the program does on a fresh copy of the example sound card
// (none: no mixer), the document's load begun ahead of opening the mixer or
// not. Whether a load was begun goes to `begun`.
RunSeen run_on_copy(const std::filesystem::path& device, const std::vector<std::string>& args,
                    bool with_mixer, bool ahead, bool& begun) {
  std::filesystem::copy_file(testing::source_dir() / "examples" / "soundcard.xml", device,
                             std::filesystem::copy_options::overwrite_existing);
  RunSeen seen;
  testing::CaptureStream out(std::cout);
  testing::CaptureStream err(std::cerr);
  PreparedLoad prepared = ahead ? begin_load_step(args.back(), false, false) : PreparedLoad();
  begun = prepared.begun();
  std::unique_ptr<OpenedMixer> mixer;
  if (with_mixer) {
    MixerOpening opened = open_mixer("sim:" + device.string(), console());
    EXPECT_TRUE(testing::succeeded(opened));
    if (opened) mixer = std::move(opened).value();
  }
  auto keep = [&]() -> Result { return mixer ? mixer->keep_changes() : Result(); };
  seen.status = run_sequence(args, mixer ? &mixer->mixer() : nullptr, keep,
                             ahead ? &prepared : nullptr);
  mixer.reset();
  seen.out = out.text();
  seen.err = err.text();
  seen.device = testing::read_file(device);
  return seen;
}

// A document loaded ahead, while the mixer is opened, and one loaded in its
// turn give the same run: messages, status and the device restored.
TEST(RunSequenceTest, ALoadBegunAheadRunsAsALoadInItsTurn) {
  testing::TempDir dir;
  std::string changed = testing::read_file(testing::source_dir() / "examples" / "soundcard.xml");
  for (std::size_t at = changed.find(">45875<"); at != std::string::npos;
       at = changed.find(">45875<")) {
    changed.replace(at, 7, ">12345<");
  }
  // Both large enough to be loaded ahead.
  const std::string padding = "<!--" + std::string(PreparedLoad::kMinBytes, '.') + "-->\n";
  testing::write_file(dir / "good.xml", changed + padding);
  testing::write_file(dir / "bad.xml",
                      "<audio_mixer id=\"0\">\n<destination>\n<line_control x=1/>" + padding +
                          "</destination>");
  std::filesystem::create_directory(dir / "folder");
  const std::string original =
      testing::read_file(testing::source_dir() / "examples" / "soundcard.xml");

  const struct {
    const char* name;
    std::vector<std::string> args;
    bool with_mixer;
    bool begun;          // whether the load can be begun ahead
    bool restored;       // whether the device changed
    const char* err_has;  // what the messages hold
  } cases[] = {
      {"good", {"good.xml"}, true, true, true, "XML document loaded successfully\n"},
      {"good and saved", {"-out", "out.xml", "good.xml"}, true, true, true, "saved OK"},
      {"tree", {"-t", "good.xml"}, true, true, true, "XML document loaded successfully\n"},
      {"preview", {"-n", "good.xml"}, true, true, false, "XML document loaded successfully\n"},
      {"malformed", {"bad.xml"}, true, true, false, "Error on line 3, position 17"},
      {"missing", {"none.xml"}, true, false, false, "File not found error."},
      {"folder", {"folder"}, true, false, false, "File not found error."},
      {"no mixer", {"good.xml"}, false, true, false, "Could not find any mixer"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> args{"quorvel"};
    for (const std::string& arg : c.args) {
      args.push_back(arg == "out.xml" ? (dir / arg).string() : arg);
    }
    args.back() = (dir / args.back()).string();
    bool begun = false;
    const RunSeen in_turn = run_on_copy(dir / "in_turn.xml", args, c.with_mixer, false, begun);
    std::filesystem::remove(dir / "out.xml");
    const RunSeen ahead = run_on_copy(dir / "ahead.xml", args, c.with_mixer, true, begun);
    EXPECT_EQ(begun, c.begun);
    EXPECT_EQ(ahead.status, in_turn.status);
    EXPECT_EQ(ahead.out, in_turn.out);
    EXPECT_EQ(ahead.err, in_turn.err);
    EXPECT_EQ(ahead.device, in_turn.device);
    EXPECT_NE(ahead.err.find(c.err_has), std::string::npos) << ahead.err;
    EXPECT_EQ(ahead.device != original, c.restored);
    if (!c.with_mixer) {
      EXPECT_EQ(ahead.err.find("XML document"), std::string::npos);
    }
  }
}

// A mixer that is one device until the run lets go of it while it waits
// for its document, and another when it takes it again.
class SwitchedMixer final : public Mixer {
 public:
  SwitchedMixer(Mixer& before, Mixer& after) : current_(&before), after_(&after) {}
  void switch_over() { current_ = after_; }

  unsigned device_count() override { return current_->device_count(); }
  MixerResult describe(unsigned device, const ModelLayout*& layout) override {
    return current_->describe(device, layout);
  }
  void read(unsigned device, std::span<ValueRead> reads) override {
    current_->read(device, reads);
  }
  void write(unsigned device, std::span<ValueWrite> writes) override {
    current_->write(device, writes);
  }

 private:
  Mixer* current_;
  Mixer* after_;
};

// A mixer whose controls were numbered anew while the run waited for its
// document (a -url load lets go of it) is described again before the
// document is paired with it: the document's controls go to the controls
// of the same names under their new numbers. Told that nothing changed,
// the run pairs against the numbers it saw first, which the mixer no
// longer has.
TEST(RunSequenceTest, AMixerChangedDuringTheWaitIsDescribedAgain) {
  testing::TempDir dir;
  std::string changed = testing::read_file(testing::source_dir() / "examples" / "soundcard.xml");
  for (std::size_t at = changed.find(">45875<"); at != std::string::npos;
       at = changed.find(">45875<")) {
    changed.replace(at, 7, ">12345<");
  }
  const std::string input = (dir / "changed.xml").string();
  testing::write_file(input, changed);

  for (const bool told : {true, false}) {
    SCOPED_TRACE(told ? "told it changed" : "not told");
    auto before = testing::example_mixer("soundcard.xml");
    ASSERT_TRUE(before);
    SimDevice renumbered = before->device();
    for (SimDestination& destination : renumbered.destinations) {
      for (SimControl& control : destination.controls) control.id += 1000;
      for (SimSource& source : destination.sources) {
        for (SimControl& control : source.controls) control.id += 1000;
      }
    }
    SimMixer after(std::move(renumbered));
    SwitchedMixer mixer(*before, after);
    MixerWait wait;
    wait.pause = [&] { mixer.switch_over(); };
    wait.resume = [&] { return Expected<bool>(told); };
    CaptureStream err(std::cerr);
    const int status = run_sequence({"quorvel", "-url", input}, &mixer, {}, nullptr, wait);
    if (told) {
      EXPECT_EQ(status, 0) << err.text();
      EXPECT_EQ(err.text(), "Downloading XML document URL\nXML document loaded successfully\n");
      EXPECT_EQ(after.values(1001), (std::vector<std::int32_t>{12345, 12345}));
    } else {
      EXPECT_EQ(status, 1) << err.text();
      EXPECT_EQ(after.values(1001), (std::vector<std::int32_t>{45875, 45875}));
    }
    EXPECT_EQ(before->values(1), (std::vector<std::int32_t>{45875, 45875}))
        << "the mixer let go of is not written";
  }
}

// A preview that saves a mixer it cannot describe saves what its snapshot
// then holds, a document that loads again: the prolog and an empty root.
TEST(RunSequenceTest, APreviewSavesAMixerItCannotDescribeAsAnEmptyRoot) {
  auto mixer = testing::example_mixer("soundcard.xml");
  ASSERT_TRUE(mixer);
  RecordingMixer recorder(*mixer);
  recorder.fail_next(MixerOp::kDescribe, kMixerFailed);
  testing::TempDir dir;
  const std::string input = (testing::source_dir() / "examples" / "soundcard.xml").string();
  const std::filesystem::path output = dir / "out.xml";
  CaptureStream err(std::cerr);
  EXPECT_EQ(run_sequence({"quorvel", "-n", input, "-out", output.string()}, &recorder), 2);
  EXPECT_TRUE(testing::holds(err.text(), "audio XML file saved OK."));

  InputDocument saved;
  ASSERT_TRUE(testing::succeeded(load_from_bytes(saved, testing::read_file(output), "out.xml")));
  const DocNode root = saved.document.document_element();
  EXPECT_TRUE(root.is("audio_mixer"));
  EXPECT_EQ(root.attribute_value("id"), "0");
  EXPECT_EQ(root.attribute_value("destinations"), "0");
  EXPECT_FALSE(root.first_child());
}

// Only a regular file on the plain path is read ahead, and only one large
// enough to be worth a thread: a FIFO or a device would be consumed by it,
// a URL is fetched in its turn, and the stream path opens its source
// itself.
TEST(RunSequenceTest, OnlyARegularFileOnThePlainPathIsLoadedAhead) {
  testing::TempDir dir;
  const std::string file = (dir / "in.xml").string();
  testing::write_file(file, "<audio_mixer>" + std::string(PreparedLoad::kMinBytes, ' ') +
                                "</audio_mixer>");
  const std::string small = (dir / "small.xml").string();
  testing::write_file(small, "<audio_mixer/>");
  const struct {
    std::string name;
    bool local;
    bool url;
    bool begun;
  } cases[] = {
      {file, false, false, true},
      {file, true, false, false},
      {file, false, true, false},
      {small, false, false, false},
      {"http://localhost:1/in.xml", false, false, false},
      {"HTTPS://localhost:1/in.xml", false, false, false},
      {"/dev/stdin", false, false, false},
      {"/dev/null", false, false, false},
      {"/proc/self/fd/0", false, false, false},
      {"", false, false, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(begin_load_step(c.name, c.local, c.url).begun(), c.begun);
  }
  EXPECT_FALSE(begin_load_step(std::nullopt, false, false).begun());
#ifndef _WIN32
  const std::string fifo = (dir / "fifo.xml").string();
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_FALSE(begin_load_step(fifo, false, false).begun());
#endif
}

}  // namespace
}  // namespace quorvel
