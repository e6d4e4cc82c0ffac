// The simulated device's file: a mixer document (the program's own file
// format) describing the device and its state.
//
// Reading
//   A mixer document in UTF-8 or UTF-16 (either byte order, with or without
//   a byte order mark), read with the checks documents get (well-formed XML,
//   one root); a document the program saved is a valid device file.
//   Numbers are read as the document writes them (signed decimal; unsigned
//   quantities as the same 32 bits). Names are the first child of their
//   element when that is text, else empty; a carriage return in a name reads
//   as a line feed, as the line ends of XML text do. Attributes the service
//   computes (`destinations`, `connections`, `src_id`, `ch`) are not read. A
//   control's `value` children give its channels in order (those past the
//   line's channel count are not part of the device); a `mux_list` or
//   `mixer_list` gives its items.
//
// Writing
//   The device's whole state, in the form a snapshot of it takes (so that an
//   unchanged device gives the document a save of it gives), and beyond it
//   where a snapshot shows less than the device holds: every channel's value
//   of a control whose channels differ, the value of a control of a type
//   that a snapshot shows no value of (custom and unknown types, lists) when
//   it is not 0, and the items of every list, on any line. Reading what was
//   written gives the same device.
//
// Bounds
//   A regular device file is read whatever its size (a device, a FIFO: up
//   to the bound of what has no size, file_read.h). It describes at most the
//   counts below, which admit devices of millions of controls; a file beyond
//   them is refused with the reason, before anything of its size is
//   allocated.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <iosfwd>
#include <optional>
#include <string>
#include <string_view>

#include "common/result.h"
#include "platform/document/document_sink.h"
#include "platform/sim/sim_device.h"
#include "platform/xml/xml_read.h"

namespace quorvel {

inline constexpr std::size_t kMaxSimDestinations = 65536;
inline constexpr std::size_t kMaxSimSourcesPerDestination = 65536;  // line ids tell no more apart
inline constexpr std::uint32_t kMaxSimChannels = 64;                 // per line
inline constexpr std::size_t kMaxSimControls = std::size_t{1} << 22;   // 4,194,304 in all
inline constexpr std::size_t kMaxSimItemsPerList = 65536;
// Channel values (one per channel of every control's line) and list items,
// in all.
inline constexpr std::size_t kMaxSimValues = std::size_t{1} << 24;   // 16,777,216

// The bytes a regular device file is read in at a time: this many, or a
// sixteenth of the file when that is more, so that the parser reads a token
// that spans pieces (it reads one again with each) at most sixteen times.
inline constexpr std::size_t kSimDevicePiece = kXmlFilePiece;

// Reads a device file. On failure `device` is unchanged and the message
// says, in one line, why the file is not a valid device. A regular file is
// read `piece` bytes at a time (0: as kSimDevicePiece says) and built as it
// is read, never held whole; one that leaves the least doubt on the way
// (anything not a valid device, a file that changes while it is read) is
// read again whole, which tells why. The bytes read in pieces are counted
// on `progress`, where one is given.
Result load_sim_device(const std::filesystem::path& path, SimDevice& device,
                       std::size_t piece = 0, Progress* progress = nullptr);
// The piecewise read alone, from `in`, which holds `size` bytes: the
// verdict when the pass went to the end of the file (which then matches
// load_sim_device_bytes's), nothing when it left a doubt.
std::optional<Result> load_sim_device_in_pieces(std::istream& in, std::uint64_t size,
                                                const std::string& shown, SimDevice& device,
                                                std::size_t piece);
// The same, from the file's bytes; `shown` names the file in messages.
Result load_sim_device_bytes(std::string_view bytes, const std::string& shown, SimDevice& device);

// Writes the mixer document of `device` into `sink`.
void write_sim_device(const SimDevice& device, DocumentSink& sink);

// The device file of `device` in the saved-file format (UTF-16 with a byte
// order mark).
std::string serialize_sim_device(const SimDevice& device);

// Writes the device file of `device` to `path` in the saved-file format
// (UTF-16 with a byte order mark), replacing the file whole or not at all.
// A failure gives the system's reason.
Result save_sim_device_file(const SimDevice& device, const std::filesystem::path& path);

}  // namespace quorvel
