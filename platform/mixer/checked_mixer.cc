#include "platform/mixer/checked_mixer.h"

#include <algorithm>
#include <atomic>
#include <new>
#include <utility>

namespace quorvel {
namespace {

// Handle ids are unique across every service of the process, so an id
// copied from one service's handle is never taken for another's.
std::atomic<std::uintptr_t> next_handle_id{1};

bool known(LineQuery query) {
  return query == LineQuery::kDestination || query == LineQuery::kSource ||
         query == LineQuery::kLineId;
}
bool known(ControlsQuery query) {
  return query == ControlsQuery::kAll || query == ControlsQuery::kOneById;
}
bool known(DetailsQuery query) {
  return query == DetailsQuery::kValue || query == DetailsQuery::kListText;
}

// The 32-bit values a values call reads or writes.
std::uint64_t value_entries(const MixerControlDetails& details) {
  return std::uint64_t{details.cChannels} * std::max<std::uint32_t>(details.cMultipleItems, 1);
}

// Whether a values call's header is well formed.
bool values_header_fits(const MixerControlDetails& details) {
  return details.cbStruct == sizeof(MixerControlDetails) &&
         details.cbDetails == sizeof(std::int32_t) &&
         (details.paDetails != nullptr || value_entries(details) == 0);
}

}  // namespace

CheckedMixer::~CheckedMixer() = default;

MixerResult CheckedMixer::do_close(OpenDevice&) { return MMSYSERR_NOERROR; }

CheckedMixer::OpenDevice* CheckedMixer::find(const MixerHandle& handle) {
  if (handle.service() != this) return nullptr;
  auto found = handles_.find(handle.id());
  return found == handles_.end() ? nullptr : found->second.get();
}

unsigned CheckedMixer::device_count() { return do_device_count(); }

MixerResult CheckedMixer::open(unsigned device, MixerHandle& out) {
  if (device >= do_device_count()) return MMSYSERR_BADDEVICEID;
  std::unique_ptr<OpenDevice> state;
  if (MixerResult result = do_open(device, state)) return result;
  if (!state) return MMSYSERR_ERROR;
  state->device = device;
  const std::uintptr_t id = next_handle_id.fetch_add(1);
  try {
    handles_.emplace(id, std::move(state));
  } catch (const std::bad_alloc&) {
    return MMSYSERR_NOMEM;
  }
  out = MixerHandle(this, id);
  return MMSYSERR_NOERROR;
}

MixerResult CheckedMixer::close(std::uintptr_t handle) {
  auto found = handles_.find(handle);
  if (found == handles_.end()) return MMSYSERR_INVALHANDLE;
  if (MixerResult result = do_close(*found->second)) return result;
  handles_.erase(found);
  return MMSYSERR_NOERROR;
}

MixerResult CheckedMixer::get_dev_caps(const MixerHandle& handle, MixerCaps& caps) {
  OpenDevice* open = find(handle);
  if (open == nullptr) return MMSYSERR_INVALHANDLE;
  return do_get_dev_caps(*open, caps);
}

MixerResult CheckedMixer::get_line_info(const MixerHandle& handle, MixerLine& line,
                                        LineQuery query) {
  OpenDevice* open = find(handle);
  if (open == nullptr) return MMSYSERR_INVALHANDLE;
  if (!known(query)) return MMSYSERR_INVALFLAG;
  if (line.cbStruct != sizeof(MixerLine)) return MMSYSERR_INVALPARAM;
  return do_get_line_info(*open, line, query);
}

MixerResult CheckedMixer::get_line_controls(const MixerHandle& handle,
                                            MixerLineControls& controls, ControlsQuery query) {
  OpenDevice* open = find(handle);
  if (open == nullptr) return MMSYSERR_INVALHANDLE;
  if (!known(query)) return MMSYSERR_INVALFLAG;
  if (controls.cbStruct != sizeof(MixerLineControls) ||
      controls.cbmxctrl != sizeof(MixerControl)) {
    return MMSYSERR_INVALPARAM;
  }
  if (query == ControlsQuery::kOneById && controls.cControls != 1) return MMSYSERR_INVALPARAM;
  if (controls.pamxctrl == nullptr && controls.cControls > 0) return MMSYSERR_INVALPARAM;
  return do_get_line_controls(*open, controls, query);
}

MixerResult CheckedMixer::get_control_details(const MixerHandle& handle,
                                              MixerControlDetails& details, DetailsQuery query) {
  OpenDevice* open = find(handle);
  if (open == nullptr) return MMSYSERR_INVALHANDLE;
  if (!known(query)) return MMSYSERR_INVALFLAG;
  if (query == DetailsQuery::kListText) {
    if (details.cbStruct != sizeof(MixerControlDetails) ||
        details.cbDetails != sizeof(ListText) ||
        (details.paDetails == nullptr && details.cMultipleItems > 0)) {
      return MMSYSERR_INVALPARAM;
    }
  } else if (!values_header_fits(details)) {
    return MMSYSERR_INVALPARAM;
  }
  return do_get_control_details(*open, details, query);
}

MixerResult CheckedMixer::set_control_details(const MixerHandle& handle,
                                              const MixerControlDetails& details) {
  OpenDevice* open = find(handle);
  if (open == nullptr) return MMSYSERR_INVALHANDLE;
  if (!values_header_fits(details)) return MMSYSERR_INVALPARAM;
  return do_set_control_details(*open, details);
}

MixerResult CheckedMixer::get_line_identity(const MixerHandle& handle, std::uint32_t line_id,
                                            LineIdentity& identity) {
  OpenDevice* open = find(handle);
  if (open == nullptr) return MMSYSERR_INVALHANDLE;
  return do_get_line_identity(*open, line_id, identity);
}

MixerResult CheckedMixer::do_get_line_identity(OpenDevice& open, std::uint32_t line_id,
                                               LineIdentity& identity) {
  MixerLine line;
  line.dwLineID = line_id;
  const MixerResult result = do_get_line_info(open, line, LineQuery::kLineId);
  if (result != MMSYSERR_NOERROR) return result;
  identity = LineIdentity();
  return MMSYSERR_NOERROR;
}

MixerResult CheckedMixer::get_extent(const MixerHandle& handle, MixerExtent& extent) {
  OpenDevice* open = find(handle);
  if (open == nullptr) return MMSYSERR_INVALHANDLE;
  return do_get_extent(*open, extent);
}

MixerResult CheckedMixer::do_get_extent(OpenDevice& /*open*/, MixerExtent& /*extent*/) {
  return MMSYSERR_NOTSUPPORTED;
}

}  // namespace quorvel
