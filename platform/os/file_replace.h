// Writing a file so that a reader, or a crash, never sees it half-written.
#pragma once

#include <filesystem>
#include <string_view>

#include "common/result.h"

namespace quorvel {

// How the new content is staged before it takes the target's place.
enum class Staging {
  // In a file without a name, linked in only once complete, where the file
  // system supports that (Linux: O_TMPFILE); else as kNamed.
  kUnnamedWhereSupported,
  // In a file with a short temporary name beside the target, removed when
  // the write fails.
  kNamed,
};

// Writes `bytes` as the whole new content of the file `target`, the way
// careful tools save:
//   - a symbolic link is followed, and the file it leads to is replaced (the
//     link stays a link);
//   - an existing file keeps its permissions (and, where the process may set
//     them, its owner and group; on Windows its security descriptor);
//   - on Linux, an existing file keeps its extended attributes, its POSIX
//     ACL among them: they are given to the new file before it takes the
//     old one's place, and before it gets the old mode, so that no user the
//     ACL shut out can open it on the way. A file system without extended
//     attributes has nothing to keep; an attribute the process may not read
//     or set (security.* or trusted.* without privilege, user.* of a file
//     it may not read) is left behind without failing the save. An ACL (a
//     system.* attribute) is never left behind: one that cannot be read or
//     set fails the save with the system's reason, since a new file without
//     it could be read by users it denied. An access ACL the new file would
//     take from its folder's default ACL, where the old file had none, is
//     removed for the same reason;
//   - the data reaches the disk before the new file takes the old one's
//     place in one step, and the folder's entry after it;
//   - a target that exists and is not a regular file or a folder (a device,
//     a FIFO) is written into directly, since it cannot be replaced; a
//     FIFO that no process reads from is a failure at once ("nothing is
//     reading from the FIFO"), not a wait for a reader.
// Names of any length the system accepts work: the temporary file is named
// relative to the target's folder, with a short name.
// On failure the target keeps its old content, nothing is left behind, and
// the message is the system's reason ("No space left on device"), without
// the target's name.
Result write_file_atomically(const std::filesystem::path& target, std::string_view bytes,
                             Staging staging = Staging::kUnnamedWhereSupported);

}  // namespace quorvel
