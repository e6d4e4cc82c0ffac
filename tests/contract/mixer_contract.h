// The fixture of the mixer contract suite: a fresh back-end per test, the
// description of its device 0, and helpers to find controls of a kind and
// to read and write them.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "contract/mixer_backend.h"

namespace quorvel::testing {

// Skips the test when the back-end lacks `feature`, giving its reason.
#define REQUIRE_FEATURE(feature)                    \
  do {                                              \
    if (!GetParam().has(feature)) {                 \
      GTEST_SKIP() << GetParam().lacks.at(feature); \
    }                                               \
  } while (false)

// Runs the suite on `backends` (MixerBackend values), each test named
// PREFIX/MixerContractTest.CLAUSE/BACKEND: PREFIX names the back-end, BACKEND
// the device it runs on.
#define INSTANTIATE_MIXER_CONTRACT(prefix, backends)                                   \
  INSTANTIATE_TEST_SUITE_P(prefix, MixerContractTest, ::testing::ValuesIn(backends), \
                           [](const ::testing::TestParamInfo<MixerBackend>& info) {  \
                             return info.param.name;                                 \
                           })

using Values = std::vector<std::int32_t>;

// One control of the description with the line that owns it.
struct ControlView {
  const ModelControl* control = nullptr;
  const ModelLine* line = nullptr;

  std::uint32_t id() const { return control->id; }
  const std::string& name() const { return control->name; }
  std::uint32_t channels() const { return line->channels; }
  std::uint32_t items() const { return static_cast<std::uint32_t>(control->items.size()); }
  std::int32_t min() const { return control->min; }
  std::int32_t max() const { return control->max; }
  bool is_list() const { return control->list; }
  bool is_meter() const { return (control->type & ctrl::kClassMask) == ctrl::kClassMeter; }
  bool on_source() const { return line->is_source; }
  // The values a read of `channels` gives: a state per item of a list, else
  // one per channel.
  std::size_t size(std::uint32_t channels) const { return is_list() ? items() : channels; }
};

class MixerContractTest : public ::testing::TestWithParam<MixerBackend> {
 protected:
  void SetUp() override;

  bool has(Feature feature) const { return GetParam().has(feature); }

  // Every control the device shows (those of lines with channels),
  // optionally only those `keep` keeps.
  std::vector<ControlView> controls(
      const std::function<bool(const ControlView&)>& keep = nullptr) const;
  // The first control `keep` keeps; a test failure when there is none.
  ControlView first_control(const std::function<bool(const ControlView&)>& keep) const;
  // Controls whose values a test may write and read back: not lists, not
  // meters, not default switches, and on a destination where the back-end
  // keeps only those.
  bool settable(const ControlView& view) const;

  // Reads `channels` channels of a control through `mixer` (default mixer_).
  MixerResult read(const ControlView& view, std::uint32_t channels, Values& values,
                   Mixer* mixer = nullptr);
  // The values read with `channels` channels; a test failure when the read fails.
  Values values_of(const ControlView& view, std::uint32_t channels);
  MixerResult write(const ControlView& view, Values values, Mixer* mixer = nullptr);

  // The channel counts a client may read: 1 and the line's.
  std::vector<std::uint32_t> channel_counts(const ControlView& view) const;

  std::uint32_t unknown_control_id() const;

  std::unique_ptr<BackendInstance> instance_;
  Mixer* mixer_ = nullptr;
  const ModelLayout* layout_ = nullptr;
};

}  // namespace quorvel::testing
