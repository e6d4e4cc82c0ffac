// Building the snapshot document: the present state of mixer device 0 as a
// mixer document, and the capture of each control's values.
#pragma once

#include <pugixml.hpp>

#include <cstdint>
#include <optional>
#include <string>
#include <utility>

#include "common/status.h"
#include "platform/mixer.h"

namespace quorvel {

// Replaces the document's content by a mixer document of device 0 of
// `mixer`, and sets `default_output_name` to the product name plus ".xml".
// Returns kOk when the document is complete. When the mixer cannot be opened
// or described it writes one line saying so, leaves the bare template and
// `default_output_name` unchanged, and returns a failure; a line or control
// that cannot be read is reported, left out or written as read, and the
// build goes on but returns a failure.
Status build_snapshot(pugi::xml_document& document, MixerService& mixer,
                      std::optional<std::string>& default_output_name);

// Writes one line_control element per control of `line` under `parent`.
Status capture_line_controls(pugi::xml_node parent, const MixerHandle& handle,
                             const MixerLine& line);

// Writes the values of one control under its line_control element, by the
// control's type. Returns kOk, or a failure after reporting a read that the
// mixer refused (the values are then written as 0).
Status capture_control_value(pugi::xml_node node, const MixerLine& line,
                             const MixerControl& control, const MixerHandle& handle);

// Reads the control as a whole (one channel).
MixerResult read_uniform_value(const MixerHandle& handle, std::uint32_t control_id,
                               std::int32_t& value);

// Reads channels 0 and 1 of the control (0 for a channel the line lacks).
MixerResult read_channel_pair(const MixerHandle& handle, std::uint32_t control_id,
                              std::pair<std::int32_t, std::int32_t>& values);

// Writes a `list_name` element holding one item per entry of the list
// control, the item count being the connection count of the owning line.
Status capture_list_items(pugi::xml_node node, const MixerHandle& handle,
                          std::uint32_t control_id, const char* list_name);

// The line that owns a control, found by the control's identifier.
MixerResult find_control_line(const MixerHandle& handle, std::uint32_t control_id,
                              MixerLine& line);

}  // namespace quorvel
