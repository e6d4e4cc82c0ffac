// The simulated device's file: a mixer document (the program's own file
// format) describing the device and its state.
//
//   A mixer document in UTF-8 or UTF-16 (either byte order, with or without
//   a byte order mark); a document the program saved is a valid device file.
//   Numbers are read as the document writes them (signed decimal; unsigned
//   quantities as the same 32 bits). Names are the first child of their
//   element when that is text, else empty. Attributes the service computes
//   (`destinations`, `connections`, `src_id`, `ch`) are not read. A control's
//   `value` children give its channels in order; a `mux_list` or
//   `mixer_list` gives its items.
#pragma once

#include <pugixml.hpp>

#include <filesystem>

#include "common/result.h"
#include "platform/sim/sim_device.h"

namespace quorvel {

// Reads a device file. On failure `device` is unchanged and the message
// says why the file is not a valid device.
Result load_sim_device(const std::filesystem::path& path, SimDevice& device);
// The same, from a document already parsed.
Result load_sim_device(const pugi::xml_document& document, SimDevice& device);

}  // namespace quorvel
