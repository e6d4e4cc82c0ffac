#include "platform/sim/sim_mixer.h"

#include <utility>

#include "platform/document/control_kind.h"
#include "platform/mixer/control_bounds.h"

namespace quorvel {

SimMixer::SimMixer(SimDevice device) { serve(std::move(device)); }

void SimMixer::serve(SimDevice device) {
  device_ = std::move(device);
  controls_.clear();
  changed_ = false;
  ModelLayout layout;
  layout.name = device_.name;
  for (std::uint32_t i = 0; i < device_.destinations.size(); ++i) {
    SimDestination& destination = device_.destinations[i];
    ModelLine line;
    line.id = destination.line_id;
    line.component_type = destination.component_type;
    line.channels = destination.channels;
    line.name = destination.name;
    line.device_name = destination.server_name;
    line.product_id = destination.product_id;
    line.positions = destination.positions;
    const std::size_t d = layout.add_destination(std::move(line));
    add_controls(layout, d, destination.controls, destination.channels, &destination.sources, i);
    for (std::uint32_t j = 0; j < destination.sources.size(); ++j) {
      SimSource& source = destination.sources[j];
      ModelLine source_line;
      source_line.id = sim_source_line_id(i, j);
      source_line.component_type = source.line_type;
      source_line.channels = source.channels;
      source_line.name = source.name;
      source_line.device_name = source.server_name;
      source_line.product_id = source.product_id;
      source_line.positions = source.positions;
      const std::size_t s = layout.add_source(d, std::move(source_line));
      add_controls(layout, s, source.controls, source.channels, nullptr, i);
    }
  }
  set_layout(0, std::move(layout));
}

void SimMixer::add_controls(ModelLayout& layout, std::size_t line,
                            std::vector<SimControl>& controls, std::uint32_t channels,
                            const std::vector<SimSource>* sources, std::uint32_t destination) {
  const std::size_t slots = channels == 0 ? 1 : channels;
  for (SimControl& control : controls) {
    control.uniform = is_channel_switch(control.type) && control.values.size() <= 1;
    // Channel k starts from entry k, else entry 0, else 0.
    std::vector<std::int32_t>& values = control.values;
    const std::int32_t first = values.empty() ? 0 : values.front();
    if (values.size() > slots) values.resize(slots);
    while (values.size() < slots) values.push_back(first);
    const bool list = sim_has_items(control);
    if (!list) cover_values(control.min, control.max, values);

    ModelControl model;
    model.id = control.id;
    model.type = control.type;
    model.name = control.name;
    model.min = control.min;
    model.max = control.max;
    model.steps = control.steps;
    model.uniform = control.uniform;
    model.list = list;
    if (list) {
      model.items.reserve(control.items.size());
      for (std::size_t k = 0; k < control.items.size(); ++k) {
        ModelItem item;
        item.name = control.items[k].name;
        // An item of a destination's list stands for the source of the
        // same index, as a driver reports it.
        if (sources != nullptr && k < sources->size()) {
          item.line_id = sim_source_line_id(destination, static_cast<std::uint32_t>(k));
          item.component_type = (*sources)[k].line_type;
        }
        model.items.push_back(std::move(item));
      }
    }
    model.key = controls_.size();
    controls_.push_back(&control);
    layout.add_control(line, std::move(model));
  }
}

const SimControl* SimMixer::control(std::uint32_t id) const {
  const ModelControl* found = control_by_id(0, id);
  return found == nullptr ? nullptr : controls_[found->key];
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

MixerResult SimMixer::read_values(unsigned, const ModelControl& control,
                                  std::span<std::int32_t> values) {
  const SimControl& found = *controls_[control.key];
  for (std::size_t k = 0; k < values.size(); ++k) {
    values[k] = control.list ? found.items[k].selected : found.values[k];
  }
  return kMixerOk;
}

MixerResult SimMixer::write_values(unsigned, ModelControl& control,
                                   std::span<const std::int32_t> values) {
  SimControl& found = *controls_[control.key];
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
  return kMixerOk;
}

}  // namespace quorvel
