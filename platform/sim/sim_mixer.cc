#include "platform/sim/sim_mixer.h"

#include <atomic>
#include <cstring>
#include <utility>

namespace quorvel {

namespace {

bool is_meter(std::uint32_t type) { return (type & ctrl::kClassMask) == ctrl::kClassMeter; }

bool is_single_select(std::uint32_t type) {
  return type == ctrl::kMux || type == ctrl::kSingleSelect;
}

// Whether `value` lies within the control's bounds: signed bounds when they
// are in order as signed numbers, else the same 32 bits taken unsigned.
bool within_bounds(const SimControl& control, std::int32_t value) {
  if (control.min <= control.max) return control.min <= value && value <= control.max;
  auto u = static_cast<std::uint32_t>(value);
  return static_cast<std::uint32_t>(control.min) <= u &&
         u <= static_cast<std::uint32_t>(control.max);
}

// Handle ids are unique across every simulated mixer of the process, so a
// handle from one is never taken for a handle of another.
std::atomic<std::uintptr_t> next_handle_id{1};

}  // namespace

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
      control_index_.emplace(controls[c].id, ControlRef{l, c});
      // Channel k starts from entry k, else entry 0, else 0.
      std::vector<std::int32_t>& values = controls[c].values;
      std::int32_t first = values.empty() ? 0 : values.front();
      if (values.size() > channels) values.resize(channels);
      while (values.size() < channels) values.push_back(first);
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

std::uint32_t SimMixer::line_connections(const LineRef& ref) const {
  if (ref.source >= 0) return 0;
  return static_cast<std::uint32_t>(device_.destinations[ref.destination].sources.size());
}

const std::vector<SimControl>& SimMixer::line_controls(const LineRef& ref) const {
  const SimDestination& destination = device_.destinations[ref.destination];
  if (ref.source < 0) return destination.controls;
  return destination.sources[static_cast<std::size_t>(ref.source)].controls;
}

std::vector<SimControl>& SimMixer::line_controls(const LineRef& ref) {
  SimDestination& destination = device_.destinations[ref.destination];
  if (ref.source < 0) return destination.controls;
  return destination.sources[static_cast<std::size_t>(ref.source)].controls;
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

void SimMixer::fail_next(SimOp op, MixerResult code, int count) {
  if (count == 0) return;
  failures_.push_back(Failure{op, true, 0, code, count});
}

void SimMixer::fail_on(SimOp op, std::uint32_t id, MixerResult code, int count) {
  if (count == 0) return;
  failures_.push_back(Failure{op, false, id, code, count});
}

void SimMixer::clear_failures() { failures_.clear(); }

bool SimMixer::take_failure(SimOp op, bool any_id, std::uint32_t id, MixerResult& code) {
  for (auto it = failures_.begin(); it != failures_.end(); ++it) {
    if (it->op != op || it->any_id != any_id || (!any_id && it->id != id)) continue;
    code = it->code;
    if (it->remaining > 0 && --it->remaining == 0) failures_.erase(it);
    return true;
  }
  return false;
}

bool SimMixer::injected(SimOp op, MixerResult& code) {
  return !failures_.empty() && take_failure(op, true, 0, code);
}

bool SimMixer::injected_for(SimOp op, std::uint32_t id, MixerResult& code) {
  return !failures_.empty() && take_failure(op, false, id, code);
}

bool SimMixer::is_open(const MixerHandle& handle) const {
  return handle.is_open() && handles_.count(handle.id()) != 0;
}

// Counts the call, then answers an injected failure or a bad handle.
MixerResult SimMixer::begin(SimOp op, const MixerHandle& handle) {
  ++calls_[static_cast<std::size_t>(op)];
  MixerResult code = MMSYSERR_NOERROR;
  if (injected(op, code)) return code;
  if (!is_open(handle)) return MMSYSERR_INVALHANDLE;
  return MMSYSERR_NOERROR;
}

unsigned SimMixer::device_count() {
  ++calls_[static_cast<std::size_t>(SimOp::kDeviceCount)];
  MixerResult code = MMSYSERR_NOERROR;
  if (injected(SimOp::kDeviceCount, code)) return 0;
  return 1;
}

MixerResult SimMixer::open(unsigned device, MixerHandle& out) {
  ++calls_[static_cast<std::size_t>(SimOp::kOpen)];
  MixerResult code = MMSYSERR_NOERROR;
  if (injected(SimOp::kOpen, code)) return code;
  if (device != 0) return MMSYSERR_BADDEVICEID;
  std::uintptr_t id = next_handle_id.fetch_add(1);
  handles_.insert(id);
  out = MixerHandle(this, id);
  return MMSYSERR_NOERROR;
}

MixerResult SimMixer::close(std::uintptr_t handle) {
  ++calls_[static_cast<std::size_t>(SimOp::kClose)];
  MixerResult code = MMSYSERR_NOERROR;
  if (injected(SimOp::kClose, code)) return code;
  if (handles_.erase(handle) == 0) return MMSYSERR_INVALHANDLE;
  return MMSYSERR_NOERROR;
}

MixerResult SimMixer::get_dev_caps(const MixerHandle& handle, MixerCaps& caps) {
  if (MixerResult code = begin(SimOp::kDevCaps, handle)) return code;
  caps = MixerCaps{};
  copy_name(caps.szPname, device_.name);
  caps.cDestinations = static_cast<std::uint32_t>(device_.destinations.size());
  return MMSYSERR_NOERROR;
}

void SimMixer::fill_line(const LineRef& ref, MixerLine& line) const {
  constexpr std::uint32_t kLineActive = 0x00000001;
  constexpr std::uint32_t kLineSource = 0x80000000;
  const SimDestination& destination = device_.destinations[ref.destination];
  const std::string& name =
      ref.source < 0 ? destination.name
                     : destination.sources[static_cast<std::size_t>(ref.source)].name;
  std::uintptr_t user = line.dwUser;
  line = MixerLine{};
  line.dwUser = user;
  line.dwDestination = ref.destination;
  line.dwSource = ref.source < 0 ? 0 : static_cast<std::uint32_t>(ref.source);
  line.dwLineID = line_id(ref);
  line.fdwLine = ref.source < 0 ? kLineActive : (kLineActive | kLineSource);
  line.dwComponentType =
      ref.source < 0 ? destination.component_type
                     : destination.sources[static_cast<std::size_t>(ref.source)].line_type;
  line.cChannels = line_channels(ref);
  line.cConnections = line_connections(ref);
  line.cControls = static_cast<std::uint32_t>(line_controls(ref).size());
  copy_name(line.szShortName, name);
  copy_name(line.szName, name);
  copy_name(line.Target.szPname, device_.name);
}

MixerResult SimMixer::get_line_info(const MixerHandle& handle, MixerLine& line,
                                    LineQuery query) {
  if (MixerResult code = begin(SimOp::kLineInfo, handle)) return code;
  if (line.cbStruct != sizeof(MixerLine)) return MMSYSERR_INVALPARAM;
  std::size_t index = 0;
  switch (query) {
    case LineQuery::kDestination:
      if (line.dwDestination >= device_.destinations.size()) return MIXERR_INVALLINE;
      index = destination_line_[line.dwDestination];
      break;
    case LineQuery::kSource:
      if (line.dwDestination >= device_.destinations.size() ||
          line.dwSource >= device_.destinations[line.dwDestination].sources.size()) {
        return MIXERR_INVALLINE;
      }
      index = destination_line_[line.dwDestination] + 1 + line.dwSource;
      break;
    case LineQuery::kLineId: {
      auto found = line_index_.find(line.dwLineID);
      if (found == line_index_.end()) return MIXERR_INVALLINE;
      index = found->second;
      break;
    }
    default:
      return MMSYSERR_INVALFLAG;
  }
  const LineRef& ref = lines_[index];
  MixerResult code = MMSYSERR_NOERROR;
  if (injected_for(SimOp::kLineInfo, line_id(ref), code)) return code;
  fill_line(ref, line);
  return MMSYSERR_NOERROR;
}

void SimMixer::fill_control(const SimControl& control, MixerControl& out) const {
  out = MixerControl{};
  out.dwControlID = control.id;
  out.dwControlType = control.type;
  if (sim_has_items(control)) {
    out.fdwControl = ctrl::kFlagMultiple;
    out.cMultipleItems = static_cast<std::uint32_t>(control.items.size());
  }
  copy_name(out.szShortName, control.name);
  copy_name(out.szName, control.name);
  out.Bounds.lMinimum = control.min;
  out.Bounds.lMaximum = control.max;
  out.Metrics.cSteps = control.steps;
}

MixerResult SimMixer::get_line_controls(const MixerHandle& handle, MixerLineControls& controls,
                                        ControlsQuery query) {
  if (MixerResult code = begin(SimOp::kLineControls, handle)) return code;
  if (controls.cbStruct != sizeof(MixerLineControls) ||
      controls.cbmxctrl != sizeof(MixerControl)) {
    return MMSYSERR_INVALPARAM;
  }
  MixerResult code = MMSYSERR_NOERROR;
  switch (query) {
    case ControlsQuery::kAll: {
      auto found = line_index_.find(controls.dwLineID);
      if (found == line_index_.end()) return MIXERR_INVALLINE;
      const std::vector<SimControl>& list = line_controls(lines_[found->second]);
      if (controls.cControls != list.size()) return MMSYSERR_INVALPARAM;
      if (!list.empty() && controls.pamxctrl == nullptr) return MMSYSERR_INVALPARAM;
      if (injected_for(SimOp::kLineControls, controls.dwLineID, code)) return code;
      for (std::size_t c = 0; c < list.size(); ++c) fill_control(list[c], controls.pamxctrl[c]);
      return MMSYSERR_NOERROR;
    }
    case ControlsQuery::kOneById: {
      auto found = control_index_.find(controls.dwControlID);
      if (found == control_index_.end()) return MIXERR_INVALCONTROL;
      if (controls.cControls != 1 || controls.pamxctrl == nullptr) return MMSYSERR_INVALPARAM;
      const LineRef& ref = lines_[found->second.line];
      if (injected_for(SimOp::kLineControls, line_id(ref), code)) return code;
      fill_control(line_controls(ref)[found->second.control], controls.pamxctrl[0]);
      controls.dwLineID = line_id(ref);
      return MMSYSERR_NOERROR;
    }
  }
  return MMSYSERR_INVALFLAG;
}

MixerResult SimMixer::check_shape(const SimControl& control, const LineRef& line,
                                  const MixerControlDetails& details) const {
  std::uint32_t channels = line_channels(line);
  if (details.cChannels != 1 && (details.cChannels == 0 || details.cChannels != channels)) {
    return MMSYSERR_INVALPARAM;
  }
  std::uint32_t items =
      sim_has_items(control) ? static_cast<std::uint32_t>(control.items.size()) : 0;
  if (details.cMultipleItems != items) return MMSYSERR_INVALPARAM;
  return MMSYSERR_NOERROR;
}

MixerResult SimMixer::get_control_details(const MixerHandle& handle,
                                          MixerControlDetails& details, DetailsQuery query) {
  if (MixerResult code = begin(SimOp::kGetDetails, handle)) return code;
  if (details.cbStruct != sizeof(MixerControlDetails)) return MMSYSERR_INVALPARAM;
  auto found = control_index_.find(details.dwControlID);
  if (found == control_index_.end()) return MIXERR_INVALCONTROL;
  const LineRef& line = lines_[found->second.line];
  const SimControl& control = line_controls(line)[found->second.control];
  if (MixerResult code = check_shape(control, line, details)) return code;
  const bool has_items = sim_has_items(control);
  const std::size_t items = control.items.size();
  MixerResult code = MMSYSERR_NOERROR;

  if (query == DetailsQuery::kListText) {
    if (!has_items || details.cbDetails != sizeof(ListText)) return MMSYSERR_INVALPARAM;
    if (items > 0 && details.paDetails == nullptr) return MMSYSERR_INVALPARAM;
    if (injected_for(SimOp::kGetDetails, control.id, code)) return code;
    auto* out = static_cast<ListText*>(details.paDetails);
    // An item of a destination's list stands for the source of the same
    // index, as a driver reports it.
    const SimDestination& destination = device_.destinations[line.destination];
    for (std::size_t k = 0; k < items; ++k) {
      out[k] = ListText{};
      if (line.source < 0 && k < destination.sources.size()) {
        out[k].dwParam1 = sim_source_line_id(line.destination, static_cast<std::uint32_t>(k));
        out[k].dwParam2 = destination.sources[k].line_type;
      }
      copy_name(out[k].szName, control.items[k].name);
    }
    return MMSYSERR_NOERROR;
  }
  if (query != DetailsQuery::kValue) return MMSYSERR_INVALFLAG;

  if (details.cbDetails != sizeof(std::int32_t)) return MMSYSERR_INVALPARAM;
  const std::size_t blocks = details.cChannels;
  const std::size_t count = has_items ? blocks * items : blocks;
  if (count > 0 && details.paDetails == nullptr) return MMSYSERR_INVALPARAM;
  if (injected_for(SimOp::kGetDetails, control.id, code)) return code;
  auto* out = static_cast<unsigned char*>(details.paDetails);
  auto put = [&](std::size_t slot, std::int32_t value) {
    std::memcpy(out + slot * sizeof value, &value, sizeof value);
  };
  if (has_items) {
    for (std::size_t b = 0; b < blocks; ++b) {
      for (std::size_t k = 0; k < items; ++k) put(b * items + k, control.items[k].selected);
    }
  } else {
    for (std::size_t c = 0; c < blocks; ++c) put(c, control.values[c]);
  }
  return MMSYSERR_NOERROR;
}

MixerResult SimMixer::set_control_details(const MixerHandle& handle,
                                          const MixerControlDetails& details) {
  if (MixerResult code = begin(SimOp::kSetDetails, handle)) return code;
  if (details.cbStruct != sizeof(MixerControlDetails)) return MMSYSERR_INVALPARAM;
  auto found = control_index_.find(details.dwControlID);
  if (found == control_index_.end()) return MIXERR_INVALCONTROL;
  const LineRef& line = lines_[found->second.line];
  SimControl& control = line_controls(line)[found->second.control];
  if (MixerResult code = check_shape(control, line, details)) return code;
  if (details.cbDetails != sizeof(std::int32_t)) return MMSYSERR_INVALPARAM;
  const bool has_items = sim_has_items(control);
  const std::size_t items = control.items.size();
  const std::size_t count = has_items ? details.cChannels * items : details.cChannels;
  if (count > 0 && details.paDetails == nullptr) return MMSYSERR_INVALPARAM;
  MixerResult code = MMSYSERR_NOERROR;
  if (injected_for(SimOp::kSetDetails, control.id, code)) return code;
  if (is_meter(control.type)) return MIXERR_INVALVALUE;

  const auto* in = static_cast<const unsigned char*>(details.paDetails);
  auto get = [&](std::size_t slot) {
    std::int32_t value;
    std::memcpy(&value, in + slot * sizeof value, sizeof value);
    return value;
  };
  bool changed = false;
  if (has_items) {
    // Check the whole first block before taking any of it.
    std::size_t selected = 0;
    for (std::size_t k = 0; k < items; ++k) {
      std::int32_t value = get(k);
      if (value != 0 && value != 1) return MIXERR_INVALVALUE;
      selected += static_cast<std::size_t>(value);
    }
    if (is_single_select(control.type) && selected != 1) return MIXERR_INVALVALUE;
    for (std::size_t k = 0; k < items; ++k) {
      std::int32_t value = get(k);
      if (control.items[k].selected != value) {
        control.items[k].selected = value;
        changed = true;
      }
    }
  } else {
    for (std::size_t c = 0; c < details.cChannels; ++c) {
      if (!within_bounds(control, get(c))) return MIXERR_INVALVALUE;
    }
    for (std::size_t c = 0; c < control.values.size(); ++c) {
      std::int32_t value = get(details.cChannels == 1 ? 0 : c);
      if (control.values[c] != value) {
        control.values[c] = value;
        changed = true;
      }
    }
  }
  if (changed) changed_ = true;
  return MMSYSERR_NOERROR;
}

}  // namespace quorvel
