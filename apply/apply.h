// Writing the values of a mixer document's line controls to the mixer.
#pragma once

#include <pugixml.hpp>

#include <cstdint>
#include <utility>
#include <vector>

#include "platform/mixer/mixer.h"

namespace quorvel {

// What applying values ran into. Every control counted in `reported` was
// named in a line on standard error.
struct ApplyReport {
  int reported = 0;          // refused by the mixer, or passed over for bad input
  int unknown_types = 0;     // passed over: a control type the program does not know
};

// Writes the values held by each line_control node of `controls` (whose
// ctrl_id names a control of `mixer`) to that control, by control type, in
// list order. Unknown types, custom controls, meters and multiple-select
// lists write nothing. A control the mixer refuses, or whose node lacks what
// its type needs, is reported and passed over. Returns 1 when a control
// type the program does not know was passed over, else 0. An empty list
// makes no mixer call.
int apply_line_controls(const std::vector<pugi::xml_node>& controls, MixerService& mixer,
                        ApplyReport& report);

// Writes `value` to the control as a whole (every channel alike), after
// reading it.
MixerResult set_uniform_value(const MixerHandle& handle, std::uint32_t control_id,
                              std::int32_t value);

// Writes `first` to channel 0 and `second` to channel 1 (where the control's
// line has one) in one read-change-write; other channels keep their values.
MixerResult set_channel_pair(const MixerHandle& handle, std::uint32_t control_id,
                             std::int32_t first, std::int32_t second);

// Item position and value of a list control.
using ListItemValue = std::pair<std::uint32_t, std::int32_t>;

// Writes the given items of a list control in one read-change-write of the
// whole item array, whose size is the owning line's connection count.
// Positions at or beyond that count are ignored; other items keep their
// values. Nothing is read or written when no position falls in range.
MixerResult set_list_item(const MixerHandle& handle, std::uint32_t control_id,
                          const std::vector<ListItemValue>& items);

}  // namespace quorvel
