#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

#include "platform/os/file_lock.h"

namespace quorvel {

Result FileLock::acquire(const std::filesystem::path& path) {
  release();
  int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOCTTY, 0666);
  // A lock file that exists but may not be written to still locks: flock
  // needs only an open file.
  if (fd < 0 && (errno == EACCES || errno == EROFS)) {
    fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
  }
  if (fd < 0) return Result::failure(std::generic_category().message(errno));
  while (::flock(fd, LOCK_EX) != 0) {
    if (errno == EINTR) continue;
    int error = errno;
    ::close(fd);
    return Result::failure(std::generic_category().message(error));
  }
  handle_ = fd;
  return Result();
}

void FileLock::release() {
  if (handle_ == kNone) return;
  // Closing the only descriptor of the open file frees its lock.
  ::close(static_cast<int>(handle_));
  handle_ = kNone;
}

}  // namespace quorvel
