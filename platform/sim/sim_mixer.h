// The simulated mixer device served through the mixer interface like
// a careful real driver. It is the default device of demos and the test bed
// of everything that talks to a mixer.
//
// What the mixer describes
//   - One device (number 0), named after the device.
//   - Destination i, in order: its line_id, channels and component_type,
//     and its sources and controls.
//   - Source j of destination i: line id j * 65536 + i, its channels and
//     line_type as its component type.
//   - A line without channels shows no controls.
//   - Control: ctrl_id, ctrl_type, steps, bounds = min and max (widened to
//     cover the values held), and uniform for a switch given one value
//     (sim_device.h). List controls (MUX, MIXER, MULTIPLESELECT, and
//     SINGLESELECT when it has a list) have their items; other controls
//     have none.
//   - Item k of a destination's list stands for the destination's source k
//     (its line id and line type).
// Values are checked as mixer.h says (model_mixer.h checks them). The
// mixer is not thread-safe.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
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

  // Serves `device` instead of the device served so far, as if made anew
  // (no caller may hold its description).
  void serve(SimDevice device);

  // True once a write has changed a value.
  bool changed() const { return changed_; }

  // The device with its present state (channel values filled to the line's
  // channel count).
  const SimDevice& device() const { return device_; }
  // A control by id, or null. Values changed through it are served (and
  // bypass changed()); everything else the mixer describes of it was taken
  // once, when the mixer was made.
  const SimControl* control(std::uint32_t id) const;
  SimControl* control(std::uint32_t id);
  // The present values of a control: per channel, or per item for a list
  // control. Empty for an unknown id.
  std::vector<std::int32_t> values(std::uint32_t control_id) const;

 private:
  unsigned device_count() override { return 1; }
  MixerResult read_values(unsigned device, const ModelControl& control,
                          std::span<std::int32_t> values) override;
  MixerResult write_values(unsigned device, ModelControl& control,
                           std::span<const std::int32_t> values) override;

  // Adds a line's controls to `layout`, ready to serve: values filled to the
  // line's channels, bounds widened to cover them. `sources` are those the
  // items of a destination's lists stand for (none for a source's lists).
  void add_controls(ModelLayout& layout, std::size_t line, std::vector<SimControl>& controls,
                    std::uint32_t channels, const std::vector<SimSource>* sources,
                    std::uint32_t destination);

  SimDevice device_;
  std::vector<SimControl*> controls_;  // by ModelControl::key, into device_
  bool changed_ = false;
};

}  // namespace quorvel
