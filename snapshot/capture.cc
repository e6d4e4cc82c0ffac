#include "snapshot/capture.h"

#include <algorithm>
#include <string>
#include <vector>

#include "common/document_format.h"
#include "platform/mixer/control_bounds.h"
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

// Widens the element's `min` and `max` to cover `values`, should a mixer
// report a value outside the control's bounds.
void cover_values(pugi::xml_node node, const MixerControl& control,
                  const std::vector<std::int32_t>& values) {
  std::int32_t min = control.Bounds.lMinimum;
  std::int32_t max = control.Bounds.lMaximum;
  quorvel::cover_values(min, max, values);
  if (min != control.Bounds.lMinimum) set_int_attribute(node, doc::kMin, min);
  if (max != control.Bounds.lMaximum) set_int_attribute(node, doc::kMax, max);
}

pugi::xml_node append_value(pugi::xml_node node, int channel, std::int32_t value) {
  pugi::xml_node element = create_element(node, doc::kValue);
  if (channel > 0) append_int_attribute(element, doc::kCh, channel);
  set_int_text(element, value);
  return element;
}

// Writes a `list_name` element holding one item per item of the list
// control (its own item count); the mixer's result of reading them.
MixerResult capture_list_items(pugi::xml_node node, const MixerHandle& handle,
                               const MixerControl& control, const char* list_name) {
  const std::uint32_t count = control.cMultipleItems;
  std::vector<ListText> texts(count);
  std::vector<std::int32_t> selected(count, 0);
  MixerResult result = MMSYSERR_NOERROR;
  if (count > 0) {
    result = read_list_texts(handle, control.dwControlID, count, texts);
    if (result == MMSYSERR_NOERROR) {
      result = read_control_values(handle, control.dwControlID, 1, count, selected);
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

}  // namespace

Result capture_control_value(pugi::xml_node node, const MixerLine& line,
                             const MixerControl& control, const MixerHandle& handle) {
  MixerResult result = MMSYSERR_NOERROR;
  std::vector<std::int32_t> values;
  int first_channel = 0;  // 0: the value has no channel number
  const CaptureKind kind = capture_kind(control.dwControlType);
  switch (kind) {
    case CaptureKind::kNothing:
      break;
    case CaptureKind::kSwitch:
      if (!is_uniform(control) && line.cChannels > 1) {
        result = read_control_values(handle, control.dwControlID, line.cChannels, 0, values);
        first_channel = 1;
        break;
      }
      [[fallthrough]];
    case CaptureKind::kSingle:
    case CaptureKind::kSingleCh1: {
      result = read_control_values(handle, control.dwControlID, 1, 0, values);
      if (kind == CaptureKind::kSingleCh1) first_channel = 1;
      break;
    }
    case CaptureKind::kPerChannel:
      // Every channel of a line of two or more; a mono line's one channel.
      result = read_control_values(handle, control.dwControlID,
                                   std::max<std::uint32_t>(line.cChannels, 1), 0, values);
      first_channel = 1;
      break;
    case CaptureKind::kMuxList:
      result = capture_list_items(node, handle, control, doc::kMuxList);
      break;
    case CaptureKind::kMixerList:
      result = capture_list_items(node, handle, control, doc::kMixerList);
      break;
  }
  for (std::size_t k = 0; k < values.size(); ++k) {
    append_value(node, first_channel > 0 ? first_channel + static_cast<int>(k) : 0, values[k]);
  }
  cover_values(node, control, values);
  if (result != MMSYSERR_NOERROR) {
    return Result::failure(report_control_read(control, result));
  }
  return Result();
}

}  // namespace quorvel
