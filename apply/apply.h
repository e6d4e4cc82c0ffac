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
  int paired = 0;            // line controls of the document that pair with this mixer
};

// Writes the values held by each line_control node of `controls` (whose
// ctrl_id names a control of `mixer`) to that control, by control type, in
// list order. A node's values are the nodes after its name text (comments
// and processing instructions aside), taken by position, each read as the
// whole text it holds; a list control's are the items of its mux_list or
// mixer_list. Unknown types, custom controls, meters and multiple-select
// lists write nothing. A control the mixer refuses, or whose node lacks what
// its type needs, is reported (a refusal with exactly the values sent) and
// passed over. Returns 1 when a control type the program does not know was
// passed over, else 0. An empty list makes no mixer call.
int apply_line_controls(const std::vector<pugi::xml_node>& controls, MixerService& mixer,
                        ApplyReport& report);

// The values a setter sent to the mixer in its write (empty when it failed
// before writing).
using SentValues = std::vector<std::int32_t>;

// Writes `value` to the control as a whole (every channel alike), after
// reading it.
MixerResult set_uniform_value(const MixerHandle& handle, std::uint32_t control_id,
                              std::int32_t value, SentValues* sent = nullptr);

// Gives channel k of the control the k-th of `values`, in one
// read-change-write of every channel of its line; channels past the values
// keep theirs, values past the channels are not used. A uniform control
// takes the first value as a whole.
MixerResult set_channel_values(const MixerHandle& handle, std::uint32_t control_id,
                               const std::vector<std::int32_t>& values,
                               SentValues* sent = nullptr);

// Item position and value of a list control.
using ListItemValue = std::pair<std::uint32_t, std::int32_t>;

// Writes the given items of a list control in one read-change-write of the
// whole item array, whose size is the control's own item count. Positions
// at or beyond that count are ignored; other items keep their values.
// Nothing is read or written when no position falls in range.
MixerResult set_list_item(const MixerHandle& handle, std::uint32_t control_id,
                          const std::vector<ListItemValue>& items, SentValues* sent = nullptr);

}  // namespace quorvel
