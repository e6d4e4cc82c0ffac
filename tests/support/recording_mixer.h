// A mixer service that wraps another one for tests: it passes every call on,
// counts the calls of each operation and the handles open through it, and
// can make calls fail with a chosen result.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <unordered_map>
#include <vector>

#include "platform/mixer/mixer.h"

namespace quorvel::testing {

enum class MixerOp {
  kDeviceCount,
  kOpen,
  kClose,
  kDevCaps,
  kLineInfo,
  kLineControls,
  kGetDetails,
  kSetDetails,
  kLineIdentity,
};
inline constexpr std::size_t kMixerOpCount = 9;

class RecordingMixer final : public MixerService {
 public:
  // Wraps `inner`, which must outlive this object.
  explicit RecordingMixer(MixerService& inner) : inner_(inner) {}
  ~RecordingMixer() override = default;
  RecordingMixer(const RecordingMixer&) = delete;
  RecordingMixer& operator=(const RecordingMixer&) = delete;

  unsigned device_count() override;
  MixerResult open(unsigned device, MixerHandle& out) override;
  MixerResult get_dev_caps(const MixerHandle& handle, MixerCaps& caps) override;
  MixerResult get_line_info(const MixerHandle& handle, MixerLine& line,
                            LineQuery query) override;
  MixerResult get_line_controls(const MixerHandle& handle, MixerLineControls& controls,
                                ControlsQuery query) override;
  MixerResult get_control_details(const MixerHandle& handle, MixerControlDetails& details,
                                  DetailsQuery query) override;
  MixerResult set_control_details(const MixerHandle& handle,
                                  const MixerControlDetails& details) override;
  MixerResult get_line_identity(const MixerHandle& handle, std::uint32_t line_id,
                                LineIdentity& identity) override;

  // Calls made of each operation (failed ones included), and handles open.
  std::size_t calls(MixerOp op) const { return calls_[static_cast<std::size_t>(op)]; }
  std::size_t total_calls() const;
  void reset_calls() { calls_.fill(0); }
  std::size_t open_handles() const { return handles_.size(); }

  // Makes the next `count` calls of `op` (every call when count is negative)
  // return `code` without passing them on. A failing device_count() reports
  // 0 devices; a failing close leaves the handle open.
  void fail_next(MixerOp op, MixerResult code, int count = -1);
  // The same for calls about one line or control only, when they would
  // succeed: the line asked for or found (kLineInfo; kLineControls, for a
  // control by id its line) or the control (kGetDetails, kSetDetails). A
  // read is passed on and its success replaced; a write is not passed on.
  void fail_on(MixerOp op, std::uint32_t id, MixerResult code, int count = -1);
  void clear_failures() { failures_.clear(); }

 protected:
  MixerResult close(std::uintptr_t handle) override;

 private:
  struct Failure {
    MixerOp op;
    bool any_id;
    std::uint32_t id;
    MixerResult code;
    int remaining;  // negative: unlimited
  };

  // Counts a call and takes a failure injected for every call of `op`.
  bool begin(MixerOp op, MixerResult& code);
  // Takes a failure injected for `op` about `id`.
  bool failure_for(MixerOp op, std::uint32_t id, MixerResult& code);
  bool take(MixerOp op, bool any_id, std::uint32_t id, MixerResult& code);
  // The inner service's handle behind one of ours (a closed one for any other).
  const MixerHandle& inner_handle(const MixerHandle& handle) const;

  MixerService& inner_;
  std::unordered_map<std::uintptr_t, MixerHandle> handles_;
  std::uintptr_t next_handle_ = 1;
  std::array<std::size_t, kMixerOpCount> calls_{};
  std::vector<Failure> failures_;
};

}  // namespace quorvel::testing
