#include "support/recording_mixer.h"

#include <numeric>
#include <utility>

namespace quorvel::testing {
namespace {

const MixerHandle kNoHandle;

}  // namespace

std::size_t RecordingMixer::total_calls() const {
  return std::accumulate(calls_.begin(), calls_.end(), std::size_t{0});
}

void RecordingMixer::fail_next(MixerOp op, MixerResult code, int count) {
  if (count != 0) failures_.push_back(Failure{op, true, 0, code, count});
}

void RecordingMixer::fail_on(MixerOp op, std::uint32_t id, MixerResult code, int count) {
  if (count != 0) failures_.push_back(Failure{op, false, id, code, count});
}

bool RecordingMixer::take(MixerOp op, bool any_id, std::uint32_t id, MixerResult& code) {
  for (auto it = failures_.begin(); it != failures_.end(); ++it) {
    if (it->op != op || it->any_id != any_id || (!any_id && it->id != id)) continue;
    code = it->code;
    if (it->remaining > 0 && --it->remaining == 0) failures_.erase(it);
    return true;
  }
  return false;
}

bool RecordingMixer::begin(MixerOp op, MixerResult& code) {
  ++calls_[static_cast<std::size_t>(op)];
  return take(op, true, 0, code);
}

bool RecordingMixer::failure_for(MixerOp op, std::uint32_t id, MixerResult& code) {
  return take(op, false, id, code);
}

const MixerHandle& RecordingMixer::inner_handle(const MixerHandle& handle) const {
  if (handle.service() != this) return kNoHandle;
  auto found = handles_.find(handle.id());
  return found == handles_.end() ? kNoHandle : found->second;
}

unsigned RecordingMixer::device_count() {
  MixerResult code = MMSYSERR_NOERROR;
  if (begin(MixerOp::kDeviceCount, code)) return 0;
  return inner_.device_count();
}

MixerResult RecordingMixer::open(unsigned device, MixerHandle& out) {
  MixerResult code = MMSYSERR_NOERROR;
  if (begin(MixerOp::kOpen, code)) return code;
  MixerHandle inner;
  if (MixerResult result = inner_.open(device, inner)) return result;
  const std::uintptr_t id = next_handle_++;
  handles_.emplace(id, std::move(inner));
  out = MixerHandle(this, id);
  return MMSYSERR_NOERROR;
}

MixerResult RecordingMixer::close(std::uintptr_t handle) {
  MixerResult code = MMSYSERR_NOERROR;
  if (begin(MixerOp::kClose, code)) return code;
  auto found = handles_.find(handle);
  if (found == handles_.end()) return MMSYSERR_INVALHANDLE;
  handles_.erase(found);  // the inner handle closes itself
  return MMSYSERR_NOERROR;
}

MixerResult RecordingMixer::get_dev_caps(const MixerHandle& handle, MixerCaps& caps) {
  MixerResult code = MMSYSERR_NOERROR;
  if (begin(MixerOp::kDevCaps, code)) return code;
  return inner_.get_dev_caps(inner_handle(handle), caps);
}

MixerResult RecordingMixer::get_line_info(const MixerHandle& handle, MixerLine& line,
                                          LineQuery query) {
  MixerResult code = MMSYSERR_NOERROR;
  if (begin(MixerOp::kLineInfo, code)) return code;
  MixerResult result = inner_.get_line_info(inner_handle(handle), line, query);
  if (result == MMSYSERR_NOERROR && failure_for(MixerOp::kLineInfo, line.dwLineID, code)) {
    return code;
  }
  return result;
}

MixerResult RecordingMixer::get_line_controls(const MixerHandle& handle,
                                              MixerLineControls& controls, ControlsQuery query) {
  MixerResult code = MMSYSERR_NOERROR;
  if (begin(MixerOp::kLineControls, code)) return code;
  MixerResult result = inner_.get_line_controls(inner_handle(handle), controls, query);
  if (result == MMSYSERR_NOERROR &&
      failure_for(MixerOp::kLineControls, controls.dwLineID, code)) {
    return code;
  }
  return result;
}

MixerResult RecordingMixer::get_control_details(const MixerHandle& handle,
                                                MixerControlDetails& details,
                                                DetailsQuery query) {
  MixerResult code = MMSYSERR_NOERROR;
  if (begin(MixerOp::kGetDetails, code)) return code;
  MixerResult result = inner_.get_control_details(inner_handle(handle), details, query);
  if (result == MMSYSERR_NOERROR &&
      failure_for(MixerOp::kGetDetails, details.dwControlID, code)) {
    return code;
  }
  return result;
}

MixerResult RecordingMixer::set_control_details(const MixerHandle& handle,
                                                const MixerControlDetails& details) {
  MixerResult code = MMSYSERR_NOERROR;
  if (begin(MixerOp::kSetDetails, code)) return code;
  if (failure_for(MixerOp::kSetDetails, details.dwControlID, code)) return code;
  return inner_.set_control_details(inner_handle(handle), details);
}

MixerResult RecordingMixer::get_line_identity(const MixerHandle& handle, std::uint32_t line_id,
                                              LineIdentity& identity) {
  MixerResult code = MMSYSERR_NOERROR;
  if (begin(MixerOp::kLineIdentity, code)) return code;
  if (failure_for(MixerOp::kLineIdentity, line_id, code)) return code;
  return inner_.get_line_identity(inner_handle(handle), line_id, identity);
}

}  // namespace quorvel::testing
