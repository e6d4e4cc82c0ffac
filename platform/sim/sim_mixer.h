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
//   - A line without channels has cControls 0; its controls are not found.
//   - Control: dwControlID = ctrl_id, dwControlType = ctrl_type, cSteps =
//     steps, bounds = min and max (widened to cover the values held), and
//     ctrl::kFlagUniform for a switch given one value (sim_device.h). List controls (MUX, MIXER, MULTIPLESELECT,
//     and SINGLESELECT when it has a list) carry ctrl::kFlagMultiple and
//     cMultipleItems = their item count; other controls have no items.
//   - Item k of a destination's list stands for the destination's source k
//     (its line id and line type in the item's dwParam1 and dwParam2).
// Values are checked as mixer.h says (model_mixer.h checks them); a list
// write takes the first block. The service is not thread-safe.
#pragma once

#include <cstddef>
#include <cstdint>
#include <unordered_map>
#include <vector>

#include "platform/mixer/model_mixer.h"
#include "platform/sim/sim_device.h"

namespace quorvel {

class SimMixer final : public ModelMixer {
 public:
  // Serves `device` as device 0. Identifiers should be unique (see
  // check_sim_device); where they are not, the first line or control with
  // an id is the one found by it.
  explicit SimMixer(SimDevice device);

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

 private:
  struct LineRef {
    std::uint32_t destination = 0;
    std::int64_t source = -1;  // -1: the destination itself
  };
  struct ControlRef {
    std::size_t line = 0;     // index into lines_
    std::size_t control = 0;  // index into the line's controls
  };

  unsigned do_device_count() override { return 1; }
  MixerResult do_open(unsigned device, std::unique_ptr<OpenDevice>& out) override;
  ModelDevice describe_device(OpenDevice& open) override;
  bool find_destination(OpenDevice& open, std::uint32_t destination, ModelLine& out) override;
  bool find_source(OpenDevice& open, std::uint32_t destination, std::uint32_t source,
                   ModelLine& out) override;
  bool find_line(OpenDevice& open, std::uint32_t line_id, ModelLine& out) override;
  void line_control(OpenDevice& open, const ModelLine& line, std::uint32_t index,
                    ModelControl& out) override;
  bool find_control(OpenDevice& open, std::uint32_t control_id, ModelControl& out) override;
  ModelItem list_item(OpenDevice& open, const ModelControl& control, std::uint32_t item) override;
  MixerResult read_values(OpenDevice& open, const ModelControl& control,
                          std::span<std::int32_t> values) override;
  MixerResult write_values(OpenDevice& open, const ModelControl& control,
                           std::span<const std::int32_t> values) override;

  std::uint32_t line_id(const LineRef& ref) const;
  std::uint32_t line_channels(const LineRef& ref) const;
  const std::vector<SimControl>& line_controls(const LineRef& ref) const;
  std::vector<SimControl>& line_controls(const LineRef& ref);
  void describe_line(std::size_t index, ModelLine& out) const;
  void describe_control(const ControlRef& ref, ModelControl& out) const;
  SimControl& control_at(const ModelControl& control);
  // Widens the control's bounds to cover the values it holds.
  static void cover_values(SimControl& control);

  SimDevice device_;
  std::vector<LineRef> lines_;                 // destination, its sources, next ...
  std::vector<std::size_t> destination_line_;  // index in lines_ of each destination
  std::unordered_map<std::uint32_t, std::size_t> line_index_;
  std::unordered_map<std::uint32_t, ControlRef> control_index_;
  bool changed_ = false;
};

}  // namespace quorvel
