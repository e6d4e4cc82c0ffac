// The layout of one mixer device, as every back-end describes it once
// (mixer.h): its product name, its destination lines with their source
// lines, every line's controls, and the items of its list controls, with
// every number a mixer document records. Names have no length limit.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>
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
  // One value for every channel: a read gives it in every channel, a write
  // takes one value.
  bool uniform = false;
  // The control takes values beyond its bounds where the device itself
  // holds them (a sound server's volume above 100 %): such a value is for
  // the device to take (its bounds then widened to cover it) or refuse.
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
  // The device's own name of what the line stands for (a sound server's
  // sink or source name, stable across runs; empty when it has none), the
  // product behind it ("VENDOR:PRODUCT" as the device reports them; empty
  // when unknown), and each channel's speaker position as the document
  // spells it ("front-left", "lfe", "mono", ...; none, or one per channel).
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

  // Makes the lookups below answer for what was added so far.
  void index();
  // The first line with the id `id`; null when there is none.
  const ModelLine* line_by_id(std::uint32_t id) const;
  // The first control with the id `id` on a line with channels (a line
  // without channels shows no controls); null when there is none.
  const ModelControl* control_by_id(std::uint32_t id) const;
  // The destination that owns `line` (a destination owns itself).
  const ModelLine& destination_of(const ModelLine& line) const {
    return lines[destinations[line.destination]];
  }

  std::unordered_map<std::uint32_t, std::size_t> line_index;     // by id, into lines
  std::unordered_map<std::uint32_t, std::size_t> control_index;  // by id, into controls
};

}  // namespace quorvel
