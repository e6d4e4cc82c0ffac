#include "snapshot/snapshot.h"

#include <string>
#include <vector>

#include "common/dom.h"
#include "common/report.h"
#include "platform/xml_dom.h"
#include "snapshot/control_kind.h"
#include "snapshot/format.h"

namespace quorvel {
namespace {

std::string mixer_error(MixerResult result) { return "mixer error " + std::to_string(result); }

void report_control_read(const MixerControl& control, MixerResult result) {
  report_error("cannot read control " + quoted(to_wide_string(name_of(control.szName))) +
               " (id " + std::to_string(control.dwControlID) + "): " + mixer_error(result));
}

pugi::xml_node append_value(pugi::xml_node node, int channel, std::int32_t value) {
  pugi::xml_node element = create_element(node, doc::kValue);
  if (channel > 0) set_int_attribute(element, doc::kCh, channel);
  set_int_text(element, value);
  return element;
}

}  // namespace

MixerResult find_control_line(const MixerHandle& handle, std::uint32_t control_id,
                              MixerLine& line) {
  MixerControl control;
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

MixerResult read_uniform_value(const MixerHandle& handle, std::uint32_t control_id,
                               std::int32_t& value) {
  std::int32_t slot = 0;
  MixerControlDetails details = value_details(control_id, 1, 0, &slot);
  MixerResult result =
      handle.service()->get_control_details(handle, details, DetailsQuery::kValue);
  value = result == MMSYSERR_NOERROR ? slot : 0;
  return result;
}

MixerResult read_channel_pair(const MixerHandle& handle, std::uint32_t control_id,
                              std::pair<std::int32_t, std::int32_t>& values) {
  values = {0, 0};
  MixerLine line;
  MixerResult result = find_control_line(handle, control_id, line);
  if (result != MMSYSERR_NOERROR) return result;
  std::vector<std::int32_t> slots(line.cChannels, 0);
  MixerControlDetails details = value_details(control_id, line.cChannels, 0, slots.data());
  result = handle.service()->get_control_details(handle, details, DetailsQuery::kValue);
  if (result != MMSYSERR_NOERROR) return result;
  if (!slots.empty()) values.first = slots[0];
  if (slots.size() > 1) values.second = slots[1];
  return MMSYSERR_NOERROR;
}

Status capture_list_items(pugi::xml_node node, const MixerHandle& handle,
                          std::uint32_t control_id, const char* list_name) {
  MixerLine line;
  MixerResult result = find_control_line(handle, control_id, line);
  const std::uint32_t count = result == MMSYSERR_NOERROR ? line.cConnections : 0;
  std::vector<ListText> texts(count);
  std::vector<std::int32_t> selected(count, 0);
  if (result == MMSYSERR_NOERROR && count > 0) {
    MixerControlDetails details;
    details.dwControlID = control_id;
    details.cChannels = 1;
    details.cMultipleItems = count;
    details.cbDetails = sizeof(ListText);
    details.paDetails = texts.data();
    result = handle.service()->get_control_details(handle, details, DetailsQuery::kListText);
    if (result == MMSYSERR_NOERROR) {
      details.cbDetails = sizeof(std::int32_t);
      details.paDetails = selected.data();
      result = handle.service()->get_control_details(handle, details, DetailsQuery::kValue);
    }
  }
  pugi::xml_node list = create_element(node, list_name);
  for (std::uint32_t k = 0; k < count; ++k) {
    pugi::xml_node item = create_element(list, doc::kItem);
    set_text(item, to_wide_string(name_of(texts[k].szName)));
    set_int_attribute(item, doc::kSelected, result == MMSYSERR_NOERROR ? selected[k] : 0);
  }
  return result == MMSYSERR_NOERROR ? kOk : static_cast<Status>(result);
}

Status capture_control_value(pugi::xml_node node, const MixerLine& line,
                             const MixerControl& control, const MixerHandle& handle) {
  MixerResult result = MMSYSERR_NOERROR;
  switch (capture_kind(control.dwControlType)) {
    case CaptureKind::kNothing:
      break;
    case CaptureKind::kSingle:
    case CaptureKind::kSingleCh1: {
      std::int32_t value = 0;
      result = read_uniform_value(handle, control.dwControlID, value);
      append_value(node, capture_kind(control.dwControlType) == CaptureKind::kSingleCh1 ? 1 : 0,
                   value);
      break;
    }
    case CaptureKind::kPerChannel: {
      std::pair<std::int32_t, std::int32_t> values;
      result = read_channel_pair(handle, control.dwControlID, values);
      append_value(node, 1, values.first);
      if (line.cChannels == 2) append_value(node, 2, values.second);
      break;
    }
    case CaptureKind::kMuxList:
      result = static_cast<MixerResult>(
          capture_list_items(node, handle, control.dwControlID, doc::kMuxList));
      break;
    case CaptureKind::kMixerList:
      result = static_cast<MixerResult>(
          capture_list_items(node, handle, control.dwControlID, doc::kMixerList));
      break;
  }
  if (result != MMSYSERR_NOERROR) {
    report_control_read(control, result);
    return kFail;
  }
  return kOk;
}

Status capture_line_controls(pugi::xml_node parent, const MixerHandle& handle,
                             const MixerLine& line) {
  if (line.cControls == 0) return kOk;
  std::vector<MixerControl> controls(line.cControls);
  MixerLineControls query;
  query.dwLineID = line.dwLineID;
  query.cControls = line.cControls;
  query.pamxctrl = controls.data();
  MixerResult result = handle.service()->get_line_controls(handle, query, ControlsQuery::kAll);
  if (result != MMSYSERR_NOERROR) {
    report_error("cannot read the controls of line " +
                 quoted(to_wide_string(name_of(line.szName))) + " (id " +
                 std::to_string(line.dwLineID) + "): " + mixer_error(result));
    return kFail;
  }
  Status status = kOk;
  for (const MixerControl& control : controls) {
    pugi::xml_node node = create_element(parent, doc::kLineControl);
    if (!node) return kFail;
    set_text(node, to_wide_string(name_of(control.szName)));
    set_int_attribute(node, doc::kCtrlId, static_cast<std::int32_t>(control.dwControlID));
    set_int_attribute(node, doc::kCtrlType, static_cast<std::int32_t>(control.dwControlType));
    set_int_attribute(node, doc::kSteps, static_cast<std::int32_t>(control.Metrics.cSteps));
    set_int_attribute(node, doc::kMin, control.Bounds.lMinimum);
    set_int_attribute(node, doc::kMax, control.Bounds.lMaximum);
    if (capture_control_value(node, line, control, handle) != kOk) status = kFail;
  }
  return status;
}

Status build_snapshot(pugi::xml_document& document, MixerService& mixer,
                      std::optional<std::string>& default_output_name) {
  if (load_xml(document, doc::kTemplate) != kOk) {
    report_error("cannot load the mixer document template");
    return kFail;
  }
  MixerHandle handle;
  MixerResult result = mixer.open(0, handle);
  if (result != MMSYSERR_NOERROR) {
    report_error("cannot open mixer device 0: " + mixer_error(result));
    return kFail;
  }
  MixerCaps caps;
  result = mixer.get_dev_caps(handle, caps);
  if (result != MMSYSERR_NOERROR) {
    report_error("cannot read the description of mixer device 0: " + mixer_error(result));
    return kFail;
  }

  pugi::xml_node root = document.last_child();
  const std::string product = to_wide_string(name_of(caps.szPname));
  set_text(root, product);
  default_output_name = product + ".xml";
  set_int_attribute(root, doc::kDestinations, static_cast<std::int32_t>(caps.cDestinations));

  Status status = kOk;
  for (std::uint32_t i = 0; i < caps.cDestinations; ++i) {
    MixerLine destination;
    destination.dwDestination = i;
    result = mixer.get_line_info(handle, destination, LineQuery::kDestination);
    if (result != MMSYSERR_NOERROR) {
      report_error("cannot read destination " + std::to_string(i) + ": " + mixer_error(result));
      status = kFail;
      continue;
    }
    pugi::xml_node destination_node = create_element(root, doc::kDestination);
    if (!destination_node) return kFail;
    set_text(destination_node, to_wide_string(name_of(destination.szName)));
    set_int_attribute(destination_node, doc::kLineId,
                      static_cast<std::int32_t>(destination.dwLineID));
    set_int_attribute(destination_node, doc::kChannels,
                      static_cast<std::int32_t>(destination.cChannels));
    set_int_attribute(destination_node, doc::kConnections,
                      static_cast<std::int32_t>(destination.cConnections));
    set_int_attribute(destination_node, doc::kComponentType,
                      static_cast<std::int32_t>(destination.dwComponentType));
    if (capture_line_controls(destination_node, handle, destination) != kOk) status = kFail;

    const std::uint32_t connections = destination.cConnections;
    for (std::uint32_t j = 0; j < connections; ++j) {
      MixerLine source;
      source.dwDestination = i;
      source.dwSource = j;
      result = mixer.get_line_info(handle, source, LineQuery::kSource);
      if (result != MMSYSERR_NOERROR) {
        report_error("cannot read source " + std::to_string(j) + " of destination " +
                     std::to_string(i) + ": " + mixer_error(result));
        status = kFail;
        continue;
      }
      pugi::xml_node source_node = create_element(destination_node, doc::kSource);
      if (!source_node) return kFail;
      set_text(source_node, to_wide_string(name_of(source.szName)));
      set_int_attribute(source_node, doc::kSrcId, static_cast<std::int32_t>(j));
      set_int_attribute(source_node, doc::kChannels, static_cast<std::int32_t>(source.cChannels));
      set_int_attribute(source_node, doc::kLineType,
                        static_cast<std::int32_t>(source.dwComponentType));
      if (capture_line_controls(source_node, handle, source) != kOk) status = kFail;
    }
  }
  return status;
}

}  // namespace quorvel
