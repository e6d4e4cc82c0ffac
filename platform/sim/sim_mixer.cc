#include "platform/sim/sim_mixer.h"

#include <algorithm>
#include <utility>

#include "platform/document/control_kind.h"

namespace quorvel {

SimMixer::SimMixer(SimDevice device) : device_(std::move(device)) {
  std::size_t control_total = 0;
  for (std::uint32_t i = 0; i < device_.destinations.size(); ++i) {
    SimDestination& destination = device_.destinations[i];
    destination_line_.push_back(lines_.size());
    lines_.push_back(LineRef{i, -1});
    control_total += destination.controls.size();
    for (std::size_t j = 0; j < destination.sources.size(); ++j) {
      lines_.push_back(LineRef{i, static_cast<std::int64_t>(j)});
      control_total += destination.sources[j].controls.size();
    }
  }
  line_index_.reserve(lines_.size());
  control_index_.reserve(control_total);
  for (std::size_t l = 0; l < lines_.size(); ++l) {
    line_index_.emplace(line_id(lines_[l]), l);
    std::vector<SimControl>& controls = line_controls(lines_[l]);
    std::size_t channels = line_channels(lines_[l]);
    if (channels == 0) channels = 1;
    for (std::size_t c = 0; c < controls.size(); ++c) {
      SimControl& control = controls[c];
      if (line_channels(lines_[l]) > 0) control_index_.emplace(control.id, ControlRef{l, c});
      control.uniform = is_channel_switch(control.type) && control.values.size() <= 1;
      // Channel k starts from entry k, else entry 0, else 0.
      std::vector<std::int32_t>& values = control.values;
      std::int32_t first = values.empty() ? 0 : values.front();
      if (values.size() > channels) values.resize(channels);
      while (values.size() < channels) values.push_back(first);
      if (!sim_has_items(control)) cover_values(control);
    }
  }
}

void SimMixer::cover_values(SimControl& control) {
  // Bounds in order as signed numbers are signed, else unsigned (as the
  // service checks them).
  const bool is_signed = control.min <= control.max;
  for (std::int32_t value : control.values) {
    if (is_signed) {
      control.min = std::min(control.min, value);
      control.max = std::max(control.max, value);
    } else {
      const auto u = static_cast<std::uint32_t>(value);
      if (u < static_cast<std::uint32_t>(control.min)) control.min = value;
      if (u > static_cast<std::uint32_t>(control.max)) control.max = value;
    }
  }
}

std::uint32_t SimMixer::line_id(const LineRef& ref) const {
  if (ref.source < 0) return device_.destinations[ref.destination].line_id;
  return sim_source_line_id(ref.destination, static_cast<std::uint32_t>(ref.source));
}

std::uint32_t SimMixer::line_channels(const LineRef& ref) const {
  const SimDestination& destination = device_.destinations[ref.destination];
  if (ref.source < 0) return destination.channels;
  return destination.sources[static_cast<std::size_t>(ref.source)].channels;
}

const std::vector<SimControl>& SimMixer::line_controls(const LineRef& ref) const {
  const SimDestination& destination = device_.destinations[ref.destination];
  if (ref.source < 0) return destination.controls;
  return destination.sources[static_cast<std::size_t>(ref.source)].controls;
}

std::vector<SimControl>& SimMixer::line_controls(const LineRef& ref) {
  return const_cast<std::vector<SimControl>&>(std::as_const(*this).line_controls(ref));
}

const SimControl* SimMixer::control(std::uint32_t id) const {
  auto it = control_index_.find(id);
  if (it == control_index_.end()) return nullptr;
  return &line_controls(lines_[it->second.line])[it->second.control];
}

SimControl* SimMixer::control(std::uint32_t id) {
  return const_cast<SimControl*>(std::as_const(*this).control(id));
}

std::vector<std::int32_t> SimMixer::values(std::uint32_t control_id) const {
  const SimControl* found = control(control_id);
  if (found == nullptr) return {};
  if (!sim_has_items(*found)) return found->values;
  std::vector<std::int32_t> states;
  states.reserve(found->items.size());
  for (const SimItem& item : found->items) states.push_back(item.selected);
  return states;
}

// ---- The model, as the service base asks for it ----------------------------

MixerResult SimMixer::do_open(unsigned, std::unique_ptr<OpenDevice>& out) {
  out = std::make_unique<OpenDevice>();
  return MMSYSERR_NOERROR;
}

ModelMixer::ModelDevice SimMixer::describe_device(OpenDevice&) {
  return ModelDevice{device_.name, static_cast<std::uint32_t>(device_.destinations.size())};
}

void SimMixer::describe_line(std::size_t index, ModelLine& out) const {
  const LineRef& ref = lines_[index];
  const SimDestination& destination = device_.destinations[ref.destination];
  out = ModelLine{};
  out.key = index;
  out.id = line_id(ref);
  out.destination = ref.destination;
  out.channels = line_channels(ref);
  out.controls = out.channels == 0 ? 0 : static_cast<std::uint32_t>(line_controls(ref).size());
  if (ref.source < 0) {
    out.component_type = destination.component_type;
    out.connections = static_cast<std::uint32_t>(destination.sources.size());
    out.name = destination.name;
  } else {
    const SimSource& source = destination.sources[static_cast<std::size_t>(ref.source)];
    out.is_source = true;
    out.source = static_cast<std::uint32_t>(ref.source);
    out.component_type = source.line_type;
    out.name = source.name;
  }
}

bool SimMixer::find_destination(OpenDevice&, std::uint32_t destination, ModelLine& out) {
  if (destination >= device_.destinations.size()) return false;
  describe_line(destination_line_[destination], out);
  return true;
}

bool SimMixer::find_source(OpenDevice&, std::uint32_t destination, std::uint32_t source,
                           ModelLine& out) {
  if (destination >= device_.destinations.size() ||
      source >= device_.destinations[destination].sources.size()) {
    return false;
  }
  describe_line(destination_line_[destination] + 1 + source, out);
  return true;
}

bool SimMixer::find_line(OpenDevice&, std::uint32_t id, ModelLine& out) {
  auto found = line_index_.find(id);
  if (found == line_index_.end()) return false;
  describe_line(found->second, out);
  return true;
}

void SimMixer::describe_control(const ControlRef& ref, ModelControl& out) const {
  const LineRef& line = lines_[ref.line];
  const SimControl& control = line_controls(line)[ref.control];
  out = ModelControl{};
  out.key = ref.control;
  out.line_key = ref.line;
  out.id = control.id;
  out.type = control.type;
  out.name = control.name;
  out.min = control.min;
  out.max = control.max;
  out.steps = control.steps;
  out.uniform = control.uniform;
  out.list = sim_has_items(control);
  out.items = out.list ? static_cast<std::uint32_t>(control.items.size()) : 0;
  out.line_id = line_id(line);
  out.line_channels = line_channels(line);
}

void SimMixer::line_control(OpenDevice&, const ModelLine& line, std::uint32_t index,
                            ModelControl& out) {
  describe_control(ControlRef{line.key, index}, out);
}

bool SimMixer::find_control(OpenDevice&, std::uint32_t id, ModelControl& out) {
  auto found = control_index_.find(id);
  if (found == control_index_.end()) return false;
  describe_control(found->second, out);
  return true;
}

SimControl& SimMixer::control_at(const ModelControl& control) {
  return line_controls(lines_[control.line_key])[control.key];
}

ModelMixer::ModelItem SimMixer::list_item(OpenDevice&, const ModelControl& control,
                                          std::uint32_t item) {
  ModelItem out;
  out.name = control_at(control).items[item].name;
  // An item of a destination's list stands for the source of the same
  // index, as a driver reports it.
  const LineRef& line = lines_[control.line_key];
  const SimDestination& destination = device_.destinations[line.destination];
  if (line.source < 0 && item < destination.sources.size()) {
    out.line_id = sim_source_line_id(line.destination, item);
    out.component_type = destination.sources[item].line_type;
  }
  return out;
}

MixerResult SimMixer::read_values(OpenDevice&, const ModelControl& control,
                                  std::span<std::int32_t> values) {
  const SimControl& found = control_at(control);
  for (std::size_t k = 0; k < values.size(); ++k) {
    values[k] = control.list ? found.items[k].selected : found.values[k];
  }
  return MMSYSERR_NOERROR;
}

MixerResult SimMixer::write_values(OpenDevice&, const ModelControl& control,
                                   std::span<const std::int32_t> values) {
  SimControl& found = control_at(control);
  bool changed = false;
  auto put = [&changed](std::int32_t& slot, std::int32_t value) {
    if (slot != value) {
      slot = value;
      changed = true;
    }
  };
  if (control.list) {
    for (std::size_t k = 0; k < values.size(); ++k) put(found.items[k].selected, values[k]);
  } else {
    for (std::size_t c = 0; c < found.values.size(); ++c) {
      put(found.values[c], values[values.size() == 1 ? 0 : c]);
    }
  }
  if (changed) changed_ = true;
  return MMSYSERR_NOERROR;
}

}  // namespace quorvel
