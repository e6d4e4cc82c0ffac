// Synthetic simulated devices of any size, for tests and benchmarks.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/sim/sim_device.h"

namespace quorvel {

// A synthetic device of exactly `control_count` controls:
// `destinations` destinations (line ids 0xFFFF0000 + i) of
// `sources_per_destination` stereo sources each. Each destination's first
// control is a MUX over its sources; the rest cycle through volume, mute,
// bass, treble, pan and peak meter, spread evenly over all lines. Control
// ids run from 1.
SimDevice make_sim_device(std::size_t control_count, std::uint32_t destinations = 2,
                          std::uint32_t sources_per_destination = 8);

}  // namespace quorvel
