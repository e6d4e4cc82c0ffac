#include "contract/mixer_contract.h"

#include <algorithm>

namespace quorvel::testing {

void MixerContractTest::SetUp() {
  if (GetParam().missing) {
    const std::string why = GetParam().missing();
    if (!why.empty()) GTEST_SKIP() << why;
  }
  instance_ = GetParam().make();
  mixer_ = &instance_->mixer();
  if (mixer_->device_count() == 0) GTEST_SKIP() << "this machine shows no mixer device";
  ASSERT_EQ(mixer_->describe(0, layout_), kMixerOk);
  ASSERT_NE(layout_, nullptr);
  ASSERT_FALSE(layout_->destinations.empty());
  ASSERT_FALSE(controls().empty());
}

std::vector<ControlView> MixerContractTest::controls(
    const std::function<bool(const ControlView&)>& keep) const {
  std::vector<ControlView> out;
  for (const ModelLine& line : layout_->lines) {
    if (line.channels == 0) continue;  // shows no controls
    for (std::size_t c : line.controls) {
      ControlView view{&layout_->controls[c], &line};
      if (!keep || keep(view)) out.push_back(view);
    }
  }
  return out;
}

ControlView MixerContractTest::first_control(
    const std::function<bool(const ControlView&)>& keep) const {
  std::vector<ControlView> found = controls(keep);
  if (found.empty()) {
    ADD_FAILURE() << "the device has no control of the kind the test needs";
    return controls().front();
  }
  return found.front();
}

bool MixerContractTest::settable(const ControlView& view) const {
  // A default switch takes a 0 only where it holds 0: some line of its kind
  // is always the default, and stops being it only when another becomes it.
  if (view.control->type == ctrl::kDefaultSwitch) return false;
  return !view.is_list() && !view.is_meter() && (has(Feature::kSourceWrites) || !view.on_source());
}

MixerResult MixerContractTest::read(const ControlView& view, std::uint32_t channels,
                                    Values& values, Mixer* mixer) {
  ValueRead entry{view.id(), channels, Values(3, -7), kMixerOk};
  (mixer != nullptr ? *mixer : *mixer_).read(0, {&entry, 1});
  values = std::move(entry.values);
  return entry.result;
}

Values MixerContractTest::values_of(const ControlView& view, std::uint32_t channels) {
  Values values;
  EXPECT_EQ(read(view, channels, values), kMixerOk) << view.name();
  return values;
}

MixerResult MixerContractTest::write(const ControlView& view, Values values, Mixer* mixer) {
  ValueWrite entry{view.id(), std::move(values), kMixerOk};
  (mixer != nullptr ? *mixer : *mixer_).write(0, {&entry, 1});
  return entry.result;
}

std::vector<std::uint32_t> MixerContractTest::channel_counts(const ControlView& view) const {
  if (view.is_list() || view.channels() <= 1 || !has(Feature::kPerChannelValues)) return {1};
  return {1, view.channels()};
}

std::uint32_t MixerContractTest::unknown_control_id() const {
  std::uint32_t id = 0x7FFFFFF0u;
  while (!controls([id](const ControlView& view) { return view.id() == id; }).empty()) ++id;
  return id;
}

}  // namespace quorvel::testing
