#include "platform/winmm/winmm_mixer.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <string>
#include <string_view>
#include <utility>

#include "platform/os/text_encoding.h"

namespace quorvel {

// winmm's result codes are the mixer's: messages show the same numbers
// whichever back-end gave them.
static_assert(MMSYSERR_NOERROR == kMixerOk);
static_assert(MMSYSERR_ERROR == kMixerFailed);
static_assert(MMSYSERR_BADDEVICEID == kMixerNoDevice);
static_assert(MMSYSERR_NODRIVER == kMixerGone);
static_assert(MMSYSERR_NOMEM == kMixerNoMemory);
static_assert(MMSYSERR_NOTSUPPORTED == kMixerUnsupported);
static_assert(MMSYSERR_INVALPARAM == kMixerBadShape);
static_assert(MIXERR_INVALLINE == kMixerNoLine);
static_assert(MIXERR_INVALCONTROL == kMixerNoControl);
static_assert(MIXERR_INVALVALUE == kMixerRefused);

// Values are 32-bit numbers in the interface and in winmm's records alike,
// so a values call hands the caller's array to winmm as it is.
static_assert(sizeof(std::int32_t) == sizeof(MIXERCONTROLDETAILS_UNSIGNED));
static_assert(sizeof(std::int32_t) == sizeof(MIXERCONTROLDETAILS_SIGNED));
static_assert(sizeof(std::int32_t) == sizeof(MIXERCONTROLDETAILS_BOOLEAN));

namespace {

// A name field's text, as UTF-8.
template <std::size_t N>
std::string text_of(const char (&field)[N]) {
  return system_to_utf8(std::string_view(field, strnlen(field, N - 1)));
}

HMIXEROBJ object(HMIXER mixer) { return reinterpret_cast<HMIXEROBJ>(mixer); }

// Describes destination `destination` (`source` ignored) or its source
// `source`, as `query` says.
MMRESULT line_info(HMIXER mixer, DWORD destination, DWORD source, DWORD query,
                   MIXERLINEA& line) {
  line = MIXERLINEA{};
  line.cbStruct = sizeof(MIXERLINEA);
  line.dwDestination = destination;
  line.dwSource = source;
  return mixerGetLineInfoA(object(mixer), &line, MIXER_OBJECTF_HMIXER | query);
}

// Gives a list control the names of its items.
MMRESULT read_items(HMIXER mixer, const MIXERCONTROLA& windows, ModelControl& control) {
  const DWORD count = windows.cMultipleItems;
  if (count == 0) return MMSYSERR_NOERROR;
  std::vector<MIXERCONTROLDETAILS_LISTTEXTA> texts(count);
  MIXERCONTROLDETAILS details = details_of(windows.dwControlID, 1, count, texts.data(),
                                           sizeof(MIXERCONTROLDETAILS_LISTTEXTA));
  const MMRESULT result = mixerGetControlDetailsA(
      object(mixer), &details, MIXER_OBJECTF_HMIXER | MIXER_GETCONTROLDETAILSF_LISTTEXT);
  if (result != MMSYSERR_NOERROR) return result;
  control.items.reserve(count);
  for (const MIXERCONTROLDETAILS_LISTTEXTA& text : texts) {
    control.items.push_back(item_from_windows(text));
  }
  return MMSYSERR_NOERROR;
}

// Adds the controls of `line`, the layout's line `index`. A line without
// channels shows no controls, so they are not asked for.
MMRESULT add_controls(HMIXER mixer, const MIXERLINEA& line, std::size_t index,
                      ModelLayout& layout) {
  if (line.cControls == 0 || line.cChannels == 0) return MMSYSERR_NOERROR;
  std::vector<MIXERCONTROLA> controls(line.cControls);
  for (MIXERCONTROLA& control : controls) control.cbStruct = sizeof(MIXERCONTROLA);
  MIXERLINECONTROLSA query{};
  query.cbStruct = sizeof(MIXERLINECONTROLSA);
  query.dwLineID = line.dwLineID;
  query.cControls = line.cControls;
  query.cbmxctrl = sizeof(MIXERCONTROLA);
  query.pamxctrl = controls.data();
  MMRESULT result = mixerGetLineControlsA(object(mixer), &query,
                                          MIXER_OBJECTF_HMIXER | MIXER_GETLINECONTROLSF_ALL);
  if (result != MMSYSERR_NOERROR) return result;
  for (const MIXERCONTROLA& windows : controls) {
    ModelControl control = control_from_windows(windows);
    if (control.list) {
      result = read_items(mixer, windows, control);
      if (result != MMSYSERR_NOERROR) return result;
    }
    layout.add_control(index, std::move(control));
  }
  return MMSYSERR_NOERROR;
}

// Walks the open device into `layout`: its name, then each destination
// with its controls, followed by each of its sources with theirs. A call
// that fails fails the whole: a layout with lines missing would save a
// document that restores less than the device has.
MMRESULT describe_device(HMIXER mixer, ModelLayout& layout) {
  MIXERCAPSA caps{};
  // With a handle in place of a device number, winmm describes the
  // handle's device.
  MMRESULT result = mixerGetDevCapsA(reinterpret_cast<UINT_PTR>(mixer), &caps, sizeof caps);
  if (result != MMSYSERR_NOERROR) return result;
  layout.name = text_of(caps.szPname);
  for (DWORD d = 0; d < caps.cDestinations; ++d) {
    MIXERLINEA destination;
    result = line_info(mixer, d, 0, MIXER_GETLINEINFOF_DESTINATION, destination);
    if (result != MMSYSERR_NOERROR) return result;
    const std::size_t index = layout.add_destination(line_from_windows(destination));
    result = add_controls(mixer, destination, index, layout);
    if (result != MMSYSERR_NOERROR) return result;
    for (DWORD s = 0; s < destination.cConnections; ++s) {
      MIXERLINEA source;
      result = line_info(mixer, d, s, MIXER_GETLINEINFOF_SOURCE, source);
      if (result != MMSYSERR_NOERROR) return result;
      const std::size_t source_index = layout.add_source(index, line_from_windows(source));
      result = add_controls(mixer, source, source_index, layout);
      if (result != MMSYSERR_NOERROR) return result;
    }
  }
  return MMSYSERR_NOERROR;
}

// Reads one entry into zeros shaped as it asks.
MixerResult read_one(HMIXER mixer, const ModelLayout& layout, ValueRead& read) {
  const ModelControl* control = layout.control_by_id(read.control_id);
  if (control == nullptr) return kMixerNoControl;
  DWORD items = 0;
  if (control->list) {
    if (read.channels != 1) return kMixerBadShape;
    items = static_cast<DWORD>(control->items.size());
    read.values.assign(items, 0);
    if (items == 0) return kMixerOk;
  } else {
    if (read.channels != 1 && read.channels != layout.lines[control->line].channels) {
      return kMixerBadShape;
    }
    read.values.assign(read.channels, 0);
  }
  MIXERCONTROLDETAILS details = details_of(control->id, read.channels, items, read.values.data(),
                                           sizeof(MIXERCONTROLDETAILS_UNSIGNED));
  const MMRESULT result = mixerGetControlDetailsA(
      object(mixer), &details, MIXER_OBJECTF_HMIXER | MIXER_GETCONTROLDETAILSF_VALUE);
  if (result != MMSYSERR_NOERROR) std::fill(read.values.begin(), read.values.end(), 0);
  return result;
}

MixerResult write_one(HMIXER mixer, const ModelLayout& layout, ValueWrite& write) {
  const ModelControl* control = layout.control_by_id(write.control_id);
  if (control == nullptr) return kMixerNoControl;
  const std::size_t size = write.values.size();
  DWORD channels = 1;
  DWORD items = 0;
  if (control->list) {
    if (size != control->items.size()) return kMixerBadShape;
    if (size == 0) return kMixerOk;  // nothing to select
    items = static_cast<DWORD>(size);
  } else {
    if (size != 1 && size != layout.lines[control->line].channels) return kMixerBadShape;
    // A uniform control takes one value, for the control as a whole; so does
    // any control given one value.
    if (!control->uniform) channels = static_cast<DWORD>(size);
  }
  MIXERCONTROLDETAILS details = details_of(control->id, channels, items, write.values.data(),
                                           sizeof(MIXERCONTROLDETAILS_UNSIGNED));
  return mixerSetControlDetails(object(mixer), &details,
                                MIXER_OBJECTF_HMIXER | MIXER_SETCONTROLDETAILSF_VALUE);
}

}  // namespace

ModelLine line_from_windows(const MIXERLINEA& windows) {
  ModelLine line;
  line.id = windows.dwLineID;
  line.component_type = windows.dwComponentType;
  line.channels = windows.cChannels;
  line.name = text_of(windows.szName);
  return line;
}

ModelControl control_from_windows(const MIXERCONTROLA& windows) {
  ModelControl control;
  control.id = windows.dwControlID;
  control.type = windows.dwControlType;
  control.name = text_of(windows.szName);
  // Signed and unsigned bounds are the same bits (control_bounds.h reads
  // them either way).
  control.min = windows.Bounds.lMinimum;
  control.max = windows.Bounds.lMaximum;
  control.steps = windows.Metrics.cSteps;
  control.uniform = (windows.fdwControl & MIXERCONTROL_CONTROLF_UNIFORM) != 0;
  control.list = (windows.fdwControl & MIXERCONTROL_CONTROLF_MULTIPLE) != 0;
  return control;
}

ModelItem item_from_windows(const MIXERCONTROLDETAILS_LISTTEXTA& text) {
  return ModelItem{text_of(text.szName), text.dwParam1, text.dwParam2};
}

MIXERCONTROLDETAILS details_of(DWORD control_id, DWORD channels, DWORD items, void* array,
                               DWORD entry_size) {
  MIXERCONTROLDETAILS details{};
  details.cbStruct = sizeof(MIXERCONTROLDETAILS);
  details.dwControlID = control_id;
  details.cChannels = channels;
  details.cMultipleItems = items;
  details.cbDetails = entry_size;
  details.paDetails = array;
  return details;
}

// An open device and its description; closed when the mixer goes.
struct WinmmMixer::Device {
  Device() = default;
  Device(const Device&) = delete;
  Device& operator=(const Device&) = delete;
  ~Device() {
    if (handle != nullptr) mixerClose(handle);
  }
  HMIXER handle = nullptr;
  ModelLayout layout;
};

WinmmMixer::WinmmMixer() = default;
WinmmMixer::~WinmmMixer() = default;

unsigned WinmmMixer::device_count() { return mixerGetNumDevs(); }

WinmmMixer::Device* WinmmMixer::described(unsigned device, MixerResult& result) {
  result = kMixerOk;
  if (device < devices_.size() && devices_[device] != nullptr) return devices_[device].get();
  if (device >= device_count()) {
    result = kMixerNoDevice;
    return nullptr;
  }
  try {
    auto opened = std::make_unique<Device>();
    result = mixerOpen(&opened->handle, device, 0, 0, MIXER_OBJECTF_MIXER);
    if (result != MMSYSERR_NOERROR) {
      opened->handle = nullptr;
      return nullptr;
    }
    // A device that cannot be described is closed, and opened anew at the
    // next call.
    result = describe_device(opened->handle, opened->layout);
    if (result != MMSYSERR_NOERROR) return nullptr;
    opened->layout.index();
    if (devices_.size() <= device) devices_.resize(device + 1);
    devices_[device] = std::move(opened);
  } catch (const std::bad_alloc&) {
    result = kMixerNoMemory;
    return nullptr;
  }
  return devices_[device].get();
}

MixerResult WinmmMixer::describe(unsigned device, const ModelLayout*& layout) {
  MixerResult result = kMixerOk;
  const Device* open = described(device, result);
  layout = open == nullptr ? nullptr : &open->layout;
  return result;
}

void WinmmMixer::read(unsigned device, std::span<ValueRead> reads) {
  MixerResult result = kMixerOk;
  const Device* open = described(device, result);
  for (ValueRead& read : reads) {
    read.values.clear();
    read.result = result;
    if (open == nullptr) continue;
    try {
      read.result = read_one(open->handle, open->layout, read);
    } catch (const std::bad_alloc&) {
      read.values.clear();
      read.result = kMixerNoMemory;
    }
  }
}

void WinmmMixer::write(unsigned device, std::span<ValueWrite> writes) {
  MixerResult result = kMixerOk;
  const Device* open = described(device, result);
  for (ValueWrite& write : writes) {
    write.result = open == nullptr ? result : write_one(open->handle, open->layout, write);
  }
}

}  // namespace quorvel
