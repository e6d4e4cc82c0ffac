#include "snapshot/capture.h"

#include <algorithm>
#include <string>
#include <vector>

#include "platform/document/control_kind.h"
#include "platform/document/document_writer.h"
#include "platform/mixer/control_bounds.h"
#include "platform/os/console.h"

namespace quorvel {
namespace {

std::string mixer_error(MixerResult result) { return "mixer error " + std::to_string(result); }

// Reports a control whose values could not be read; returns the message.
std::string report_control_read(const ModelControl& control, MixerResult result,
                                Reporter& reporter) {
  std::string message = "cannot read control " + quote_name(control.name) + " (id " +
                        std::to_string(control.id) + "): " + mixer_error(result);
  reporter.error(message);
  return message;
}

}  // namespace

Result capture_control_value(DocumentSink& sink, Mixer& mixer, const ModelLine& line,
                             const ModelControl& control, Reporter& reporter, bool* gone) {
  const ValueForm form = value_form(control.type, line.channels, control.uniform);
  MixerResult result = kMixerOk;
  std::vector<std::int32_t> values;
  // A list control's items: their names as described, and whether each is
  // selected (unselected when the read fails).
  std::vector<std::int32_t> selected;
  const std::size_t items = control.list ? control.items.size() : 0;
  if (form.count > 0) {
    result = read_control(mixer, control.id, form.count, values);
    if (result != kMixerOk) values.assign(form.count, 0);
  } else if (form.list != nullptr && items > 0) {
    result = read_control(mixer, control.id, 1, selected);
    if (result != kMixerOk || selected.size() != items) selected.assign(items, 0);
  }

  ControlPart part{.name = control.name,
                   .id = control.id,
                   .type = control.type,
                   .steps = control.steps,
                   .min = control.min,
                   .max = control.max};
  // The bounds widened to cover the values, should a mixer report a value
  // outside them.
  cover_values(part.min, part.max, values);
  start_line_control(sink, part);
  const std::vector<std::string>& positions = line.positions;
  const bool positioned = form.numbered && positions.size() == values.size();
  for (std::size_t k = 0; k < values.size(); ++k) {
    write_value(sink, form.numbered ? static_cast<std::uint32_t>(k + 1) : 0, values[k],
                positioned ? std::string_view(positions[k]) : std::string_view());
  }
  if (form.list != nullptr) {
    start_list(sink, form.list);
    for (std::size_t k = 0; k < items; ++k) {
      write_item(sink, control.items[k].name, selected[k]);
    }
    sink.end();
  }
  sink.end();
  if (result == kMixerGone && gone != nullptr) {
    // The caller says so once, for the whole mixer.
    *gone = true;
    return Result::failure("the mixer went away");
  }
  if (result != kMixerOk) return Result::failure(report_control_read(control, result, reporter));
  return Result();
}

}  // namespace quorvel
