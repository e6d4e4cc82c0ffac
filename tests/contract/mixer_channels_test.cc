// The mixer contract (platform/mixer/mixer.h), the clauses about channels
// and bounds: what every line, every channel and every value read shows.
// Run against every back-end with the rest of the suite.
#include <gtest/gtest.h>

#include <cstdint>
#include <set>
#include <vector>

#include "contract/mixer_contract.h"
#include "platform/mixer/control_bounds.h"

namespace quorvel::testing {
namespace {

TEST_P(MixerContractTest, LinesWithoutChannelsShowNoControls) {
  REQUIRE_FEATURE(Feature::kLineWithoutChannels);
  std::size_t silent = 0;
  for (const ModelLine& line : layout_->lines) {
    if (line.channels != 0) continue;
    SCOPED_TRACE(line.name);
    ++silent;
    // Whatever controls the line holds, none is found by its id.
    for (std::size_t c : line.controls) {
      const std::uint32_t id = layout_->controls[c].id;
      EXPECT_EQ(layout_->control_by_id(id), nullptr) << id;
      ValueRead read{id, 1, {}, kMixerOk};
      mixer_->read(0, {&read, 1});
      EXPECT_EQ(read.result, kMixerNoControl) << id;
    }
  }
  EXPECT_GT(silent, 0u) << "the back-end said it has a line without channels";
}

TEST_P(MixerContractTest, ValuesReadLieWithinTheirBounds) {
  // (A back-end that answers reads of its sources' controls without
  // keeping them fills in nothing there.)
  for (const ControlView& view : controls([this](const ControlView& v) {
         return !v.is_list() && (has(Feature::kSourceWrites) || !v.on_source());
       })) {
    SCOPED_TRACE(view.name());
    for (std::uint32_t channels : channel_counts(view)) {
      for (std::int32_t value : values_of(view, channels)) {
        EXPECT_TRUE(within_bounds(view.min(), view.max(), value))
            << value << " outside " << view.min() << ".." << view.max();
      }
    }
  }
}

// Every channel of a control that keeps them apart is written and read as
// itself, on lines of any width: no channel takes another's value.
TEST_P(MixerContractTest, EveryChannelIsItsOwn) {
  REQUIRE_FEATURE(Feature::kWrites);
  REQUIRE_FEATURE(Feature::kPerChannelValues);
  const std::vector<ControlView> apart = controls([this](const ControlView& v) {
    return settable(v) && v.channels() >= 2 && !v.control->uniform;
  });
  ASSERT_FALSE(apart.empty());
  for (const ControlView& view : apart) {
    SCOPED_TRACE(view.name());
    const std::int32_t min = view.min();
    const std::int32_t max = view.max();
    // Alternating bounds, then the other way round.
    for (int phase = 0; phase < 2; ++phase) {
      Values values(view.channels());
      for (std::size_t k = 0; k < values.size(); ++k) values[k] = (k + phase) % 2 ? max : min;
      ASSERT_EQ(write(view, values), kMixerOk);
      EXPECT_EQ(values_of(view, view.channels()), values);
      EXPECT_EQ(values_of(view, 1), Values{values[0]}) << "channel 1 alone";
    }
    // A value of its own in every channel, spread over the bounds, where
    // they hold enough. A device may keep a value in steps of its own: each
    // is compared with what a write of that value to the whole control keeps.
    if (min > max) continue;
    const std::int64_t span = static_cast<std::int64_t>(max) - min;
    Values values(view.channels());
    Values kept(view.channels());
    for (std::size_t k = 0; k < values.size(); ++k) {
      values[k] = static_cast<std::int32_t>(min + span * static_cast<std::int64_t>(k + 1) /
                                                      (static_cast<std::int64_t>(values.size()) + 1));
      ASSERT_EQ(write(view, {values[k]}), kMixerOk);
      kept[k] = values_of(view, 1).front();
    }
    if (std::set<std::int32_t>(kept.begin(), kept.end()).size() < kept.size()) continue;
    ASSERT_EQ(write(view, values), kMixerOk);
    EXPECT_EQ(values_of(view, view.channels()), kept);
  }
}

TEST_P(MixerContractTest, UniformControlsHoldOneValue) {
  REQUIRE_FEATURE(Feature::kWrites);
  const std::vector<ControlView> uniform = controls([this](const ControlView& v) {
    return settable(v) && v.channels() >= 2 && v.control->uniform && v.min() < v.max();
  });
  if (uniform.empty()) GTEST_SKIP() << "no uniform control on a line of several channels";
  for (const ControlView& view : uniform) {
    SCOPED_TRACE(view.name());
    for (std::int32_t first : {view.max(), view.min()}) {
      Values values(view.channels(), first);
      values.back() = first == view.max() ? view.min() : view.max();
      ASSERT_EQ(write(view, values), kMixerOk);
      for (std::uint32_t channels : channel_counts(view)) {
        EXPECT_EQ(values_of(view, channels), Values(channels, first))
            << "the first value, in every channel";
      }
    }
  }
}

}  // namespace
}  // namespace quorvel::testing
