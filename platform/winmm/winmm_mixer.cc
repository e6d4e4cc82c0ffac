#include "platform/winmm/winmm_mixer.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

namespace quorvel {
namespace {

// Values are 32-bit numbers in our records and in the Windows ones alike,
// so a values call hands the caller's array to winmm as it is.
static_assert(sizeof(std::int32_t) == sizeof(MIXERCONTROLDETAILS_UNSIGNED));
static_assert(sizeof(std::int32_t) == sizeof(MIXERCONTROLDETAILS_SIGNED));
static_assert(sizeof(std::int32_t) == sizeof(MIXERCONTROLDETAILS_BOOLEAN));

template <std::size_t N, std::size_t M>
void copy_field(char (&to)[N], const char (&from)[M]) {
  static_assert(N == M, "name fields of the same length");
  std::memcpy(to, from, N);
  to[N - 1] = '\0';
}

// Entries of a details array: one per channel, times the items of a list.
std::size_t detail_entries(const MixerControlDetails& details) {
  return static_cast<std::size_t>(std::max<std::uint32_t>(details.cChannels, 1)) *
         std::max<std::uint32_t>(details.cMultipleItems, 1);
}

// Whether one of `line`'s controls is `control_id`; fills `found` if so.
bool line_has_control(HMIXEROBJ mixer, const MIXERLINEA& line, DWORD control_id,
                      MIXERCONTROLA& found) {
  if (line.cControls == 0) return false;
  std::vector<MIXERCONTROLA> controls(line.cControls);
  for (MIXERCONTROLA& control : controls) control.cbStruct = sizeof(MIXERCONTROLA);
  MIXERLINECONTROLSA query{};
  query.cbStruct = sizeof(MIXERLINECONTROLSA);
  query.dwLineID = line.dwLineID;
  query.cControls = line.cControls;
  query.cbmxctrl = sizeof(MIXERCONTROLA);
  query.pamxctrl = controls.data();
  if (mixerGetLineControlsA(mixer, &query, MIXER_OBJECTF_HMIXER | MIXER_GETLINECONTROLSF_ALL) !=
      MMSYSERR_NOERROR) {
    return false;
  }
  for (const MIXERCONTROLA& control : controls) {
    if (control.dwControlID == control_id) {
      found = control;
      return true;
    }
  }
  return false;
}

}  // namespace

MMRESULT find_control_on_lines(HMIXEROBJ mixer, DWORD control_id, MIXERCONTROLA& found,
                               DWORD& line_id) {
  try {
    MIXERCAPSA caps{};
    MMRESULT result =
        mixerGetDevCapsA(reinterpret_cast<UINT_PTR>(mixer), &caps, sizeof(MIXERCAPSA));
    if (result != MMSYSERR_NOERROR) return result;
    for (DWORD d = 0; d < caps.cDestinations; ++d) {
      MIXERLINEA destination{};
      destination.cbStruct = sizeof(MIXERLINEA);
      destination.dwDestination = d;
      if (mixerGetLineInfoA(mixer, &destination,
                            MIXER_OBJECTF_HMIXER | MIXER_GETLINEINFOF_DESTINATION) !=
          MMSYSERR_NOERROR) {
        continue;
      }
      if (line_has_control(mixer, destination, control_id, found)) {
        line_id = destination.dwLineID;
        return MMSYSERR_NOERROR;
      }
      for (DWORD s = 0; s < destination.cConnections; ++s) {
        MIXERLINEA source{};
        source.cbStruct = sizeof(MIXERLINEA);
        source.dwDestination = d;
        source.dwSource = s;
        if (mixerGetLineInfoA(mixer, &source, MIXER_OBJECTF_HMIXER | MIXER_GETLINEINFOF_SOURCE) !=
            MMSYSERR_NOERROR) {
          continue;
        }
        if (line_has_control(mixer, source, control_id, found)) {
          line_id = source.dwLineID;
          return MMSYSERR_NOERROR;
        }
      }
    }
  } catch (const std::bad_alloc&) {
    return MMSYSERR_NOMEM;
  }
  return MIXERR_INVALCONTROL;
}

void from_windows(const MIXERCAPSA& in, MixerCaps& out) {
  out.wMid = in.wMid;
  out.wPid = in.wPid;
  out.vDriverVersion = in.vDriverVersion;
  copy_field(out.szPname, in.szPname);
  out.fdwSupport = in.fdwSupport;
  out.cDestinations = in.cDestinations;
}

// Copies the fields of a line description; our record and the platform's
// name them alike, so one copy serves both directions.
template <typename From, typename To>
void copy_line_fields(const From& in, To& out) {
  out.dwDestination = in.dwDestination;
  out.dwSource = in.dwSource;
  out.dwLineID = in.dwLineID;
  out.fdwLine = in.fdwLine;
  out.dwUser = in.dwUser;
  out.dwComponentType = in.dwComponentType;
  out.cChannels = in.cChannels;
  out.cConnections = in.cConnections;
  out.cControls = in.cControls;
  copy_field(out.szShortName, in.szShortName);
  copy_field(out.szName, in.szName);
  out.Target.dwType = in.Target.dwType;
  out.Target.dwDeviceID = in.Target.dwDeviceID;
  out.Target.wMid = in.Target.wMid;
  out.Target.wPid = in.Target.wPid;
  out.Target.vDriverVersion = in.Target.vDriverVersion;
  copy_field(out.Target.szPname, in.Target.szPname);
}

void from_windows(const MIXERLINEA& in, MixerLine& out) { copy_line_fields(in, out); }

void to_windows(const MixerLine& in, MIXERLINEA& out) {
  out = MIXERLINEA{};
  out.cbStruct = sizeof(MIXERLINEA);
  copy_line_fields(in, out);
}

void from_windows(const MIXERCONTROLA& in, MixerControl& out) {
  out.dwControlID = in.dwControlID;
  out.dwControlType = in.dwControlType;
  out.fdwControl = in.fdwControl;
  out.cMultipleItems = in.cMultipleItems;
  copy_field(out.szShortName, in.szShortName);
  copy_field(out.szName, in.szName);
  // Both unions are six 32-bit words: bounds (signed or unsigned, the same
  // bits) then reserved words; the step count (or custom data size) then
  // reserved words.
  out.Bounds.lMinimum = static_cast<std::int32_t>(in.Bounds.dwReserved[0]);
  out.Bounds.lMaximum = static_cast<std::int32_t>(in.Bounds.dwReserved[1]);
  for (int k = 0; k < 4; ++k) out.Bounds.dwReserved[k] = in.Bounds.dwReserved[k + 2];
  out.Metrics.cSteps = in.Metrics.dwReserved[0];
  for (int k = 0; k < 5; ++k) out.Metrics.dwReserved[k] = in.Metrics.dwReserved[k + 1];
}

void from_windows(const MIXERCONTROLDETAILS_LISTTEXTA& in, ListText& out) {
  out.dwParam1 = in.dwParam1;
  out.dwParam2 = in.dwParam2;
  copy_field(out.szName, in.szName);
}

void to_windows(const MixerControlDetails& in, void* array, DWORD element_size,
                MIXERCONTROLDETAILS& out) {
  out = MIXERCONTROLDETAILS{};
  out.cbStruct = sizeof(MIXERCONTROLDETAILS);
  out.dwControlID = in.dwControlID;
  out.cChannels = in.cChannels;
  out.cMultipleItems = in.cMultipleItems;
  out.cbDetails = element_size;
  out.paDetails = array;
}

DWORD line_info_flags(LineQuery query) {
  switch (query) {
    case LineQuery::kDestination: return MIXER_OBJECTF_HMIXER | MIXER_GETLINEINFOF_DESTINATION;
    case LineQuery::kSource: return MIXER_OBJECTF_HMIXER | MIXER_GETLINEINFOF_SOURCE;
    case LineQuery::kLineId: return MIXER_OBJECTF_HMIXER | MIXER_GETLINEINFOF_LINEID;
  }
  return MIXER_OBJECTF_HMIXER | MIXER_GETLINEINFOF_QUERYMASK;
}

DWORD line_controls_flags(ControlsQuery query) {
  switch (query) {
    case ControlsQuery::kAll: return MIXER_OBJECTF_HMIXER | MIXER_GETLINECONTROLSF_ALL;
    case ControlsQuery::kOneById: return MIXER_OBJECTF_HMIXER | MIXER_GETLINECONTROLSF_ONEBYID;
  }
  return MIXER_OBJECTF_HMIXER | MIXER_GETLINECONTROLSF_QUERYMASK;
}

DWORD control_details_flags(DetailsQuery query) {
  switch (query) {
    case DetailsQuery::kValue: return MIXER_OBJECTF_HMIXER | MIXER_GETCONTROLDETAILSF_VALUE;
    case DetailsQuery::kListText:
      return MIXER_OBJECTF_HMIXER | MIXER_GETCONTROLDETAILSF_LISTTEXT;
  }
  return MIXER_OBJECTF_HMIXER | MIXER_GETCONTROLDETAILSF_QUERYMASK;
}

namespace {

// An open winmm mixer; closed when the handle closes, or when the service
// goes with the handle still open.
struct WinmmHandle : CheckedMixer::OpenDevice {
  ~WinmmHandle() override {
    if (mixer != nullptr) mixerClose(mixer);
  }
  HMIXER mixer = nullptr;
};

HMIXEROBJ object(CheckedMixer::OpenDevice& open) {
  return reinterpret_cast<HMIXEROBJ>(static_cast<WinmmHandle&>(open).mixer);
}

}  // namespace

unsigned WinmmMixer::do_device_count() { return mixerGetNumDevs(); }

MixerResult WinmmMixer::do_open(unsigned device, std::unique_ptr<OpenDevice>& out) {
  std::unique_ptr<WinmmHandle> handle;
  try {
    handle = std::make_unique<WinmmHandle>();
  } catch (const std::bad_alloc&) {
    return MMSYSERR_NOMEM;
  }
  MMRESULT result = mixerOpen(&handle->mixer, device, 0, 0, MIXER_OBJECTF_MIXER);
  if (result != MMSYSERR_NOERROR) {
    handle->mixer = nullptr;
    return result;
  }
  out = std::move(handle);
  return MMSYSERR_NOERROR;
}

MixerResult WinmmMixer::do_close(OpenDevice& open) {
  auto& handle = static_cast<WinmmHandle&>(open);
  MMRESULT result = mixerClose(handle.mixer);
  if (result == MMSYSERR_NOERROR) handle.mixer = nullptr;
  return result;
}

MixerResult WinmmMixer::do_get_dev_caps(OpenDevice& open, MixerCaps& caps) {
  MIXERCAPSA windows{};
  // With a handle in place of a device number, winmm describes the
  // handle's device.
  MMRESULT result =
      mixerGetDevCapsA(reinterpret_cast<UINT_PTR>(object(open)), &windows, sizeof(MIXERCAPSA));
  if (result == MMSYSERR_NOERROR) from_windows(windows, caps);
  return result;
}

MixerResult WinmmMixer::do_get_line_info(OpenDevice& open, MixerLine& line, LineQuery query) {
  MIXERLINEA windows;
  to_windows(line, windows);
  MMRESULT result = mixerGetLineInfoA(object(open), &windows, line_info_flags(query));
  if (result == MMSYSERR_NOERROR) from_windows(windows, line);
  return result;
}

MixerResult WinmmMixer::do_get_line_controls(OpenDevice& open, MixerLineControls& controls,
                                             ControlsQuery query) {
  HMIXEROBJ mixer = object(open);
  // One control by id fills one record whatever cControls says.
  const std::size_t count =
      query == ControlsQuery::kOneById ? 1 : std::max<std::uint32_t>(controls.cControls, 1);
  std::vector<MIXERCONTROLA> windows_controls;
  try {
    windows_controls.resize(count);
  } catch (const std::bad_alloc&) {
    return MMSYSERR_NOMEM;
  }
  for (MIXERCONTROLA& control : windows_controls) control.cbStruct = sizeof(MIXERCONTROLA);

  MIXERLINECONTROLSA windows{};
  windows.cbStruct = sizeof(MIXERLINECONTROLSA);
  windows.dwLineID = controls.dwLineID;
  windows.dwControlID = controls.dwControlID;
  windows.cControls = controls.cControls;
  windows.cbmxctrl = sizeof(MIXERCONTROLA);
  windows.pamxctrl = windows_controls.data();
  MMRESULT result = mixerGetLineControlsA(mixer, &windows, line_controls_flags(query));

  if (query == ControlsQuery::kOneById) {
    if (result == MMSYSERR_NOERROR && windows_controls[0].dwControlID == controls.dwControlID) {
      controls.pamxctrl[0].cbStruct = sizeof(MixerControl);
      from_windows(windows_controls[0], controls.pamxctrl[0]);
      controls.dwLineID = windows.dwLineID;
      return result;
    }
    // Some services (Wine's) find a control by id only on the line named
    // in dwLineID, or not at all, and may answer with another control or
    // with MMSYSERR_NOTSUPPORTED. The control is then looked for line by
    // line; one that no line has is unknown (MIXERR_INVALCONTROL).
    MIXERCONTROLA found{};
    DWORD line_id = 0;
    MMRESULT walked = find_control_on_lines(mixer, controls.dwControlID, found, line_id);
    if (walked != MMSYSERR_NOERROR) return walked;
    controls.pamxctrl[0].cbStruct = sizeof(MixerControl);
    from_windows(found, controls.pamxctrl[0]);
    controls.dwLineID = line_id;
    return MMSYSERR_NOERROR;
  }

  if (result != MMSYSERR_NOERROR) return result;
  const std::size_t filled = std::min<std::size_t>(controls.cControls, count);
  for (std::size_t k = 0; k < filled; ++k) {
    controls.pamxctrl[k].cbStruct = sizeof(MixerControl);
    from_windows(windows_controls[k], controls.pamxctrl[k]);
  }
  return result;
}

MixerResult WinmmMixer::do_get_control_details(OpenDevice& open, MixerControlDetails& details,
                                               DetailsQuery query) {
  HMIXEROBJ mixer = object(open);
  MIXERCONTROLDETAILS windows;
  if (query == DetailsQuery::kValue) {
    to_windows(details, details.paDetails, sizeof(MIXERCONTROLDETAILS_UNSIGNED), windows);
    return mixerGetControlDetailsA(mixer, &windows, control_details_flags(query));
  }

  // The platform may fill a block of names per channel; the caller gets one
  // name per item.
  const std::size_t count = detail_entries(details);
  std::vector<MIXERCONTROLDETAILS_LISTTEXTA> texts;
  try {
    texts.resize(count);
  } catch (const std::bad_alloc&) {
    return MMSYSERR_NOMEM;
  }
  to_windows(details, texts.data(), sizeof(MIXERCONTROLDETAILS_LISTTEXTA), windows);
  MMRESULT result = mixerGetControlDetailsA(mixer, &windows, control_details_flags(query));
  if (result != MMSYSERR_NOERROR) return result;
  auto* out = static_cast<ListText*>(details.paDetails);
  for (std::size_t k = 0; k < details.cMultipleItems; ++k) from_windows(texts[k], out[k]);
  return result;
}

MixerResult WinmmMixer::do_set_control_details(OpenDevice& open,
                                               const MixerControlDetails& details) {
  MIXERCONTROLDETAILS windows;
  to_windows(details, details.paDetails, sizeof(MIXERCONTROLDETAILS_UNSIGNED), windows);
  return mixerSetControlDetails(object(open), &windows,
                                MIXER_OBJECTF_HMIXER | MIXER_SETCONTROLDETAILSF_VALUE);
}

}  // namespace quorvel
