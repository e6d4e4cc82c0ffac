#include "platform/mixer/control_values.h"

#include <algorithm>

namespace quorvel {

MixerResult find_control(const MixerHandle& handle, std::uint32_t control_id,
                         MixerControl& control, MixerLine& line) {
  MixerLineControls query;
  query.dwControlID = control_id;
  query.cControls = 1;
  query.pamxctrl = &control;
  MixerResult result =
      handle.service()->get_line_controls(handle, query, ControlsQuery::kOneById);
  if (result != MMSYSERR_NOERROR) return result;
  line = MixerLine{};
  line.dwLineID = query.dwLineID;
  return handle.service()->get_line_info(handle, line, LineQuery::kLineId);
}

MixerResult read_control_values(const MixerHandle& handle, std::uint32_t control_id,
                                std::uint32_t channels, std::uint32_t items,
                                std::vector<std::int32_t>& values) {
  values.assign(static_cast<std::size_t>(channels) * std::max<std::uint32_t>(items, 1), 0);
  MixerControlDetails details = value_details(control_id, channels, items, values.data());
  MixerResult result =
      handle.service()->get_control_details(handle, details, DetailsQuery::kValue);
  if (result != MMSYSERR_NOERROR) std::fill(values.begin(), values.end(), 0);
  return result;
}

MixerResult write_control_values(const MixerHandle& handle, std::uint32_t control_id,
                                 std::uint32_t channels, std::uint32_t items,
                                 std::vector<std::int32_t>& values) {
  values.resize(static_cast<std::size_t>(channels) * std::max<std::uint32_t>(items, 1), 0);
  MixerControlDetails details = value_details(control_id, channels, items, values.data());
  return handle.service()->set_control_details(handle, details);
}

MixerResult read_list_texts(const MixerHandle& handle, std::uint32_t control_id,
                            std::uint32_t items, std::vector<ListText>& texts) {
  texts.assign(items, ListText{});
  MixerControlDetails details;
  details.dwControlID = control_id;
  details.cChannels = 1;
  details.cMultipleItems = items;
  details.cbDetails = sizeof(ListText);
  details.paDetails = texts.data();
  return handle.service()->get_control_details(handle, details, DetailsQuery::kListText);
}

}  // namespace quorvel
