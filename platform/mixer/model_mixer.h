// The base of a back-end that serves a model of its own (the simulated
// device, an ALSA card): it makes the checks of the contract that need the
// model (unknown lines and controls, control counts, record shapes, bounds,
// read-only meters, list selections), fills the records, and asks the
// back-end only what its model holds, through the narrow hooks below.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "platform/mixer/checked_mixer.h"

namespace quorvel {

class ModelMixer : public CheckedMixer {
 protected:
  struct ModelDevice {
    std::string_view name;
    std::uint32_t destinations = 0;
  };

  struct ModelLine {
    std::size_t key = 0;  // the back-end's own reference to the line
    std::uint32_t id = 0;
    std::uint32_t destination = 0;
    bool is_source = false;
    std::uint32_t source = 0;  // a source's index among its destination's sources
    std::uint32_t component_type = 0;
    std::uint32_t channels = 1;
    std::uint32_t connections = 0;  // a destination's sources
    std::uint32_t controls = 0;
    std::string_view name;
  };

  struct ModelControl {
    std::size_t key = 0;       // the back-end's own reference to the control
    std::size_t line_key = 0;  // and to its line
    std::uint32_t id = 0;
    std::uint32_t type = 0;
    std::string_view name;
    std::int32_t min = 0;  // bounds: signed when min <= max, else the same bits unsigned
    std::int32_t max = 0;
    std::uint32_t steps = 0;
    bool uniform = false;  // one value for every channel
    // Values beyond the bounds are not refused here but passed to
    // write_values, which takes those the device itself holds (the bounds
    // then cover them from the next description on) and refuses the others.
    bool device_bounds = false;
    bool list = false;     // a list control: one value per item
    std::uint32_t items = 0;
    std::uint32_t line_id = 0;
    std::uint32_t line_channels = 1;
  };

  // One item of a list control: its name and the source line it stands for
  // (line id and component type; 0 when it stands for none).
  struct ModelItem {
    std::string_view name;
    std::uint32_t line_id = 0;
    std::uint32_t component_type = 0;
  };

  // The hooks. A find_ hook answers false when the model has no such line
  // or control; the others are asked only about what a find_ hook gave.
  virtual ModelDevice describe_device(OpenDevice& open) = 0;
  virtual bool find_destination(OpenDevice& open, std::uint32_t destination, ModelLine& out) = 0;
  virtual bool find_source(OpenDevice& open, std::uint32_t destination, std::uint32_t source,
                           ModelLine& out) = 0;
  virtual bool find_line(OpenDevice& open, std::uint32_t line_id, ModelLine& out) = 0;
  // The line's control number `index` (below line.controls), in order.
  virtual void line_control(OpenDevice& open, const ModelLine& line, std::uint32_t index,
                            ModelControl& out) = 0;
  virtual bool find_control(OpenDevice& open, std::uint32_t control_id, ModelControl& out) = 0;
  // Item `item` (below control.items) of a list control.
  virtual ModelItem list_item(OpenDevice& open, const ModelControl& control,
                              std::uint32_t item) = 0;
  // Reads a control into `values`: one value per channel of a control
  // without items (one value: the control as a whole; a uniform control is
  // only ever read so), or one state per item of a list control.
  virtual MixerResult read_values(OpenDevice& open, const ModelControl& control,
                                  std::span<std::int32_t> values) = 0;
  // Writes `values`, shaped as read_values reads them (one value: every
  // channel alike; a uniform control is only ever written so), which are
  // within the bounds (unless the control has device_bounds) and keep a
  // list's rules. A back-end with rules of its own refuses with
  // MIXERR_INVALVALUE before it changes anything.
  virtual MixerResult write_values(OpenDevice& open, const ModelControl& control,
                                   std::span<const std::int32_t> values) = 0;

 private:
  MixerResult do_get_dev_caps(OpenDevice& open, MixerCaps& caps) final;
  MixerResult do_get_line_info(OpenDevice& open, MixerLine& line, LineQuery query) final;
  MixerResult do_get_line_controls(OpenDevice& open, MixerLineControls& controls,
                                   ControlsQuery query) final;
  MixerResult do_get_control_details(OpenDevice& open, MixerControlDetails& details,
                                     DetailsQuery query) final;
  MixerResult do_set_control_details(OpenDevice& open, const MixerControlDetails& details) final;
};

}  // namespace quorvel
