// The fixture of the mixer contract suite: a fresh back-end per test, a
// handle open on its device 0, what the device shows, and helpers to find
// controls of a kind and to read and write them.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "contract/mixer_backend.h"
#include "platform/mixer/control_values.h"
#include "support/mixer_layout.h"

namespace quorvel::testing {

// Skips the test when the back-end lacks `feature`, giving its reason.
#define REQUIRE_FEATURE(feature)                                  \
  do {                                                            \
    if (!GetParam().has(feature)) {                               \
      GTEST_SKIP() << GetParam().lacks.at(feature);               \
    }                                                             \
  } while (false)

// Runs the suite on `backends` (MixerBackend values), each test named
// PREFIX/MixerContractTest.CLAUSE/BACKEND: PREFIX names the back-end, BACKEND
// the device it runs on.
#define INSTANTIATE_MIXER_CONTRACT(prefix, backends)                                   \
  INSTANTIATE_TEST_SUITE_P(prefix, MixerContractTest, ::testing::ValuesIn(backends), \
                           [](const ::testing::TestParamInfo<MixerBackend>& info) {  \
                             return info.param.name;                                 \
                           })

// One control with the line that owns it.
struct ControlView {
  const LineView* line = nullptr;
  MixerControl control;

  std::uint32_t id() const { return control.dwControlID; }
  std::uint32_t channels() const { return line->line.cChannels; }
  std::uint32_t items() const { return control.cMultipleItems; }
  bool is_list() const { return (control.fdwControl & ctrl::kFlagMultiple) != 0; }
  bool is_meter() const { return (control.dwControlType & ctrl::kClassMask) == ctrl::kClassMeter; }
  bool on_source() const { return (line->line.fdwLine & 0x80000000u) != 0; }
  // Values a whole read or write holds: one per channel, or one block of
  // item states per channel.
  std::size_t slots(std::uint32_t read_channels) const {
    return std::size_t{read_channels} * (is_list() ? items() : 1);
  }
};

class MixerContractTest : public ::testing::TestWithParam<MixerBackend> {
 protected:
  void SetUp() override;

  bool has(Feature feature) const { return GetParam().has(feature); }

  // Every control of the device, optionally only those `keep` keeps.
  std::vector<ControlView> controls(
      const std::function<bool(const ControlView&)>& keep = nullptr) const;
  // The first control `keep` keeps; a test failure when there is none.
  ControlView first_control(const std::function<bool(const ControlView&)>& keep) const;
  // Controls whose values a test may write and read back: not lists, not
  // meters, not default switches, and on a destination where the back-end
  // keeps only those.
  bool settable(const ControlView& view) const;

  // Reads `channels` channels of a control (its items too) through `handle`
  // (default handle_) on service_; the values are set to -7 first.
  MixerResult read(const ControlView& view, std::uint32_t channels,
                   std::vector<std::int32_t>& values, const MixerHandle* handle = nullptr);
  // The values read with `channels` channels; a test failure when the read fails.
  std::vector<std::int32_t> values_of(const ControlView& view, std::uint32_t channels);
  MixerResult write(const ControlView& view, std::uint32_t channels,
                    std::vector<std::int32_t> values, const MixerHandle* handle = nullptr);
  // A details record for `channels` channels and `items` items of a control.
  static MixerControlDetails details_for(std::uint32_t control_id, std::uint32_t channels,
                                         std::uint32_t items, void* array);

  // The channel counts a client may read: 1 and the line's.
  std::vector<std::uint32_t> channel_counts(const ControlView& view) const;

  std::uint32_t unknown_line_id() const;
  std::uint32_t unknown_control_id() const;

  std::unique_ptr<BackendInstance> instance_;
  MixerService* service_ = nullptr;
  MixerHandle handle_;
  std::vector<LineView> layout_;
};

}  // namespace quorvel::testing
