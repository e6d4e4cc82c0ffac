// Capturing one control's values into its line_control element.
#pragma once

#include <pugixml.hpp>

#include <cstdint>
#include <vector>

#include "common/result.h"
#include "platform/mixer/mixer.h"

namespace quorvel {

// Writes the values of one control of `line` under its line_control
// element, by the control's type: one value, one per channel of the line
// (a per-channel type on a line of two or more channels; a switch that is
// not uniform, likewise), or a list with one item per item of the control.
// A read that the mixer refuses is reported on a line of its own (the
// values are then written as 0) and fails the capture. The element's `min`
// and `max` are widened to cover every value written, so that the document
// never holds a value outside its own bounds.
Result capture_control_value(pugi::xml_node node, const MixerLine& line,
                             const MixerControl& control, const MixerHandle& handle);

// Reads the control as a whole (one channel).
MixerResult read_uniform_value(const MixerHandle& handle, std::uint32_t control_id,
                               std::int32_t& value);

// Reads `channels` channels of the control, in channel order.
MixerResult read_channel_values(const MixerHandle& handle, std::uint32_t control_id,
                                std::uint32_t channels, std::vector<std::int32_t>& values);

// Writes a `list_name` element holding one item per item of the list
// control `control` (its own item count, cMultipleItems).
MixerResult capture_list_items(pugi::xml_node node, const MixerHandle& handle,
                               const MixerControl& control, const char* list_name);

}  // namespace quorvel
