// Reading a file whole into memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>

#include "common/result.h"

namespace quorvel {

// The largest body the program reads from what has no size to go by: a
// document fetched over the network, and a file that is not a regular one
// (a device, a FIFO).
inline constexpr std::size_t kMaxDocumentBytes = std::size_t{64} * 1024 * 1024;

// How many bytes a file may hold to be read. A regular file (one whose
// size is known before reading: a document, a simulated device's file) is
// read whatever its size, memory being the bound; anything else is read up
// to kMaxDocumentBytes. Every bound on reading a file comes from here.
std::uint64_t file_read_bound(bool regular);

// The bytes of the file at `path`, read whole: a regular file with one read
// of the size it has (and on to its end, should it have grown), anything
// else in pieces up to its bound (file_read_bound); a folder is refused. A
// failure's message is the reason in a few words without a line end ("No
// such file or directory", "the file is larger than 67108864 bytes").
Expected<std::string> read_file_whole(const std::filesystem::path& path);

}  // namespace quorvel
