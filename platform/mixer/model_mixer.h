// The base of a back-end that serves a model of its own (the simulated
// device, an ALSA card). The back-end describes each device once, as a
// ModelLayout; ModelMixer answers every description from it and makes the
// checks of the contract that need it (unknown lines and controls, control
// counts, record shapes, bounds, read-only meters, list selections). The
// back-end itself only reads and writes values.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <unordered_map>
#include <vector>

#include "platform/mixer/checked_mixer.h"
#include "platform/mixer/model_layout.h"

namespace quorvel {

class ModelMixer : public CheckedMixer {
 protected:
  // Gives device `device` its layout (before or at its first open; again
  // only while no handle of it is open).
  // Where ids repeat, the first line or control with an id is found by it.
  void set_layout(unsigned device, ModelLayout layout);
  // A device's layout; null before set_layout.
  const ModelLayout* layout(unsigned device) const;
  // A device's control by id (a control of a line without channels is
  // none); null when there is no such control.
  const ModelControl* control_by_id(unsigned device, std::uint32_t control_id) const;

  // The hooks.
  // Called at an open of a device without a layout: opens the device and
  // gives its layout with set_layout, or fails saying so (MMSYSERR_NODRIVER).
  // A back-end that gives every layout up front needs none.
  virtual MixerResult load_device(unsigned device);
  // Reads a control into `values`: one value per channel of a control
  // without items (one value: the control as a whole; a uniform control is
  // only ever read so), or one state per item of a list control.
  virtual MixerResult read_values(unsigned device, const ModelControl& control,
                                  std::span<std::int32_t> values) = 0;
  // Writes `values`, shaped as read_values reads them (one value: every
  // channel alike; a uniform control is only ever written so), which are
  // within the bounds (unless the control has device_bounds) and keep a
  // list's rules. A back-end with rules of its own refuses with
  // MIXERR_INVALVALUE before it changes anything. A device_bounds control's
  // bounds are widened here to cover what the device took.
  virtual MixerResult write_values(unsigned device, ModelControl& control,
                                   std::span<const std::int32_t> values) = 0;

 private:
  struct Device {
    ModelLayout layout;
    std::unordered_map<std::uint32_t, std::size_t> line_index;
    std::unordered_map<std::uint32_t, std::size_t> control_index;
  };

  Device& device_of(const OpenDevice& open) { return *devices_[open.device]; }
  ModelControl* control_of(const OpenDevice& open, std::uint32_t control_id);

  MixerResult do_open(unsigned device, std::unique_ptr<OpenDevice>& out) final;
  MixerResult do_get_dev_caps(OpenDevice& open, MixerCaps& caps) final;
  MixerResult do_get_line_info(OpenDevice& open, MixerLine& line, LineQuery query) final;
  MixerResult do_get_line_controls(OpenDevice& open, MixerLineControls& controls,
                                   ControlsQuery query) final;
  MixerResult do_get_control_details(OpenDevice& open, MixerControlDetails& details,
                                     DetailsQuery query) final;
  MixerResult do_set_control_details(OpenDevice& open, const MixerControlDetails& details) final;
  MixerResult do_get_line_identity(OpenDevice& open, std::uint32_t line_id,
                                   LineIdentity& identity) final;
  MixerResult do_get_extent(OpenDevice& open, MixerExtent& extent) final;

  std::vector<std::unique_ptr<Device>> devices_;  // by device number; null: no layout yet
};

}  // namespace quorvel
