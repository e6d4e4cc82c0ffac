// What an open mixer shows: every line with its controls, read through the
// service as a client walks it, for tests of any back-end.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/mixer/mixer.h"

namespace quorvel::testing {

struct LineView {
  MixerLine line;
  std::vector<MixerControl> controls;
};

// Every line of the handle's device, destinations each followed by their
// sources, with their controls; a failed call is a test failure.
std::vector<LineView> read_layout(const MixerHandle& handle);

// The line `id` of a layout, or null.
const LineView* find_line(const std::vector<LineView>& layout, std::uint32_t id);

}  // namespace quorvel::testing
