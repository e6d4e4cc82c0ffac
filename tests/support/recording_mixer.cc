#include "support/recording_mixer.h"

#include <algorithm>
#include <numeric>
#include <utility>

namespace quorvel::testing {

std::size_t RecordingMixer::total_calls() const {
  return std::accumulate(calls_.begin(), calls_.end(), std::size_t{0});
}

void RecordingMixer::reset_calls() {
  calls_.fill(0);
  entries_.fill(0);
}

void RecordingMixer::fail_next(MixerOp op, MixerResult code, int count) {
  if (count != 0) failures_.push_back(Failure{op, true, 0, code, count});
}

void RecordingMixer::fail_on(MixerOp op, std::uint32_t control_id, MixerResult code,
                             int count) {
  if (count != 0) failures_.push_back(Failure{op, false, control_id, code, count});
}

bool RecordingMixer::take(MixerOp op, bool any_control, std::uint32_t control_id,
                          MixerResult& code) {
  for (auto it = failures_.begin(); it != failures_.end(); ++it) {
    if (it->op != op || it->any_control != any_control) continue;
    if (!any_control && it->control_id != control_id) continue;
    code = it->code;
    if (it->remaining > 0 && --it->remaining == 0) failures_.erase(it);
    return true;
  }
  return false;
}

bool RecordingMixer::begin(MixerOp op, std::size_t entries, MixerResult& code) {
  ++calls_[index(op)];
  entries_[index(op)] += entries;
  return take(op, true, 0, code);
}

unsigned RecordingMixer::device_count() {
  MixerResult code = kMixerOk;
  if (begin(MixerOp::kDeviceCount, 0, code)) return 0;
  return inner_.device_count();
}

MixerResult RecordingMixer::describe(unsigned device, const ModelLayout*& layout) {
  MixerResult code = kMixerOk;
  if (begin(MixerOp::kDescribe, 0, code)) {
    layout = nullptr;
    return code;
  }
  return inner_.describe(device, layout);
}

void RecordingMixer::read(unsigned device, std::span<ValueRead> reads) {
  MixerResult code = kMixerOk;
  if (begin(MixerOp::kRead, reads.size(), code)) {
    for (ValueRead& entry : reads) {
      entry.values.clear();
      entry.result = code;
    }
    return;
  }
  inner_.read(device, reads);
  for (ValueRead& entry : reads) {
    if (entry.result != kMixerOk) continue;
    if (!take(MixerOp::kRead, false, entry.control_id, code)) continue;
    entry.result = code;
    std::fill(entry.values.begin(), entry.values.end(), 0);
  }
}

void RecordingMixer::write(unsigned device, std::span<ValueWrite> writes) {
  MixerResult code = kMixerOk;
  if (begin(MixerOp::kWrite, writes.size(), code)) {
    for (ValueWrite& entry : writes) entry.result = code;
    return;
  }
  // The entries not failed here go on in one call, in their order; their
  // values are moved there and back.
  std::vector<ValueWrite> passed;
  std::vector<std::size_t> origin;
  bool gone = false;
  for (std::size_t i = 0; i < writes.size(); ++i) {
    // A mixer gone takes no later write of the call; the write it went with
    // had been sent, as a server's is.
    if (gone) {
      writes[i].result = kMixerGone;
      continue;
    }
    if (take(MixerOp::kWrite, false, writes[i].control_id, code)) {
      writes[i].result = code;
      writes[i].in_doubt = gone = code == kMixerGone;
      continue;
    }
    passed.push_back(ValueWrite{writes[i].control_id, std::move(writes[i].values), kMixerOk, false});
    origin.push_back(i);
  }
  if (passed.empty() && !writes.empty()) return;  // every entry failed here
  inner_.write(device, passed);
  for (std::size_t k = 0; k < passed.size(); ++k) {
    writes[origin[k]].values = std::move(passed[k].values);
    writes[origin[k]].result = passed[k].result;
    writes[origin[k]].in_doubt = passed[k].in_doubt;
  }
}

}  // namespace quorvel::testing
