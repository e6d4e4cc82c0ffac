// Capturing one control's values into its line_control element.
#pragma once

#include <pugixml.hpp>

#include <cstdint>
#include <utility>

#include "common/result.h"
#include "platform/mixer/mixer.h"

namespace quorvel {

// Writes the values of one control under its line_control element, by the
// control's type. `line` is the line the control was listed with, the line
// that owns it: its channel count shapes per-channel reads and its
// connection count is a list control's item count. A read that the mixer
// refuses is reported on a line of its own (the values are then written as
// 0) and fails the capture.
Result capture_control_value(pugi::xml_node node, const MixerLine& line,
                             const MixerControl& control, const MixerHandle& handle);

// Reads the control as a whole (one channel).
MixerResult read_uniform_value(const MixerHandle& handle, std::uint32_t control_id,
                               std::int32_t& value);

// Reads channels 0 and 1 of a control of `line` (0 for a channel the line
// lacks), reading as many channels as the line has.
MixerResult read_channel_pair(const MixerHandle& handle, const MixerLine& line,
                              std::uint32_t control_id,
                              std::pair<std::int32_t, std::int32_t>& values);

// Writes a `list_name` element holding one item per entry of a list control
// of `line`, the item count being the line's connection count.
MixerResult capture_list_items(pugi::xml_node node, const MixerHandle& handle,
                               const MixerLine& line, std::uint32_t control_id,
                               const char* list_name);

}  // namespace quorvel
