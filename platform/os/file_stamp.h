// Telling whether the file behind a name is still the one read earlier.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>

namespace quorvel {

// What tells one state of a regular file from another: which file it is
// and when it last changed. A file put in the name's place (a rename over
// it, as rsync does) is another file; one rewritten in place with its old
// size and time of last write given back (cp -p) has a later change time,
// which no program can set.
struct FileStamp {
  std::uint64_t device = 0;  // POSIX: st_dev; Windows: the volume's serial number
  std::uint64_t file = 0;    // POSIX: st_ino; Windows: the file's index on the volume
  std::uint64_t size = 0;
  // Times in the platform's own units (POSIX: nanoseconds since 1970;
  // Windows: 100 ns since 1601), only ever compared.
  std::int64_t changed = 0;  // of the last change of content or metadata (st_ctim)
  std::int64_t written = 0;  // of the last write (st_mtim)

  bool operator==(const FileStamp&) const = default;
};

// The stamp of the regular file `path` (links followed); none when it is
// not a regular file, or cannot be looked at.
std::optional<FileStamp> regular_file_stamp(const std::filesystem::path& path);

}  // namespace quorvel
