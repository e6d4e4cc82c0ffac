// The simulated mixer device as data: a device, its destinations, their
// sources and every control with its state. The mixer in sim_mixer.h
// serves it; sim_device_file.h reads it from a mixer document and writes it
// to one.
//
// Model
//   - One device, named `name`.
//   - Destination i: line id `line_id`, its channels, component type, its
//     controls, then its sources.
//   - Source j of destination i: line id j * 65536 + i (sim_source_line_id).
//   - A control holds one value per channel of its line (`values`, filled
//     to the line's channel count by the mixer: channel k starts as entry
//     k, else entry 0, else 0). A list control holds one value per item
//     instead (its `selected`), the same for every channel.
//   - A switch (MUTE and the other on/off types) given one value or none is
//     uniform: one value for every channel. Given several, its channels are
//     apart.
//   - The bounds cover the values the device holds: a value outside
//     `min`..`max` in a device file widens them.
//   - A line without channels has no controls: those a device file gives it
//     are not served.
//   - A line may carry the name a sound server would give it
//     (`server_name`), the identity of the product behind it (`product_id`)
//     and its channels' speaker positions (`positions`, one per channel): a
//     device file gives them as a line's server_name and product_id and as
//     the position of each value of a control kept per channel.
//   - Two lines or two controls with the same identifier make the device
//     invalid (check_sim_device).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/result.h"
#include "platform/mixer/mixer.h"

namespace quorvel {

struct SimItem {
  std::string name;
  std::int32_t selected = 0;
  bool operator==(const SimItem&) const = default;
};

struct SimControl {
  std::uint32_t id = 0;
  std::uint32_t type = 0;
  std::string name;
  std::uint32_t steps = 0;
  std::int32_t min = 0;
  std::int32_t max = 0;
  // Per channel. May be shorter than the line's channel count: the mixer
  // fills channel k from entry k, else entry 0, else 0.
  std::vector<std::int32_t> values;
  // One value for every channel (set by the mixer from `values`, see above).
  bool uniform = false;
  // A SINGLESELECT control has items only when `list` is set; MUX, MIXER and
  // MULTIPLESELECT controls always do.
  bool list = false;
  std::vector<SimItem> items;
  bool operator==(const SimControl&) const = default;
};

// Whether a control of `type` always has items, with or without a list in
// its device file (MUX, MIXER, MULTIPLESELECT, a port select).
bool sim_type_has_items(std::uint32_t type);
// Whether the control is served with items (and the multiple flag): one of
// such a type, or a SINGLESELECT whose file gave it a list.
bool sim_has_items(const SimControl& control);

struct SimSource {
  std::string name;
  std::uint32_t channels = 2;
  std::uint32_t line_type = kComponentSrcUndefined;
  std::string server_name;
  std::string product_id;
  std::vector<std::string> positions;
  std::vector<SimControl> controls;
  bool operator==(const SimSource&) const = default;
};

struct SimDestination {
  std::string name;
  std::uint32_t line_id = 0;
  std::uint32_t channels = 2;
  std::uint32_t component_type = kComponentDstSpeakers;
  std::string server_name;
  std::string product_id;
  std::vector<std::string> positions;
  std::vector<SimControl> controls;
  std::vector<SimSource> sources;
  bool operator==(const SimDestination&) const = default;
};

struct SimDevice {
  std::string name;
  std::vector<SimDestination> destinations;
  bool operator==(const SimDevice&) const = default;
};

// The line id of source `source` of destination `destination`.
constexpr std::uint32_t sim_source_line_id(std::uint32_t destination, std::uint32_t source) {
  return source * 65536u + destination;
}

// Builders for devices made in code.
SimControl sim_control(std::uint32_t id, std::uint32_t type, std::string name,
                       std::int32_t min, std::int32_t max, std::uint32_t steps,
                       std::vector<std::int32_t> values = {});
SimControl sim_list_control(std::uint32_t id, std::uint32_t type, std::string name,
                            std::vector<SimItem> items);
// Checks that no two lines and no two controls share an identifier.
Result check_sim_device(const SimDevice& device);

}  // namespace quorvel
