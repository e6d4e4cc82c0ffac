// What the program does with each control type: how its value is captured
// into a mixer document, and how it is written back to a mixer.
#pragma once

#include <cstdint>

namespace quorvel {

enum class CaptureKind {
  kNothing,     // custom controls and unknown types: nothing after the name
  kSingle,      // one value without a channel number
  kSingleCh1,   // one value with ch="1" (boolean and signed meters)
  kSwitch,      // one value without a channel number; one per channel, ch="1" to
                // ch="N", when the control is not uniform and its line has N > 1 channels
  kPerChannel,  // ch="1", and on a line of N >= 2 channels ch="2" to ch="N"
  kMuxList,     // a mux_list of items
  kMixerList,   // a mixer_list of items
};

enum class WriteKind {
  kNothing,     // custom controls, meters, multiple-select lists
  kUniform,     // the first value, for the control as a whole
  kSwitch,      // one value for the whole control; several, one per channel
  kPerChannel,  // one value for the whole control; several, one per channel
  kChannels,    // one value for channels 1 and 2; several, one per channel
  kList,        // the selection of a MUX or MIXER list
  kUnknown,     // a type the program does not know
};

CaptureKind capture_kind(std::uint32_t control_type);
WriteKind write_kind(std::uint32_t control_type);

// Whether the type is an on/off switch whose channels can differ (BOOLEAN,
// ONOFF, MUTE, MONO, LOUDNESS, STEREOENH; not BUTTON, which is pressed).
bool is_channel_switch(std::uint32_t control_type);

}  // namespace quorvel
