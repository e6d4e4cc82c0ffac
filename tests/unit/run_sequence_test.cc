// The run sequence on a simulated device: what a restore reads of the mixer.
#include <gtest/gtest.h>

#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include "app/run.h"
#include "support/example_device.h"
#include "support/recording_mixer.h"
#include "support/test_util.h"

namespace quorvel {
namespace {

using testing::CaptureStream;
using testing::MixerOp;
using testing::RecordingMixer;

// The line queries of one run on a fresh example sound card.
std::size_t line_queries(const std::vector<std::string>& args) {
  auto mixer = testing::example_mixer("soundcard.xml");
  if (!mixer) return 0;
  RecordingMixer recorder(*mixer);
  CaptureStream err(std::cerr);
  EXPECT_EQ(run_sequence(args, &recorder), 0) << err.text();
  return recorder.calls(MixerOp::kLineInfo);
}

// A restore reads the whole mixer again after applying, saved or not; a
// save after it saves that snapshot without reading the mixer once more.
TEST(RunSequenceTest, ARestoreRebuildsTheSnapshotOnce) {
  testing::TempDir dir;
  const std::string input = (testing::source_dir() / "examples" / "usb_headset.xml").string();
  const std::string output = (dir / "after.xml").string();

  const std::size_t snapshot = line_queries({"quorvel"});
  ASSERT_GT(snapshot, 0u);
  const std::size_t restore = line_queries({"quorvel", input});
  const std::size_t restore_and_save = line_queries({"quorvel", input, "-out", output});
  EXPECT_GE(restore, 2 * snapshot);
  EXPECT_EQ(restore_and_save, restore);
  EXPECT_TRUE(std::filesystem::exists(output));
}

}  // namespace
}  // namespace quorvel
