#include "platform/mixer/model_mixer.h"

#include <algorithm>
#include <optional>
#include <unordered_set>
#include <utility>

#include "platform/mixer/control_bounds.h"

namespace quorvel {
namespace {

bool is_meter(std::uint32_t type) { return (type & ctrl::kClassMask) == ctrl::kClassMeter; }

// List controls of which exactly one item is selected at any time.
bool is_single_select(std::uint32_t type) {
  return type == ctrl::kMux || type == ctrl::kSingleSelect || type == ctrl::kPortSelect;
}

// The values a read of `channels` gives, or none for a shape the control
// does not have: 1 or its line's channel count for a control without items,
// 1 for a list (a state per item).
std::optional<std::size_t> read_size(const ModelControl& control, std::uint32_t line_channels,
                                     std::uint32_t channels) {
  if (control.list) {
    if (channels == 1) return control.items.size();
  } else if (channels == 1 || channels == line_channels) {
    return channels;
  }
  return std::nullopt;
}

// Whether `values` is a write the control takes by its own rules: the
// result of the check.
MixerResult check_write(const ModelControl& control, std::uint32_t line_channels,
                        std::span<const std::int32_t> values) {
  if (control.list) {
    if (values.size() != control.items.size()) return kMixerBadShape;
  } else if (values.size() != 1 && values.size() != line_channels) {
    return kMixerBadShape;
  }
  if (is_meter(control.type)) return kMixerRefused;
  if (!control.list) {
    if (control.device_bounds) return kMixerOk;
    for (std::int32_t value : values) {
      if (!within_bounds(control.min, control.max, value)) return kMixerRefused;
    }
    return kMixerOk;
  }
  std::size_t selected = 0;
  for (std::int32_t state : values) {
    if (state != 0 && state != 1) return kMixerRefused;
    selected += static_cast<std::size_t>(state);
  }
  if (is_single_select(control.type) && selected != 1) return kMixerRefused;
  return kMixerOk;
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

void ModelLayout::index() {
  line_index.clear();
  control_index.clear();
  line_index.reserve(lines.size());
  control_index.reserve(controls.size());
  for (std::size_t l = 0; l < lines.size(); ++l) line_index.emplace(lines[l].id, l);
  for (std::size_t c = 0; c < controls.size(); ++c) {
    // A line without channels shows no controls: they are not found.
    if (lines[controls[c].line].channels == 0) continue;
    control_index.emplace(controls[c].id, c);
  }
}

const ModelLine* ModelLayout::line_by_id(std::uint32_t id) const {
  auto found = line_index.find(id);
  return found == line_index.end() ? nullptr : &lines[found->second];
}

const ModelControl* ModelLayout::control_by_id(std::uint32_t id) const {
  auto found = control_index.find(id);
  return found == control_index.end() ? nullptr : &controls[found->second];
}

void ModelMixer::set_layout(unsigned device, ModelLayout layout) {
  auto model = std::make_unique<ModelLayout>(std::move(layout));
  model->index();
  if (devices_.size() <= device) devices_.resize(device + 1);
  devices_[device] = std::move(model);
}

const ModelLayout* ModelMixer::layout(unsigned device) const {
  return device < devices_.size() ? devices_[device].get() : nullptr;
}

const ModelControl* ModelMixer::control_by_id(unsigned device, std::uint32_t control_id) const {
  const ModelLayout* model = layout(device);
  return model == nullptr ? nullptr : model->control_by_id(control_id);
}

MixerResult ModelMixer::load_device(unsigned) { return kMixerGone; }

ModelLayout* ModelMixer::loaded(unsigned device, MixerResult& result) {
  result = kMixerOk;
  if (device >= device_count()) {
    result = kMixerNoDevice;
    return nullptr;
  }
  if (layout(device) == nullptr) {
    result = load_device(device);
    if (result == kMixerOk && layout(device) == nullptr) result = kMixerGone;
    if (result != kMixerOk) return nullptr;
  }
  return devices_[device].get();
}

MixerResult ModelMixer::describe(unsigned device, const ModelLayout*& out) {
  MixerResult result = kMixerOk;
  out = loaded(device, result);
  return result;
}

void ModelMixer::read(unsigned device, std::span<ValueRead> reads) {
  MixerResult result = kMixerOk;
  const ModelLayout* model = loaded(device, result);
  for (ValueRead& read : reads) {
    read.values.clear();
    read.result = result;
    if (model == nullptr) continue;
    const ModelControl* found = model->control_by_id(read.control_id);
    if (found == nullptr) {
      read.result = kMixerNoControl;
      continue;
    }
    const ModelControl& control = *found;
    const std::optional<std::size_t> size =
        read_size(control, model->lines[control.line].channels, read.channels);
    if (!size) {
      read.result = kMixerBadShape;
      continue;
    }
    if (*size == 0) continue;  // a list without items
    read.values.assign(*size, 0);
    // A uniform control holds one value, the same in every channel.
    const std::size_t asked = control.uniform && !control.list ? 1 : *size;
    read.result = read_values(device, control, {read.values.data(), asked});
    if (read.result != kMixerOk) {
      std::fill(read.values.begin(), read.values.end(), 0);
    } else {
      std::fill(read.values.begin() + static_cast<std::ptrdiff_t>(asked), read.values.end(),
                read.values[0]);
    }
  }
}

void ModelMixer::write(unsigned device, std::span<ValueWrite> writes) {
  MixerResult result = kMixerOk;
  ModelLayout* model = loaded(device, result);
  std::vector<CheckedWrite> checked;
  checked.reserve(writes.size());
  // The writes that pass the checks go to the back-end together, in order;
  // a control written twice is sent in a later batch, after the first write
  // has been made, so that each write finds what the one before it made.
  std::unordered_set<std::uint32_t> batched;
  std::vector<ValueWrite*> handed;  // the entries of `checked`
  const auto flush = [&] {
    write_batch(device, checked);
    // Only a write handed to the back-end can be in doubt.
    for (ValueWrite* entry : handed) {
      entry->in_doubt = entry->result == kMixerGone && gone_writes_in_doubt();
    }
    handed.clear();
    checked.clear();
    batched.clear();
  };
  for (ValueWrite& write : writes) {
    write.result = result;
    write.in_doubt = false;
    if (model == nullptr) continue;
    const ModelControl* found = model->control_by_id(write.control_id);
    if (found == nullptr) {
      write.result = kMixerNoControl;
      continue;
    }
    auto& control = const_cast<ModelControl&>(*found);
    write.result = check_write(control, model->lines[control.line].channels, write.values);
    if (write.result != kMixerOk) continue;
    if (batched.count(control.id) != 0) flush();
    std::span<const std::int32_t> values(write.values);
    // A uniform control takes the first value for every channel.
    if (control.uniform && !control.list) values = values.first(1);
    checked.push_back({&control, values, &write.result});
    handed.push_back(&write);
    batched.insert(control.id);
  }
  if (!checked.empty()) flush();
}

void ModelMixer::write_batch(unsigned device, std::span<CheckedWrite> writes) {
  for (CheckedWrite& write : writes) {
    *write.result = write_values(device, *write.control, write.values);
  }
}

}  // namespace quorvel
