// What the program does with each control type: how its value is captured
// into a mixer document, and how it is written back to a mixer.
#pragma once

#include <cstdint>

namespace quorvel {

enum class CaptureKind {
  kNothing,        // custom controls and unknown types: nothing after the name
  kSingle,         // one value without a channel number
  kSingleCh1,      // one value with ch="1" (boolean and signed meters)
  kPerChannel,     // ch="1", and ch="2" on a two-channel line
  kMuxList,        // a mux_list of items
  kMixerList,      // a mixer_list of items
};

enum class WriteKind {
  kNothing,      // custom controls, meters, multiple-select lists
  kUniform,      // one value for the control as a whole
  kPerChannel,   // two values per channel; one value for the whole control
  kChannelPair,  // two values per channel; one value goes to both channels
  kList,         // the selection of a MUX or MIXER list
  kUnknown,      // a type the program does not know
};

CaptureKind capture_kind(std::uint32_t control_type);
WriteKind write_kind(std::uint32_t control_type);

}  // namespace quorvel
