// A mixer that wraps another one for tests: it passes every call on, counts
// the calls of each operation and the entries read and written, and can make
// calls fail with a chosen result.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "platform/mixer/mixer.h"

namespace quorvel::testing {

enum class MixerOp { kDeviceCount, kDescribe, kRead, kWrite };
inline constexpr std::size_t kMixerOpCount = 4;

class RecordingMixer final : public Mixer {
 public:
  // Wraps `inner`, which must outlive this object.
  explicit RecordingMixer(Mixer& inner) : inner_(inner) {}
  RecordingMixer(const RecordingMixer&) = delete;
  RecordingMixer& operator=(const RecordingMixer&) = delete;

  unsigned device_count() override;
  MixerResult describe(unsigned device, const ModelLayout*& layout) override;
  void read(unsigned device, std::span<ValueRead> reads) override;
  void write(unsigned device, std::span<ValueWrite> writes) override;
  // Passed on as they are, neither counted nor failed.
  MixerResult read_applications(unsigned device, std::vector<MixerApplication>& out) override {
    return inner_.read_applications(device, out);
  }
  void write_applications(unsigned device, std::span<ApplicationWrite> writes) override {
    inner_.write_applications(device, writes);
  }
  MixerResult wait_for_appearances(std::chrono::milliseconds bound,
                                   std::vector<MixerAppearance>& out) override {
    return inner_.wait_for_appearances(bound, out);
  }

  // Calls made of each operation (failed ones included), and the entries
  // they carried (kRead and kWrite; 0 for the others).
  std::size_t calls(MixerOp op) const { return calls_[index(op)]; }
  std::size_t entries(MixerOp op) const { return entries_[index(op)]; }
  std::size_t total_calls() const;
  void reset_calls();

  // Makes the next `count` calls of `op` (every call when count is negative)
  // fail with `code` without passing them on: describe() returns it,
  // device_count() reports 0 devices, and a read or write gives it to every
  // entry (a read's values left empty).
  void fail_next(MixerOp op, MixerResult code, int count = -1);
  // The same for the next `count` entries about one control (kRead or
  // kWrite). A read entry is passed on and, when it succeeds, its result
  // replaced by `code` and its values zeroed; a write entry is not passed
  // on, the others of its call are, except after a write failed with
  // kMixerGone: that one is in doubt (sent as the mixer went, as a sound
  // server's is), and every later one of its call fails so too.
  void fail_on(MixerOp op, std::uint32_t control_id, MixerResult code, int count = -1);
  void clear_failures() { failures_.clear(); }

 private:
  struct Failure {
    MixerOp op;
    bool any_control;
    std::uint32_t control_id;
    MixerResult code;
    int remaining;  // negative: unlimited
  };

  static std::size_t index(MixerOp op) { return static_cast<std::size_t>(op); }
  // Counts a call of `op` with `entries` entries; true (with `code`) when a
  // failure injected for every call takes it.
  bool begin(MixerOp op, std::size_t entries, MixerResult& code);
  // Takes a failure injected for `op` (about `control_id` unless any_control).
  bool take(MixerOp op, bool any_control, std::uint32_t control_id, MixerResult& code);

  Mixer& inner_;
  std::array<std::size_t, kMixerOpCount> calls_{};
  std::array<std::size_t, kMixerOpCount> entries_{};
  std::vector<Failure> failures_;
};

}  // namespace quorvel::testing
