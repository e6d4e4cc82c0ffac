// Reading and writing a control's values through any mixer service: the
// calls that both the snapshot and the restore make, written once.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/mixer/mixer.h"

namespace quorvel {

// The control with the identifier `control_id` (its type, flags and item
// count) and the line that owns it.
MixerResult find_control(const MixerHandle& handle, std::uint32_t control_id,
                         MixerControl& control, MixerLine& line);

// Whether a read or write of the control takes one value for every channel
// (the control is flagged uniform).
inline bool is_uniform(const MixerControl& control) {
  return (control.fdwControl & ctrl::kFlagUniform) != 0;
}

// Reads `channels` (1: the control as a whole) times `items` (0 for a
// control without items, else its item count) values of a control into
// `values`, channel-major. `values` is resized to fit; on a failure it holds
// zeros.
MixerResult read_control_values(const MixerHandle& handle, std::uint32_t control_id,
                                std::uint32_t channels, std::uint32_t items,
                                std::vector<std::int32_t>& values);

// Writes `values` (shaped as read_control_values reads them) to a control.
MixerResult write_control_values(const MixerHandle& handle, std::uint32_t control_id,
                                 std::uint32_t channels, std::uint32_t items,
                                 std::vector<std::int32_t>& values);

// Reads the names of a list control's `items` items.
MixerResult read_list_texts(const MixerHandle& handle, std::uint32_t control_id,
                            std::uint32_t items, std::vector<ListText>& texts);

}  // namespace quorvel
