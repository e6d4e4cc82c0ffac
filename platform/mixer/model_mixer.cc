#include "platform/mixer/model_mixer.h"

#include <algorithm>

namespace quorvel {
namespace {

constexpr std::uint32_t kLineActive = 0x00000001;
constexpr std::uint32_t kLineSource = 0x80000000;

bool is_meter(std::uint32_t type) { return (type & ctrl::kClassMask) == ctrl::kClassMeter; }

// List controls of which exactly one item is selected at any time.
bool is_single_select(std::uint32_t type) {
  return type == ctrl::kMux || type == ctrl::kSingleSelect;
}

// The helpers are templates because the model's records are the class's own.

// Whether `value` lies within the control's bounds: signed bounds when they
// are in order as signed numbers, else the same 32 bits taken unsigned.
template <typename Control>
bool within_bounds(const Control& control, std::int32_t value) {
  if (control.min <= control.max) return control.min <= value && value <= control.max;
  const auto u = static_cast<std::uint32_t>(value);
  return static_cast<std::uint32_t>(control.min) <= u &&
         u <= static_cast<std::uint32_t>(control.max);
}

// Whether a values call has a shape the control has: cChannels 1 or its
// line's channel count, cMultipleItems 0 or its item count.
template <typename Control>
bool shape_fits(const Control& control, const MixerControlDetails& details) {
  if (details.cChannels != 1 &&
      (details.cChannels == 0 || details.cChannels != control.line_channels)) {
    return false;
  }
  return details.cMultipleItems == (control.list ? control.items : 0);
}

}  // namespace

MixerResult ModelMixer::do_get_dev_caps(OpenDevice& open, MixerCaps& caps) {
  const ModelDevice device = describe_device(open);
  caps = MixerCaps{};
  copy_name(caps.szPname, device.name);
  caps.cDestinations = device.destinations;
  return MMSYSERR_NOERROR;
}

MixerResult ModelMixer::do_get_line_info(OpenDevice& open, MixerLine& line, LineQuery query) {
  ModelLine found;
  bool known = false;
  switch (query) {
    case LineQuery::kDestination:
      known = find_destination(open, line.dwDestination, found);
      break;
    case LineQuery::kSource:
      known = find_source(open, line.dwDestination, line.dwSource, found);
      break;
    case LineQuery::kLineId:
      known = find_line(open, line.dwLineID, found);
      break;
  }
  if (!known) return MIXERR_INVALLINE;
  const std::uintptr_t user = line.dwUser;
  line = MixerLine{};
  line.dwUser = user;
  line.dwDestination = found.destination;
  line.dwSource = found.is_source ? found.source : 0;
  line.dwLineID = found.id;
  line.fdwLine = found.is_source ? (kLineActive | kLineSource) : kLineActive;
  line.dwComponentType = found.component_type;
  line.cChannels = found.channels;
  line.cConnections = found.is_source ? 0 : found.connections;
  line.cControls = found.controls;
  copy_name(line.szShortName, found.name);
  copy_name(line.szName, found.name);
  copy_name(line.Target.szPname, describe_device(open).name);
  return MMSYSERR_NOERROR;
}

namespace {

template <typename Control>
void fill_control(const Control& control, MixerControl& out) {
  out = MixerControl{};
  out.dwControlID = control.id;
  out.dwControlType = control.type;
  if (control.uniform) out.fdwControl |= ctrl::kFlagUniform;
  if (control.device_bounds) out.fdwControl |= ctrl::kFlagBeyondBounds;
  if (control.list) {
    out.fdwControl |= ctrl::kFlagMultiple;
    out.cMultipleItems = control.items;
  }
  copy_name(out.szShortName, control.name);
  copy_name(out.szName, control.name);
  out.Bounds.lMinimum = control.min;
  out.Bounds.lMaximum = control.max;
  out.Metrics.cSteps = control.steps;
}

}  // namespace

MixerResult ModelMixer::do_get_line_controls(OpenDevice& open, MixerLineControls& controls,
                                             ControlsQuery query) {
  ModelControl control;
  if (query == ControlsQuery::kOneById) {
    if (!find_control(open, controls.dwControlID, control)) return MIXERR_INVALCONTROL;
    fill_control(control, controls.pamxctrl[0]);
    controls.dwLineID = control.line_id;
    return MMSYSERR_NOERROR;
  }
  ModelLine line;
  if (!find_line(open, controls.dwLineID, line)) return MIXERR_INVALLINE;
  if (controls.cControls != line.controls) return MMSYSERR_INVALPARAM;
  for (std::uint32_t k = 0; k < line.controls; ++k) {
    line_control(open, line, k, control);
    fill_control(control, controls.pamxctrl[k]);
  }
  return MMSYSERR_NOERROR;
}

MixerResult ModelMixer::do_get_control_details(OpenDevice& open, MixerControlDetails& details,
                                               DetailsQuery query) {
  ModelControl control;
  if (!find_control(open, details.dwControlID, control)) return MIXERR_INVALCONTROL;
  if (!shape_fits(control, details)) return MMSYSERR_INVALPARAM;

  if (query == DetailsQuery::kListText) {
    if (!control.list) return MMSYSERR_INVALPARAM;
    auto* out = static_cast<ListText*>(details.paDetails);
    for (std::uint32_t k = 0; k < control.items; ++k) {
      const ModelItem item = list_item(open, control, k);
      out[k] = ListText{};
      out[k].dwParam1 = item.line_id;
      out[k].dwParam2 = item.component_type;
      copy_name(out[k].szName, item.name);
    }
    return MMSYSERR_NOERROR;
  }

  auto* out = static_cast<std::int32_t*>(details.paDetails);
  if (!control.list) {
    if (!control.uniform) return read_values(open, control, {out, details.cChannels});
    // A uniform control holds one value, the same in every channel.
    if (MixerResult result = read_values(open, control, {out, 1})) return result;
    std::fill(out + 1, out + details.cChannels, out[0]);
    return MMSYSERR_NOERROR;
  }
  // A list reads one block of item states, the same for every channel.
  const std::size_t items = control.items;
  if (MixerResult result = read_values(open, control, {out, items})) return result;
  for (std::size_t b = 1; b < details.cChannels; ++b) {
    std::copy(out, out + items, out + b * items);
  }
  return MMSYSERR_NOERROR;
}

MixerResult ModelMixer::do_set_control_details(OpenDevice& open,
                                               const MixerControlDetails& details) {
  ModelControl control;
  if (!find_control(open, details.dwControlID, control)) return MIXERR_INVALCONTROL;
  if (!shape_fits(control, details)) return MMSYSERR_INVALPARAM;
  if (is_meter(control.type)) return MIXERR_INVALVALUE;

  const auto* in = static_cast<const std::int32_t*>(details.paDetails);
  if (!control.list) {
    const std::span<const std::int32_t> values(in, details.cChannels);
    if (!control.device_bounds) {
      for (std::int32_t value : values) {
        if (!within_bounds(control, value)) return MIXERR_INVALVALUE;
      }
    }
    // A uniform control takes the first value for every channel.
    return write_values(open, control, control.uniform ? values.first(1) : values);
  }
  // Only the first block of a list write counts; it is checked whole first.
  const std::span<const std::int32_t> states(in, control.items);
  std::size_t selected = 0;
  for (std::int32_t state : states) {
    if (state != 0 && state != 1) return MIXERR_INVALVALUE;
    selected += static_cast<std::size_t>(state);
  }
  if (is_single_select(control.type) && selected != 1) return MIXERR_INVALVALUE;
  return write_values(open, control, states);
}

}  // namespace quorvel
