// Capturing one control's values into its line_control element.
#pragma once

#include <pugixml.hpp>

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

}  // namespace quorvel
