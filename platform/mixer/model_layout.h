// The layout of one mixer device as a back-end with a model of its own
// describes it once to ModelMixer (model_mixer.h): its lines, their controls
// and the items of its list controls, with every field the service reports.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace quorvel {

// One item of a list control: its name and the source line it stands for
// (line id and component type; 0 when it stands for none).
struct ModelItem {
  std::string name;
  std::uint32_t line_id = 0;
  std::uint32_t component_type = 0;
};

struct ModelControl {
  std::uint32_t id = 0;
  std::uint32_t type = 0;
  std::string name;
  std::int32_t min = 0;  // bounds as control_bounds.h reads them
  std::int32_t max = 0;
  std::uint32_t steps = 0;
  bool uniform = false;  // one value for every channel
  // Values beyond the bounds are not refused by ModelMixer but passed to
  // the back-end's write_values, which takes those the device itself holds
  // (and widens the bounds to cover them) and refuses the others.
  bool device_bounds = false;
  bool list = false;  // a list control: one value per item
  std::vector<ModelItem> items;
  std::size_t key = 0;   // the back-end's own reference to the control
  std::size_t line = 0;  // its line in ModelLayout::lines (set by add_control)
};

struct ModelLine {
  std::uint32_t id = 0;
  std::uint32_t component_type = 0;
  std::uint32_t channels = 1;  // a line without channels shows no controls
  std::string name;
  // What get_line_identity reports: the device's own name of the line, the
  // product behind it, and each channel's speaker position (none, or one
  // per channel).
  std::string device_name;
  std::string product_id;
  std::vector<std::string> positions;
  std::size_t key = 0;  // the back-end's own reference to the line
  // Set by ModelLayout's add_ functions:
  bool is_source = false;
  std::uint32_t destination = 0;      // the destination's index
  std::uint32_t source = 0;           // a source's index among its destination's
  std::vector<std::size_t> controls;  // in ModelLayout::controls, in order
  std::vector<std::size_t> sources;   // a destination's, in ModelLayout::lines
};

struct ModelLayout {
  std::string name;  // the device's product name
  std::vector<ModelLine> lines;
  std::vector<std::size_t> destinations;  // in lines, in order
  std::vector<ModelControl> controls;

  // Each adds a record after the others of its kind and returns its index
  // in `lines` or `controls`.
  std::size_t add_destination(ModelLine line);
  std::size_t add_source(std::size_t destination, ModelLine line);
  std::size_t add_control(std::size_t line, ModelControl control);
};

}  // namespace quorvel
