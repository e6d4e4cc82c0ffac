#include "snapshot/capture.h"

#include <string>
#include <vector>

#include "common/document_format.h"
#include "platform/mixer/control_kind.h"
#include "platform/mixer/control_values.h"
#include "platform/os/console.h"
#include "platform/os/text_encoding.h"
#include "platform/xml/dom.h"

namespace quorvel {
namespace {

std::string mixer_error(MixerResult result) { return "mixer error " + std::to_string(result); }

// Reports a control whose values could not be read; returns the message.
std::string report_control_read(const MixerControl& control, MixerResult result) {
  std::string message = "cannot read control " +
                        quote_name(to_wide_string(name_of(control.szName))) + " (id " +
                        std::to_string(control.dwControlID) + "): " + mixer_error(result);
  report_error(message);
  return message;
}

pugi::xml_node append_value(pugi::xml_node node, int channel, std::int32_t value) {
  pugi::xml_node element = create_element(node, doc::kValue);
  if (channel > 0) append_int_attribute(element, doc::kCh, channel);
  set_int_text(element, value);
  return element;
}

}  // namespace

MixerResult read_uniform_value(const MixerHandle& handle, std::uint32_t control_id,
                               std::int32_t& value) {
  std::vector<std::int32_t> slots;
  MixerResult result = read_control_values(handle, control_id, 1, 0, slots);
  value = slots[0];
  return result;
}

MixerResult read_channel_pair(const MixerHandle& handle, const MixerLine& line,
                              std::uint32_t control_id,
                              std::pair<std::int32_t, std::int32_t>& values) {
  values = {0, 0};
  std::vector<std::int32_t> slots;
  MixerResult result = read_control_values(handle, control_id, line.cChannels, 0, slots);
  if (result != MMSYSERR_NOERROR) return result;
  if (!slots.empty()) values.first = slots[0];
  if (slots.size() > 1) values.second = slots[1];
  return MMSYSERR_NOERROR;
}

MixerResult capture_list_items(pugi::xml_node node, const MixerHandle& handle,
                               const MixerLine& line, std::uint32_t control_id,
                               const char* list_name) {
  MixerResult result = MMSYSERR_NOERROR;
  const std::uint32_t count = line.cConnections;
  std::vector<ListText> texts(count);
  std::vector<std::int32_t> selected(count, 0);
  if (count > 0) {
    result = read_list_texts(handle, control_id, count, texts);
    if (result == MMSYSERR_NOERROR) {
      result = read_control_values(handle, control_id, 1, count, selected);
    }
  }
  pugi::xml_node list = create_element(node, list_name);
  for (std::uint32_t k = 0; k < count; ++k) {
    pugi::xml_node item = create_element(list, doc::kItem);
    set_text(item, to_wide_string(name_of(texts[k].szName)));
    append_int_attribute(item, doc::kSelected, result == MMSYSERR_NOERROR ? selected[k] : 0);
  }
  return result;
}

Result capture_control_value(pugi::xml_node node, const MixerLine& line,
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
      result = read_channel_pair(handle, line, control.dwControlID, values);
      append_value(node, 1, values.first);
      if (line.cChannels == 2) append_value(node, 2, values.second);
      break;
    }
    case CaptureKind::kMuxList:
      result = capture_list_items(node, handle, line, control.dwControlID, doc::kMuxList);
      break;
    case CaptureKind::kMixerList:
      result = capture_list_items(node, handle, line, control.dwControlID, doc::kMixerList);
      break;
  }
  if (result != MMSYSERR_NOERROR) {
    return Result::failure(report_control_read(control, result));
  }
  return Result();
}

}  // namespace quorvel
