#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <system_error>
#include <thread>

#include "platform/os/file_lock.h"

namespace quorvel {
namespace {

Result lock_failure(int error) {
  return Result::failure(std::generic_category().message(error));
}

}  // namespace

Result FileLock::acquire(const std::filesystem::path& path, const Wait& wait) {
  using Clock = std::chrono::steady_clock;
  release();
  const Clock::time_point deadline = Clock::now() + wait.timeout;
  std::chrono::milliseconds pause(10);
  bool told = false;
  for (int attempt = 1;; ++attempt) {
    // Read-only, so that a file that may not be written (or a read-only
    // mount) locks all the same; without blocking, so that a FIFO in the
    // file's place does not stop the run before it is found out.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) return fail(lock_failure(errno), kLockErrorUnopened);
    struct stat locked;
    if (::fstat(fd, &locked) != 0) {
      const int error = errno;
      ::close(fd);
      return fail(lock_failure(error), kLockErrorFailed);
    }
    if (!S_ISREG(locked.st_mode)) {
      ::close(fd);
      return fail(Result::failure("not a regular file"), kLockErrorNotRegular);
    }
    // At once if it is free; else, having said so once, again and again
    // until the deadline, a little less often each time.
    while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
      const int error = errno;
      if (error == EINTR) continue;
      if (error != EWOULDBLOCK) {
        ::close(fd);
        return fail(lock_failure(error), kLockErrorFailed);
      }
      if (!told) {
        told = true;
        if (wait.on_held) wait.on_held();
      }
      const Clock::time_point now = Clock::now();
      if (now >= deadline) {
        ::close(fd);
        return fail(Result::failure("another process holds the lock"), kLockErrorTimedOut);
      }
      std::this_thread::sleep_for(
          std::min<Clock::duration>(pause, deadline - now));
      pause = std::min(pause * 2, std::chrono::milliseconds(100));
    }
    // Whoever held the lock may have put a new file in the name's place: the
    // lock counts only while the name still leads to the file locked.
    struct stat named;
    if (::stat(path.c_str(), &named) == 0 && named.st_dev == locked.st_dev &&
        named.st_ino == locked.st_ino) {
      handle_ = fd;
      return Result();
    }
    ::close(fd);
    // A name that keeps changing under a lock it never waits for is not
    // chased for ever.
    if (attempt >= 3 && Clock::now() >= deadline) {
      return fail(Result::failure("the file keeps being replaced"), kLockErrorTimedOut);
    }
  }
}

void FileLock::release() {
  if (handle_ == kNone) return;
  // Closing the only descriptor of the open file frees its lock.
  ::close(static_cast<int>(handle_));
  handle_ = kNone;
}

}  // namespace quorvel
