// Capturing one control with its values into the snapshot.
#pragma once

#include <span>
#include <string>

#include "common/report.h"
#include "common/result.h"
#include "platform/document/document_sink.h"
#include "platform/mixer/mixer.h"

namespace quorvel {

// Writes the line_control element of `control`, a control of `line`, with
// the control's values in the form its type takes (value_form): one value,
// one per channel of the line, or a list with one item per item of the
// control. A read that the mixer refuses is reported on a line of its own
// (the values are then written as 0) and fails the capture. The element's
// `min` and `max` are widened to cover every value written, so that the
// document never holds a value outside its own bounds. Values kept per
// channel carry the channel's speaker position when the line has one per
// channel. With `gone` given, a read that finds the mixer gone (kMixerGone)
// is not reported but sets it, for the caller to say once.
Result capture_control_value(DocumentSink& sink, Mixer& mixer, const ModelLine& line,
                             const ModelControl& control, Reporter& reporter,
                             bool* gone = nullptr);

}  // namespace quorvel
