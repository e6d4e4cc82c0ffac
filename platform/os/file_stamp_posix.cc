#include <sys/stat.h>

#include "platform/os/file_stamp.h"

namespace quorvel {
namespace {

std::int64_t nanoseconds(const timespec& time) {
  return static_cast<std::int64_t>(time.tv_sec) * 1000000000 + time.tv_nsec;
}

}  // namespace

std::optional<FileStamp> regular_file_stamp(const std::filesystem::path& path) {
  struct stat status;
  if (::stat(path.c_str(), &status) != 0 || !S_ISREG(status.st_mode)) return std::nullopt;
  FileStamp stamp;
  stamp.device = static_cast<std::uint64_t>(status.st_dev);
  stamp.file = static_cast<std::uint64_t>(status.st_ino);
  stamp.size = static_cast<std::uint64_t>(status.st_size);
  stamp.changed = nanoseconds(status.st_ctim);
  stamp.written = nanoseconds(status.st_mtim);
  return stamp;
}

}  // namespace quorvel
