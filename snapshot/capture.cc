#include "snapshot/capture.h"

#include <algorithm>
#include <string>
#include <vector>

#include "platform/document/control_kind.h"
#include "platform/document/document_writer.h"
#include "platform/mixer/control_bounds.h"
#include "platform/mixer/control_values.h"
#include "platform/os/console.h"
#include "platform/os/text_encoding.h"

namespace quorvel {
namespace {

std::string mixer_error(MixerResult result) { return "mixer error " + std::to_string(result); }

// Reports a control whose values could not be read; returns the message.
std::string report_control_read(const std::string& name, const MixerControl& control,
                                MixerResult result) {
  std::string message = "cannot read control " + quote_name(name) + " (id " +
                        std::to_string(control.dwControlID) + "): " + mixer_error(result);
  report_error(message);
  return message;
}

// The control's bounds widened to cover `values`, should a mixer report a
// value outside them.
void cover_values(ControlPart& part, const std::vector<std::int32_t>& values) {
  quorvel::cover_values(part.min, part.max, values);
}

// The items of a list control: one per item of the control (its own item
// count), each with its name and whether it is selected.
struct ListItems {
  std::vector<std::string> names;
  std::vector<std::int32_t> selected;
};

// Reads the items of the list control; the mixer's result of reading them
// (the items are then unselected).
MixerResult capture_list_items(const MixerHandle& handle, const MixerControl& control,
                               ListItems& items) {
  const std::uint32_t count = control.cMultipleItems;
  std::vector<ListText> texts(count);
  items.selected.assign(count, 0);
  MixerResult result = MMSYSERR_NOERROR;
  if (count > 0) {
    result = read_list_texts(handle, control.dwControlID, count, texts);
    if (result == MMSYSERR_NOERROR) {
      result = read_control_values(handle, control.dwControlID, 1, count, items.selected);
    }
    if (result != MMSYSERR_NOERROR) items.selected.assign(count, 0);
  }
  items.names.reserve(count);
  for (const ListText& text : texts) items.names.push_back(system_to_utf8(name_of(text.szName)));
  return result;
}

}  // namespace

Result capture_control_value(DocumentSink& sink, const MixerLine& line,
                             const MixerControl& control, const MixerHandle& handle,
                             std::span<const std::string> positions, bool* gone) {
  const ValueForm form = value_form(control.dwControlType, line.cChannels, is_uniform(control));
  MixerResult result = MMSYSERR_NOERROR;
  std::vector<std::int32_t> values;
  ListItems items;
  if (form.count > 0) {
    result = read_control_values(handle, control.dwControlID, form.count, 0, values);
  } else if (form.list != nullptr) {
    result = capture_list_items(handle, control, items);
  }

  const std::string name = system_to_utf8(name_of(control.szName));
  ControlPart part{.name = name,
                   .id = control.dwControlID,
                   .type = control.dwControlType,
                   .steps = control.Metrics.cSteps,
                   .min = control.Bounds.lMinimum,
                   .max = control.Bounds.lMaximum};
  cover_values(part, values);
  start_line_control(sink, part);
  const bool positioned = form.numbered && positions.size() == values.size();
  for (std::size_t k = 0; k < values.size(); ++k) {
    write_value(sink, form.numbered ? static_cast<std::uint32_t>(k + 1) : 0, values[k],
                positioned ? std::string_view(positions[k]) : std::string_view());
  }
  if (form.list != nullptr) {
    start_list(sink, form.list);
    for (std::size_t k = 0; k < items.names.size(); ++k) {
      write_item(sink, items.names[k], items.selected[k]);
    }
    sink.end();
  }
  sink.end();
  if (result == kMixerGone && gone != nullptr) {
    // The caller says so once, for the whole mixer.
    *gone = true;
    return Result::failure("the mixer went away");
  }
  if (result != MMSYSERR_NOERROR) {
    return Result::failure(report_control_read(name, control, result));
  }
  return Result();
}

}  // namespace quorvel
