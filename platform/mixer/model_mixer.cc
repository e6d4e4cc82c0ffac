#include "platform/mixer/model_mixer.h"

#include <algorithm>
#include <utility>

#include "platform/mixer/control_bounds.h"

namespace quorvel {
namespace {

constexpr std::uint32_t kLineActive = 0x00000001;
constexpr std::uint32_t kLineSource = 0x80000000;

bool is_meter(std::uint32_t type) { return (type & ctrl::kClassMask) == ctrl::kClassMeter; }

// List controls of which exactly one item is selected at any time.
bool is_single_select(std::uint32_t type) {
  return type == ctrl::kMux || type == ctrl::kSingleSelect || type == ctrl::kPortSelect;
}

std::uint32_t item_count(const ModelControl& control) {
  return control.list ? static_cast<std::uint32_t>(control.items.size()) : 0;
}

// Whether a values call has a shape the control has: cChannels 1 or its
// line's channel count, cMultipleItems 0 or its item count.
bool shape_fits(const ModelControl& control, std::uint32_t line_channels,
                const MixerControlDetails& details) {
  if (details.cChannels != 1 && (details.cChannels == 0 || details.cChannels != line_channels)) {
    return false;
  }
  return details.cMultipleItems == item_count(control);
}

void fill_control(const ModelControl& control, MixerControl& out) {
  out = MixerControl{};
  out.dwControlID = control.id;
  out.dwControlType = control.type;
  if (control.uniform) out.fdwControl |= ctrl::kFlagUniform;
  if (control.device_bounds) out.fdwControl |= ctrl::kFlagBeyondBounds;
  if (control.list) {
    out.fdwControl |= ctrl::kFlagMultiple;
    out.cMultipleItems = item_count(control);
  }
  copy_name(out.szShortName, control.name);
  copy_name(out.szName, control.name);
  out.Bounds.lMinimum = control.min;
  out.Bounds.lMaximum = control.max;
  out.Metrics.cSteps = control.steps;
}

}  // namespace

std::size_t ModelLayout::add_destination(ModelLine line) {
  line.is_source = false;
  line.destination = static_cast<std::uint32_t>(destinations.size());
  line.source = 0;
  destinations.push_back(lines.size());
  lines.push_back(std::move(line));
  return lines.size() - 1;
}

std::size_t ModelLayout::add_source(std::size_t destination, ModelLine line) {
  ModelLine& owner = lines[destination];
  line.is_source = true;
  line.destination = owner.destination;
  line.source = static_cast<std::uint32_t>(owner.sources.size());
  owner.sources.push_back(lines.size());
  lines.push_back(std::move(line));
  return lines.size() - 1;
}

std::size_t ModelLayout::add_control(std::size_t line, ModelControl control) {
  control.line = line;
  lines[line].controls.push_back(controls.size());
  controls.push_back(std::move(control));
  return controls.size() - 1;
}

void ModelMixer::set_layout(unsigned device, ModelLayout layout) {
  auto model = std::make_unique<Device>();
  model->layout = std::move(layout);
  const ModelLayout& placed = model->layout;
  model->line_index.reserve(placed.lines.size());
  model->control_index.reserve(placed.controls.size());
  for (std::size_t l = 0; l < placed.lines.size(); ++l) {
    model->line_index.emplace(placed.lines[l].id, l);
  }
  for (std::size_t c = 0; c < placed.controls.size(); ++c) {
    // A line without channels shows no controls: they are not found.
    if (placed.lines[placed.controls[c].line].channels == 0) continue;
    model->control_index.emplace(placed.controls[c].id, c);
  }
  if (devices_.size() <= device) devices_.resize(device + 1);
  devices_[device] = std::move(model);
}

const ModelLayout* ModelMixer::layout(unsigned device) const {
  if (device >= devices_.size() || !devices_[device]) return nullptr;
  return &devices_[device]->layout;
}

const ModelControl* ModelMixer::control_by_id(unsigned device, std::uint32_t control_id) const {
  if (device >= devices_.size() || !devices_[device]) return nullptr;
  const Device& model = *devices_[device];
  auto found = model.control_index.find(control_id);
  return found == model.control_index.end() ? nullptr : &model.layout.controls[found->second];
}

ModelControl* ModelMixer::control_of(const OpenDevice& open, std::uint32_t control_id) {
  return const_cast<ModelControl*>(control_by_id(open.device, control_id));
}

MixerResult ModelMixer::load_device(unsigned) { return MMSYSERR_NODRIVER; }

MixerResult ModelMixer::do_open(unsigned device, std::unique_ptr<OpenDevice>& out) {
  if (layout(device) == nullptr) {
    if (MixerResult result = load_device(device)) return result;
    if (layout(device) == nullptr) return MMSYSERR_NODRIVER;
  }
  out = std::make_unique<OpenDevice>();
  return MMSYSERR_NOERROR;
}

MixerResult ModelMixer::do_get_dev_caps(OpenDevice& open, MixerCaps& caps) {
  const ModelLayout& layout = device_of(open).layout;
  caps = MixerCaps{};
  copy_name(caps.szPname, layout.name);
  caps.cDestinations = static_cast<std::uint32_t>(layout.destinations.size());
  return MMSYSERR_NOERROR;
}

MixerResult ModelMixer::do_get_line_identity(OpenDevice& open, std::uint32_t line_id,
                                             LineIdentity& identity) {
  const Device& model = device_of(open);
  auto found = model.line_index.find(line_id);
  if (found == model.line_index.end()) return MIXERR_INVALLINE;
  const ModelLine& line = model.layout.lines[found->second];
  identity.device_name = line.device_name;
  identity.product_id = line.product_id;
  identity.positions = line.positions;
  return MMSYSERR_NOERROR;
}

MixerResult ModelMixer::do_get_extent(OpenDevice& open, MixerExtent& extent) {
  const ModelLayout& layout = device_of(open).layout;
  extent = MixerExtent();
  extent.lines = layout.lines.size();
  for (const ModelLine& line : layout.lines) {
    std::size_t positions = 0;
    for (const std::string& position : line.positions) positions += position.size();
    extent.text_bytes +=
        line.device_name.size() + line.product_id.size() + positions * line.controls.size();
    extent.controls += line.controls.size();
    extent.channel_values += std::size_t{line.channels} * line.controls.size();
    for (std::size_t index : line.controls) extent.items += layout.controls[index].items.size();
  }
  return MMSYSERR_NOERROR;
}

MixerResult ModelMixer::do_get_line_info(OpenDevice& open, MixerLine& line, LineQuery query) {
  const Device& model = device_of(open);
  const ModelLayout& layout = model.layout;
  const ModelLine* found = nullptr;
  switch (query) {
    case LineQuery::kDestination:
      if (line.dwDestination < layout.destinations.size()) {
        found = &layout.lines[layout.destinations[line.dwDestination]];
      }
      break;
    case LineQuery::kSource:
      if (line.dwDestination < layout.destinations.size()) {
        const ModelLine& destination = layout.lines[layout.destinations[line.dwDestination]];
        if (line.dwSource < destination.sources.size()) {
          found = &layout.lines[destination.sources[line.dwSource]];
        }
      }
      break;
    case LineQuery::kLineId:
      if (auto it = model.line_index.find(line.dwLineID); it != model.line_index.end()) {
        found = &layout.lines[it->second];
      }
      break;
  }
  if (found == nullptr) return MIXERR_INVALLINE;
  const std::uintptr_t user = line.dwUser;
  line = MixerLine{};
  line.dwUser = user;
  line.dwDestination = found->destination;
  line.dwSource = found->is_source ? found->source : 0;
  line.dwLineID = found->id;
  line.fdwLine = found->is_source ? (kLineActive | kLineSource) : kLineActive;
  line.dwComponentType = found->component_type;
  line.cChannels = found->channels;
  line.cConnections = found->is_source ? 0 : static_cast<std::uint32_t>(found->sources.size());
  line.cControls = found->channels == 0 ? 0 : static_cast<std::uint32_t>(found->controls.size());
  copy_name(line.szShortName, found->name);
  copy_name(line.szName, found->name);
  copy_name(line.Target.szPname, layout.name);
  return MMSYSERR_NOERROR;
}

MixerResult ModelMixer::do_get_line_controls(OpenDevice& open, MixerLineControls& controls,
                                             ControlsQuery query) {
  const Device& model = device_of(open);
  const ModelLayout& layout = model.layout;
  if (query == ControlsQuery::kOneById) {
    const ModelControl* control = control_by_id(open.device, controls.dwControlID);
    if (control == nullptr) return MIXERR_INVALCONTROL;
    fill_control(*control, controls.pamxctrl[0]);
    controls.dwLineID = layout.lines[control->line].id;
    return MMSYSERR_NOERROR;
  }
  auto found = model.line_index.find(controls.dwLineID);
  if (found == model.line_index.end()) return MIXERR_INVALLINE;
  const ModelLine& line = layout.lines[found->second];
  const std::size_t count = line.channels == 0 ? 0 : line.controls.size();
  if (controls.cControls != count) return MMSYSERR_INVALPARAM;
  for (std::size_t k = 0; k < count; ++k) {
    fill_control(layout.controls[line.controls[k]], controls.pamxctrl[k]);
  }
  return MMSYSERR_NOERROR;
}

MixerResult ModelMixer::do_get_control_details(OpenDevice& open, MixerControlDetails& details,
                                               DetailsQuery query) {
  const ModelControl* found = control_by_id(open.device, details.dwControlID);
  if (found == nullptr) return MIXERR_INVALCONTROL;
  const ModelControl& control = *found;
  if (!shape_fits(control, device_of(open).layout.lines[control.line].channels, details)) {
    return MMSYSERR_INVALPARAM;
  }

  if (query == DetailsQuery::kListText) {
    if (!control.list) return MMSYSERR_INVALPARAM;
    auto* out = static_cast<ListText*>(details.paDetails);
    for (std::size_t k = 0; k < control.items.size(); ++k) {
      const ModelItem& item = control.items[k];
      out[k] = ListText{};
      out[k].dwParam1 = item.line_id;
      out[k].dwParam2 = item.component_type;
      copy_name(out[k].szName, item.name);
    }
    return MMSYSERR_NOERROR;
  }

  auto* out = static_cast<std::int32_t*>(details.paDetails);
  if (!control.list) {
    if (!control.uniform) return read_values(open.device, control, {out, details.cChannels});
    // A uniform control holds one value, the same in every channel.
    if (MixerResult result = read_values(open.device, control, {out, 1})) return result;
    std::fill(out + 1, out + details.cChannels, out[0]);
    return MMSYSERR_NOERROR;
  }
  // A list reads one block of item states, the same for every channel.
  const std::size_t items = control.items.size();
  if (MixerResult result = read_values(open.device, control, {out, items})) return result;
  for (std::size_t b = 1; b < details.cChannels; ++b) {
    std::copy(out, out + items, out + b * items);
  }
  return MMSYSERR_NOERROR;
}

MixerResult ModelMixer::do_set_control_details(OpenDevice& open,
                                               const MixerControlDetails& details) {
  ModelControl* found = control_of(open, details.dwControlID);
  if (found == nullptr) return MIXERR_INVALCONTROL;
  ModelControl& control = *found;
  if (!shape_fits(control, device_of(open).layout.lines[control.line].channels, details)) {
    return MMSYSERR_INVALPARAM;
  }
  if (is_meter(control.type)) return MIXERR_INVALVALUE;

  const auto* in = static_cast<const std::int32_t*>(details.paDetails);
  if (!control.list) {
    const std::span<const std::int32_t> values(in, details.cChannels);
    if (!control.device_bounds) {
      for (std::int32_t value : values) {
        if (!within_bounds(control.min, control.max, value)) return MIXERR_INVALVALUE;
      }
    }
    // A uniform control takes the first value for every channel.
    return write_values(open.device, control, control.uniform ? values.first(1) : values);
  }
  // Only the first block of a list write counts; it is checked whole first.
  const std::span<const std::int32_t> states(in, control.items.size());
  std::size_t selected = 0;
  for (std::int32_t state : states) {
    if (state != 0 && state != 1) return MIXERR_INVALVALUE;
    selected += static_cast<std::size_t>(state);
  }
  if (is_single_select(control.type) && selected != 1) return MIXERR_INVALVALUE;
  return write_values(open.device, control, states);
}

}  // namespace quorvel
