#include "contract/mixer_contract.h"

#include <algorithm>

namespace quorvel::testing {

void MixerContractTest::SetUp() {
  if (GetParam().missing) {
    const std::string why = GetParam().missing();
    if (!why.empty()) GTEST_SKIP() << why;
  }
  instance_ = GetParam().make();
  service_ = &instance_->service();
  if (service_->device_count() == 0) GTEST_SKIP() << "this machine shows no mixer device";
  ASSERT_EQ(service_->open(0, handle_), MMSYSERR_NOERROR);
  layout_ = read_layout(handle_);
  ASSERT_FALSE(layout_.empty());
  ASSERT_FALSE(controls().empty());
}

std::vector<ControlView> MixerContractTest::controls(
    const std::function<bool(const ControlView&)>& keep) const {
  std::vector<ControlView> out;
  for (const LineView& line : layout_) {
    for (const MixerControl& control : line.controls) {
      ControlView view{&line, control};
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
    return ControlView{&layout_.front(), MixerControl{}};
  }
  return found.front();
}

bool MixerContractTest::settable(const ControlView& view) const {
  // A default switch takes a 0 only where it holds 0: some line of its kind
  // is always the default, and stops being it only when another becomes it.
  if (view.control.dwControlType == ctrl::kDefaultSwitch) return false;
  return !view.is_list() && !view.is_meter() && (has(Feature::kSourceWrites) || !view.on_source());
}

MixerControlDetails MixerContractTest::details_for(std::uint32_t control_id,
                                                   std::uint32_t channels, std::uint32_t items,
                                                   void* array) {
  return value_details(control_id, channels, items, static_cast<std::int32_t*>(array));
}

MixerResult MixerContractTest::read(const ControlView& view, std::uint32_t channels,
                                    std::vector<std::int32_t>& values,
                                    const MixerHandle* handle) {
  values.assign(std::max<std::size_t>(view.slots(channels), 1), -7);
  MixerControlDetails details = details_for(view.id(), channels, view.items(), values.data());
  return service_->get_control_details(handle != nullptr ? *handle : handle_, details,
                                       DetailsQuery::kValue);
}

std::vector<std::int32_t> MixerContractTest::values_of(const ControlView& view,
                                                       std::uint32_t channels) {
  std::vector<std::int32_t> values;
  EXPECT_EQ(read(view, channels, values), MMSYSERR_NOERROR) << name_of(view.control.szName);
  return values;
}

MixerResult MixerContractTest::write(const ControlView& view, std::uint32_t channels,
                                     std::vector<std::int32_t> values,
                                     const MixerHandle* handle) {
  MixerControlDetails details = details_for(view.id(), channels, view.items(), values.data());
  return service_->set_control_details(handle != nullptr ? *handle : handle_, details);
}

std::vector<std::uint32_t> MixerContractTest::channel_counts(const ControlView& view) const {
  if (view.channels() <= 1 || !has(Feature::kPerChannelValues)) return {1};
  return {1, view.channels()};
}

std::uint32_t MixerContractTest::unknown_line_id() const {
  std::uint32_t id = 0x7FFF1234u;
  while (find_line(layout_, id) != nullptr) ++id;
  return id;
}

std::uint32_t MixerContractTest::unknown_control_id() const {
  std::uint32_t id = 0x7FFFFFF0u;
  while (!controls([id](const ControlView& view) { return view.id() == id; }).empty()) ++id;
  return id;
}

}  // namespace quorvel::testing
