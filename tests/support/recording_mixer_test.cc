// The tests' recording mixer: calls, handles and injected failures, over
// the simulated device.
#include "support/recording_mixer.h"

#include <gtest/gtest.h>

#include "platform/mixer/control_values.h"
#include "platform/sim/sim_mixer.h"

namespace quorvel::testing {
namespace {

SimDevice small_device() {
  SimDevice device;
  device.name = "Card";
  SimDestination out;
  out.line_id = 0xFFFF0000u;
  out.controls = {sim_control(1, ctrl::kVolume, "Volume", 0, 65535, 65535, {100, 200}),
                  sim_control(2, ctrl::kPan, "Pan", -32768, 32767, 65535, {0})};
  for (const char* name : {"A", "B"}) {
    SimSource source;
    source.name = name;
    out.sources.push_back(source);
  }
  device.destinations.push_back(out);
  return device;
}

TEST(RecordingMixerTest, CountsCallsAndHandles) {
  SimMixer mixer(small_device());
  RecordingMixer recorder(mixer);
  {
    MixerHandle a, b;
    ASSERT_EQ(recorder.open(0, a), MMSYSERR_NOERROR);
    ASSERT_EQ(recorder.open(0, b), MMSYSERR_NOERROR);
    EXPECT_NE(a.id(), b.id());
    EXPECT_EQ(recorder.open_handles(), 2u);
    a.close();
    EXPECT_EQ(recorder.open_handles(), 1u);
    MixerCaps caps;
    EXPECT_EQ(recorder.get_dev_caps(b, caps), MMSYSERR_NOERROR);
    EXPECT_EQ(name_of(caps.szPname), "Card");
    // A handle of the wrapped service is not one of the recorder's.
    MixerHandle inner;
    ASSERT_EQ(mixer.open(0, inner), MMSYSERR_NOERROR);
    EXPECT_EQ(recorder.get_dev_caps(inner, caps), MMSYSERR_INVALHANDLE);
  }
  EXPECT_EQ(recorder.open_handles(), 0u);
  EXPECT_EQ(recorder.calls(MixerOp::kOpen), 2u);
  EXPECT_EQ(recorder.calls(MixerOp::kClose), 2u);
  EXPECT_EQ(recorder.calls(MixerOp::kDevCaps), 2u);
  EXPECT_EQ(recorder.total_calls(), 6u);
  recorder.reset_calls();
  EXPECT_EQ(recorder.total_calls(), 0u);
}

TEST(RecordingMixerTest, InjectedFailuresForEveryCallForACountOrForOneId) {
  SimMixer mixer(small_device());
  RecordingMixer recorder(mixer);
  recorder.fail_next(MixerOp::kDeviceCount, MMSYSERR_NODRIVER, 1);
  EXPECT_EQ(recorder.device_count(), 0u);
  EXPECT_EQ(recorder.device_count(), 1u);
  recorder.fail_next(MixerOp::kOpen, MMSYSERR_NOMEM, 2);
  MixerHandle h;
  EXPECT_EQ(recorder.open(0, h), MMSYSERR_NOMEM);
  EXPECT_EQ(recorder.open(0, h), MMSYSERR_NOMEM);
  EXPECT_FALSE(h.is_open());
  ASSERT_EQ(recorder.open(0, h), MMSYSERR_NOERROR);
  recorder.fail_next(MixerOp::kDevCaps, MMSYSERR_ERROR);
  MixerCaps caps;
  EXPECT_EQ(recorder.get_dev_caps(h, caps), MMSYSERR_ERROR);
  EXPECT_EQ(recorder.get_dev_caps(h, caps), MMSYSERR_ERROR);
  recorder.clear_failures();
  EXPECT_EQ(recorder.get_dev_caps(h, caps), MMSYSERR_NOERROR);

  // One line, once: found by index.
  recorder.fail_on(MixerOp::kLineInfo, sim_source_line_id(0, 1), MMSYSERR_ERROR, 1);
  MixerLine line;
  line.dwSource = 0;
  EXPECT_EQ(recorder.get_line_info(h, line, LineQuery::kSource), MMSYSERR_NOERROR);
  line.dwSource = 1;
  EXPECT_EQ(recorder.get_line_info(h, line, LineQuery::kSource), MMSYSERR_ERROR);
  EXPECT_EQ(recorder.get_line_info(h, line, LineQuery::kSource), MMSYSERR_NOERROR);
  // A call that fails anyway keeps its own result and leaves the failure.
  recorder.fail_on(MixerOp::kLineInfo, sim_source_line_id(0, 1), MMSYSERR_ERROR, 1);
  line.dwSource = 5;
  EXPECT_EQ(recorder.get_line_info(h, line, LineQuery::kSource), MIXERR_INVALLINE);
  line.dwSource = 1;
  EXPECT_EQ(recorder.get_line_info(h, line, LineQuery::kSource), MMSYSERR_ERROR);

  // A control by id is about its line.
  recorder.fail_on(MixerOp::kLineControls, 0xFFFF0000u, MMSYSERR_ERROR, 1);
  MixerControl control;
  MixerLine owner;
  EXPECT_EQ(find_control(h, 2, control, owner), MMSYSERR_ERROR);

  // A write about the control is not made at all.
  recorder.fail_on(MixerOp::kSetDetails, 1, MMSYSERR_ERROR);
  std::vector<std::int32_t> values{7};
  EXPECT_EQ(write_control_values(h, 1, 1, 0, values), MMSYSERR_ERROR);
  EXPECT_EQ(mixer.values(1), (std::vector<std::int32_t>{100, 200}));
  EXPECT_FALSE(mixer.changed());
  EXPECT_EQ(write_control_values(h, 2, 1, 0, values), MMSYSERR_NOERROR);
  EXPECT_TRUE(mixer.changed());
  recorder.fail_on(MixerOp::kGetDetails, 2, MMSYSERR_ERROR, 1);
  EXPECT_EQ(read_control_values(h, 2, 1, 0, values), MMSYSERR_ERROR);
  EXPECT_EQ(read_control_values(h, 2, 1, 0, values), MMSYSERR_NOERROR);
  EXPECT_EQ(values, (std::vector<std::int32_t>{7}));

  EXPECT_EQ(recorder.calls(MixerOp::kSetDetails), 2u);
  EXPECT_EQ(recorder.calls(MixerOp::kLineInfo), 5u);

  // A failing close leaves the handle open.
  recorder.fail_next(MixerOp::kClose, MMSYSERR_ERROR, 1);
  h.close();
  EXPECT_EQ(recorder.open_handles(), 1u);
}

}  // namespace
}  // namespace quorvel::testing
