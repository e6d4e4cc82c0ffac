#include "platform/alsa/alsa_volume_scale.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace quorvel {
namespace {

struct Failure {
  std::uint64_t count = 0;
  std::string first;
};

// Counts a failure; `describe` is called for the first one only, so that
// a wrong mapping still fails quickly.
template <typename Describe>
void note(Failure& failure, Describe describe) {
  if (failure.count++ == 0) failure.first = describe();
}

// Every raw range of up to 65,536 values (max - min from 0 to 65535), every
// raw value in it: raw -> shown -> raw gives the raw value back, the shown
// values rise strictly, and the range's ends are shown as 0 and 65535. The
// ranges start at varied offsets, negative ones included.
TEST(AlsaVolumeScaleTest, EveryRawValueOfEveryRangeUpTo65536StepsComesBackExactly) {
  Failure failure;
  for (std::uint32_t span = 0; span <= kVolumeSpan; ++span) {
    const long long min = static_cast<long long>(span % 7) * 1000 - static_cast<long long>(span / 2);
    const AlsaVolumeScale scale{min, min + span};
    if (!scale.mapped() || scale.shown_min() != 0 || scale.shown_max() != 65535) {
      note(failure, [&] { return "span " + std::to_string(span) + " is not shown as 0..65535"; });
      continue;
    }
    if (scale.to_shown(min) != 0 || (span > 0 && scale.to_shown(min + span) != 65535)) {
      note(failure, [&] { return "span " + std::to_string(span) + ": ends not 0 and 65535"; });
    }
    std::int32_t previous = -1;
    for (long long raw = min; raw <= min + span; ++raw) {
      const std::int32_t shown = scale.to_shown(raw);
      long long back = 0;
      if (shown <= previous || !scale.to_raw(shown, back) || back != raw) {
        note(failure, [&] {
          return "span " + std::to_string(span) + ", raw " + std::to_string(raw) + " -> " +
                 std::to_string(shown) + " -> " + std::to_string(back);
        });
      }
      previous = shown;
    }
    // Just beyond the range the scale goes on, and comes back as well.
    for (long long raw : {min - 2, min - 1, min + span + 1, min + span + 2}) {
      if (span > 0 && scale.raw_of(scale.to_shown(raw)) != raw) {
        note(failure, [&] {
          return "span " + std::to_string(span) + ", raw " + std::to_string(raw) + " beyond";
        });
      }
    }
  }
  EXPECT_EQ(failure.count, 0u) << "first: " << failure.first;
}

TEST(AlsaVolumeScaleTest, RoundsHalfUpBothWays) {
  // 0..2: raw 1 is 32767.5 exactly, shown as 32768.
  const AlsaVolumeScale two{0, 2};
  EXPECT_EQ(two.to_shown(1), 32768);
  long long raw = -1;
  // 16383 * 2 / 65535 = 0.49998..., 16384 * 2 / 65535 = 0.50001...
  ASSERT_TRUE(two.to_raw(16383, raw));
  EXPECT_EQ(raw, 0);
  ASSERT_TRUE(two.to_raw(16384, raw));
  EXPECT_EQ(raw, 1);
  ASSERT_TRUE(two.to_raw(49151, raw));  // 1.49998...
  EXPECT_EQ(raw, 1);
  ASSERT_TRUE(two.to_raw(49152, raw));  // 1.50001...
  EXPECT_EQ(raw, 2);

  // A laptop codec's 0..87 master volume.
  const AlsaVolumeScale master{0, 87};
  EXPECT_EQ(master.to_shown(60), 45197);  // 45196.55...
  EXPECT_EQ(master.to_shown(50), 37664);  // 37663.79...
  ASSERT_TRUE(master.to_raw(32768, raw));  // 43.5006...
  EXPECT_EQ(raw, 44);

  // 65,536 values: shown as they are, offset to start at 0.
  const AlsaVolumeScale full{-32768, 32767};
  EXPECT_EQ(full.to_shown(-32768), 0);
  EXPECT_EQ(full.to_shown(0), 32768);
  ASSERT_TRUE(full.to_raw(65535, raw));
  EXPECT_EQ(raw, 32767);
}

TEST(AlsaVolumeScaleTest, ValuesOutsideTheBoundsKeepTheScale) {
  const AlsaVolumeScale scale{-10240, 0};
  long long raw = 123;
  EXPECT_FALSE(scale.to_raw(-1, raw));
  EXPECT_FALSE(scale.to_raw(65536, raw));
  EXPECT_EQ(raw, 123);
  EXPECT_FALSE(scale.holds(5));
  EXPECT_TRUE(scale.holds(0));
  // A raw value beyond the range is shown beyond the bounds (5 of -10240..0
  // is 65566.998...) and comes back as itself.
  EXPECT_EQ(scale.to_shown(5), 65567);
  EXPECT_EQ(scale.raw_of(65567), 5);
  for (long long beyond : {-20000LL, -10241LL, 1LL, 7LL, 20000LL}) {
    EXPECT_EQ(scale.raw_of(scale.to_shown(beyond)), beyond) << beyond;
  }
  EXPECT_LT(scale.to_shown(-20000), 0);
  // Within the shown bounds raw_of is to_raw.
  ASSERT_TRUE(scale.to_raw(40000, raw));
  EXPECT_EQ(scale.raw_of(40000), raw);

  // A single raw value: everything shows as 0 and writes that value.
  const AlsaVolumeScale single{7, 7};
  EXPECT_EQ(single.to_shown(7), 0);
  ASSERT_TRUE(single.to_raw(65535, raw));
  EXPECT_EQ(raw, 7);

  // Far from zero, the offset is what counts.
  const AlsaVolumeScale far{3000000000LL, 3000000100LL};
  EXPECT_EQ(far.to_shown(3000000050LL), 32768);
  ASSERT_TRUE(far.to_raw(65535, raw));
  EXPECT_EQ(raw, 3000000100LL);
}

TEST(AlsaVolumeScaleTest, RangesWiderThan65536ValuesAreShownRaw) {
  const AlsaVolumeScale pulse{0, 65536};  // a sound server's volume
  EXPECT_FALSE(pulse.mapped());
  EXPECT_EQ(pulse.shown_min(), 0);
  EXPECT_EQ(pulse.shown_max(), 65536);
  EXPECT_EQ(pulse.to_shown(65536), 65536);
  long long raw = 0;
  ASSERT_TRUE(pulse.to_raw(40000, raw));
  EXPECT_EQ(raw, 40000);
  EXPECT_FALSE(pulse.to_raw(65537, raw));
  // 150 %: beyond the range, shown as it is.
  EXPECT_FALSE(pulse.holds(98304));
  EXPECT_EQ(pulse.to_shown(98304), 98304);
  EXPECT_EQ(pulse.raw_of(98304), 98304);

  const AlsaVolumeScale wide{-100000, 100000};
  EXPECT_EQ(wide.shown_min(), -100000);
  EXPECT_EQ(wide.to_shown(-99999), -99999);
  EXPECT_FALSE(wide.to_raw(-100001, raw));

  // Beyond 32 bits the bounds and values are cut to what a document holds.
  const AlsaVolumeScale huge{-5000000000LL, 5000000000LL};
  EXPECT_EQ(huge.shown_min(), INT32_MIN);
  EXPECT_EQ(huge.shown_max(), INT32_MAX);
  EXPECT_EQ(huge.to_shown(4000000000LL), INT32_MAX);
}

}  // namespace
}  // namespace quorvel
