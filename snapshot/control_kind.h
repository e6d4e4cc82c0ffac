// How the value of each control type is captured into a mixer document.
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

CaptureKind capture_kind(std::uint32_t control_type);

}  // namespace quorvel
