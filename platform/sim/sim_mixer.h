// The simulated mixer device served through the mixer service interface like
// a careful real driver. It is the default device of demos and the test bed
// of everything that talks to a mixer.
//
// What the service reports
//   - One device (number 0), named after the device (cut to 31 bytes).
//   - Destination i, in order: dwLineID = line_id, cChannels = channels,
//     dwComponentType = component_type, cConnections = the number of its
//     sources, cControls = the number of its controls.
//   - Source j of destination i: dwLineID = j * 65536 + i, dwSource = j,
//     cChannels = channels, dwComponentType = line_type.
//   - Control: dwControlID = ctrl_id, dwControlType = ctrl_type, cSteps =
//     steps, bounds = min and max. List controls (MUX, MIXER, MULTIPLESELECT,
//     and SINGLESELECT when it has a list) carry ctrl::kFlagMultiple and
//     cMultipleItems = their item count; other controls have no items.
//
// Values
//   Reads and writes take cChannels 1 (the control as a whole: a read gives
//   channel 0, a write sets every channel) or the line's channel count, and
//   cMultipleItems 0 for a control without items or exactly its item count;
//   else MMSYSERR_INVALPARAM. A list read gives cChannels copies of the item
//   array; a list write takes the first copy. A write is all or nothing and
//   gives MIXERR_INVALVALUE, changing nothing, when a value lies outside
//   [min, max] (compared signed when min <= max as signed numbers, else
//   unsigned), an item value is not 0 or 1, the control is a meter (read
//   only), or a single-select list (MUX) would not have exactly one item
//   selected.
//
// Test aids
//   The state can be inspected by control id, every operation is counted,
//   open handles are counted, and any operation can be made to fail with a
//   chosen result (all calls, or those about one line or control).
//   The service is not thread-safe.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "platform/mixer/mixer.h"
#include "platform/sim/sim_device.h"

namespace quorvel {

enum class SimOp {
  kDeviceCount,
  kOpen,
  kClose,
  kDevCaps,
  kLineInfo,
  kLineControls,
  kGetDetails,
  kSetDetails,
};
inline constexpr std::size_t kSimOpCount = 8;

class SimMixer : public MixerService {
 public:
  // Serves `device` as device 0. Identifiers should be unique (see
  // check_sim_device); where they are not, the first line or control with
  // an id is the one found by it.
  explicit SimMixer(SimDevice device);
  ~SimMixer() override = default;
  SimMixer(const SimMixer&) = delete;
  SimMixer& operator=(const SimMixer&) = delete;

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

  // True once a write has changed a value.
  bool changed() const { return changed_; }

  // The device with its present state (channel values filled to the line's
  // channel count).
  const SimDevice& device() const { return device_; }
  // A control by id, or null. Changing values through it bypasses changed().
  const SimControl* control(std::uint32_t id) const;
  SimControl* control(std::uint32_t id);
  // The present values of a control: per channel, or per item for a list
  // control. Empty for an unknown id.
  std::vector<std::int32_t> values(std::uint32_t control_id) const;

  // Calls made of each operation (failed ones included), and handles open.
  std::size_t calls(SimOp op) const { return calls_[static_cast<std::size_t>(op)]; }
  void reset_calls() { calls_.fill(0); }
  std::size_t open_handles() const { return handles_.size(); }

  // Makes the next `count` calls of `op` (every call when count is negative)
  // return `code` without doing anything. A failing device_count() reports
  // 0 devices; a failing close leaves the handle open.
  void fail_next(SimOp op, MixerResult code, int count = -1);
  // The same for calls about one line or control only: the line asked for
  // (kLineInfo, kLineControls; for a control-by-id query, the control's
  // line) or the control (kGetDetails, kSetDetails). Checked after the call
  // has found its line or control.
  void fail_on(SimOp op, std::uint32_t id, MixerResult code, int count = -1);
  void clear_failures();

 protected:
  MixerResult close(std::uintptr_t handle) override;

 private:
  struct LineRef {
    std::uint32_t destination = 0;
    std::int64_t source = -1;  // -1: the destination itself
  };
  struct ControlRef {
    std::size_t line = 0;     // index into lines_
    std::size_t control = 0;  // index into the line's controls
  };
  struct Failure {
    SimOp op;
    bool any_id;
    std::uint32_t id;
    MixerResult code;
    int remaining;  // negative: unlimited
  };

  bool injected(SimOp op, MixerResult& code);
  bool injected_for(SimOp op, std::uint32_t id, MixerResult& code);
  bool take_failure(SimOp op, bool any_id, std::uint32_t id, MixerResult& code);
  bool is_open(const MixerHandle& handle) const;
  MixerResult begin(SimOp op, const MixerHandle& handle);

  std::uint32_t line_id(const LineRef& ref) const;
  std::uint32_t line_channels(const LineRef& ref) const;
  std::uint32_t line_connections(const LineRef& ref) const;
  const std::vector<SimControl>& line_controls(const LineRef& ref) const;
  std::vector<SimControl>& line_controls(const LineRef& ref);
  void fill_line(const LineRef& ref, MixerLine& line) const;
  void fill_control(const SimControl& control, MixerControl& out) const;
  MixerResult check_shape(const SimControl& control, const LineRef& line,
                          const MixerControlDetails& details) const;

  SimDevice device_;
  std::vector<LineRef> lines_;               // destination, its sources, next ...
  std::vector<std::size_t> destination_line_;  // index in lines_ of each destination
  std::unordered_map<std::uint32_t, std::size_t> line_index_;
  std::unordered_map<std::uint32_t, ControlRef> control_index_;
  std::unordered_set<std::uintptr_t> handles_;
  std::array<std::size_t, kSimOpCount> calls_{};
  std::vector<Failure> failures_;
  bool changed_ = false;
};

}  // namespace quorvel

