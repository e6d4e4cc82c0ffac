// The tests' recording mixer: calls and entries counted, injected failures,
// over the simulated device.
#include "support/recording_mixer.h"

#include <gtest/gtest.h>

#include <vector>

#include "platform/sim/sim_device_file.h"
#include "platform/sim/sim_mixer.h"

namespace quorvel::testing {
namespace {

using Values = std::vector<std::int32_t>;

// Names are the text that opens their element, so none is followed by a
// line break.
constexpr const char* kCard = R"(<audio_mixer>Card<destination line_id="-65536" channels="2"
 component_type="4">Out<line_control ctrl_id="1" ctrl_type="1342373889" steps="65535" min="0"
 max="65535">Volume<value>100</value><value>200</value></line_control><line_control ctrl_id="2"
 ctrl_type="1073872897" steps="65535" min="-32768" max="32767">Pan<value>0</value></line_control>
</destination></audio_mixer>)";

SimDevice card() {
  SimDevice device;
  const Result loaded = load_sim_device_bytes(kCard, "card.xml", device);
  EXPECT_TRUE(loaded) << loaded.message();
  return device;
}

std::vector<ValueRead> reads_of(std::initializer_list<std::uint32_t> ids) {
  std::vector<ValueRead> reads;
  for (std::uint32_t id : ids) reads.push_back(ValueRead{id, 1, {}, kMixerOk});
  return reads;
}

TEST(RecordingMixerTest, PassesCallsOnAndCountsThemAndTheirEntries) {
  SimMixer mixer(card());
  RecordingMixer recorder(mixer);
  EXPECT_EQ(recorder.device_count(), 1u);
  const ModelLayout* layout = nullptr;
  ASSERT_EQ(recorder.describe(0, layout), kMixerOk);
  ASSERT_NE(layout, nullptr);
  EXPECT_EQ(layout->name, "Card");
  std::vector<ValueRead> reads = reads_of({1, 2, 9});
  reads[0].channels = 2;
  recorder.read(0, reads);
  EXPECT_EQ(reads[0].values, (Values{100, 200}));
  EXPECT_EQ(reads[2].result, kMixerNoControl);
  EXPECT_EQ(write_control(recorder, 2, {7}), kMixerOk);
  EXPECT_EQ(mixer.values(2), (Values{7, 7}));

  EXPECT_EQ(recorder.entries(MixerOp::kRead), 3u);
  EXPECT_EQ(recorder.entries(MixerOp::kWrite), 1u);
  EXPECT_EQ(recorder.total_calls(), 4u);
  recorder.reset_calls();
  EXPECT_EQ(recorder.total_calls(), 0u);
  EXPECT_EQ(recorder.entries(MixerOp::kRead), 0u);
}

TEST(RecordingMixerTest, FailedCallsAreNotPassedOn) {
  SimMixer mixer(card());
  RecordingMixer recorder(mixer);
  recorder.fail_next(MixerOp::kDeviceCount, kMixerFailed, 1);
  EXPECT_EQ(recorder.device_count(), 0u);
  EXPECT_EQ(recorder.device_count(), 1u);
  recorder.fail_next(MixerOp::kDescribe, kMixerNoMemory, 1);
  const ModelLayout* layout = nullptr;
  EXPECT_EQ(recorder.describe(0, layout), kMixerNoMemory);
  EXPECT_EQ(layout, nullptr);
  EXPECT_EQ(recorder.describe(0, layout), kMixerOk);

  recorder.fail_next(MixerOp::kRead, kMixerGone);
  recorder.fail_next(MixerOp::kWrite, kMixerGone);
  for (int call = 0; call < 2; ++call) {
    std::vector<ValueRead> reads = reads_of({1, 2});
    recorder.read(0, reads);
    for (const ValueRead& read : reads) {
      EXPECT_EQ(read.result, kMixerGone);
      EXPECT_TRUE(read.values.empty());
    }
    EXPECT_EQ(write_control(recorder, 1, {5}), kMixerGone);
  }
  EXPECT_FALSE(mixer.changed());
  recorder.clear_failures();
  EXPECT_EQ(write_control(recorder, 1, {5}), kMixerOk);
  EXPECT_EQ(recorder.calls(MixerOp::kWrite), 3u);
}

TEST(RecordingMixerTest, FailuresAboutOneControlTouchOnlyItsEntries) {
  SimMixer mixer(card());
  RecordingMixer recorder(mixer);
  // A read is made and its success replaced, once.
  recorder.fail_on(MixerOp::kRead, 1, kMixerFailed, 1);
  std::vector<ValueRead> reads = reads_of({1, 2});
  reads[0].channels = 2;
  recorder.read(0, reads);
  EXPECT_EQ(reads[0].result, kMixerFailed);
  EXPECT_EQ(reads[0].values, (Values{0, 0}));
  EXPECT_EQ(reads[1].result, kMixerOk);
  recorder.read(0, reads);
  EXPECT_EQ(reads[0].result, kMixerOk);
  EXPECT_EQ(reads[0].values, (Values{100, 200}));
  // An entry that fails anyway keeps its own result and leaves the failure.
  recorder.fail_on(MixerOp::kRead, 1, kMixerFailed, 1);
  reads[0].channels = 3;
  recorder.read(0, reads);
  EXPECT_EQ(reads[0].result, kMixerBadShape);
  reads[0].channels = 1;
  recorder.read(0, reads);
  EXPECT_EQ(reads[0].result, kMixerFailed);

  // A write entry about the control is not made; the others of its call
  // are, up to one that finds the mixer gone: that one is in doubt and no
  // later one is made.
  recorder.fail_on(MixerOp::kWrite, 1, kMixerFailed, 1);
  recorder.fail_on(MixerOp::kWrite, 1, kMixerGone, 1);
  std::vector<ValueWrite> writes{{1, {5}, kMixerOk, false}, {2, {-9}, kMixerOk, false},
                                 {1, {6}, kMixerOk, false}, {2, {7}, kMixerOk, false}};
  recorder.write(0, writes);
  EXPECT_EQ(writes[0].result, kMixerFailed);
  EXPECT_FALSE(writes[0].in_doubt);
  EXPECT_EQ(writes[1].result, kMixerOk);
  EXPECT_EQ(writes[1].values, (Values{-9}));
  EXPECT_EQ(writes[2].result, kMixerGone);
  EXPECT_TRUE(writes[2].in_doubt);
  EXPECT_EQ(writes[3].result, kMixerGone);
  EXPECT_EQ(mixer.values(1), (Values{100, 200}));
  EXPECT_EQ(mixer.values(2), (Values{-9, -9}));
}

}  // namespace
}  // namespace quorvel::testing
