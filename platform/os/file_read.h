// Reading a file whole into memory, within the size bound of what it is.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>

#include "common/result.h"

namespace quorvel {

// The largest document the program reads, from a file or over the network.
inline constexpr std::size_t kMaxDocumentBytes = std::size_t{64} * 1024 * 1024;

// The largest simulated device file: room for a device of a few million
// controls, saved in UTF-16.
inline constexpr std::uint64_t kMaxDeviceFileBytes = std::uint64_t{1} << 30;

// What a file is read as.
enum class FileUse {
  kDocument,    // a mixer document to load
  kDeviceFile,  // a simulated device's file
};

// How many bytes a file may hold to be read for `use`. `regular` tells a
// regular file (whose size is known before reading) from anything else (a
// device, a FIFO), which is read up to kMaxDocumentBytes whatever the use.
// Every bound on reading a file comes from here.
std::uint64_t file_read_bound(FileUse use, bool regular);

// What a failed read leaves in Result::code().
inline constexpr std::int32_t kReadErrorUnreadable = static_cast<std::int32_t>(0x800C0005u);
inline constexpr std::int32_t kReadErrorTooLarge = static_cast<std::int32_t>(0x8007000Eu);

// Reads the file at `path` whole into `bytes`, refusing one larger than its
// bound (file_read_bound), also one that grows while it is read, and a
// folder. A failure's message is the reason in a few words without a line
// end ("No such file or directory", "the file is larger than 67108864
// bytes"), its code one of the above; `bytes` is then empty.
Result read_file_whole(const std::filesystem::path& path, FileUse use, std::string& bytes);

}  // namespace quorvel
