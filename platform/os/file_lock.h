// An exclusive lock between processes on a file that is read whole and
// replaced whole (renamed over), taken on the file itself: no lock file is
// ever made.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>

#include "common/result.h"

namespace quorvel {

// Why FileLock::acquire failed: the kind of its error (Error::kind).
inline constexpr int kLockErrorUnopened = 1;     // the file does not open: the system's reason
inline constexpr int kLockErrorNotRegular = 2;   // not a regular file; nothing to lock
inline constexpr int kLockErrorTimedOut = 3;     // another process held it all the time
inline constexpr int kLockErrorFailed = 4;       // the system refused the lock: its reason

// Holds the exclusive lock of one file until release() or the end of the
// object. A process that ends, however it ends, frees its locks.
//
// The lock belongs to the file, not to the name: every path that leads to
// the file (a link, its target) shares it. Since whoever holds it may
// replace the file by renaming a new one over its name, a process that
// waited checks, once it has the lock, that the name still leads to the
// file it locked, and else starts over on the file the name leads to now.
// POSIX: flock on a read-only descriptor; Windows: LockFileEx on a range
// past any content, so that the lock never stands in the way of a reader.
class FileLock {
 public:
  struct Wait {
    // How long to wait for a lock another process holds; 0: not at all.
    std::chrono::milliseconds timeout{0};
    // Called once, when the lock is found held, before any waiting.
    std::function<void()> on_held;
  };

  FileLock() = default;
  ~FileLock() { release(); }
  FileLock(FileLock&& other) noexcept : handle_(other.handle_) { other.handle_ = kNone; }
  FileLock& operator=(FileLock&& other) noexcept {
    if (this != &other) {
      release();
      handle_ = other.handle_;
      other.handle_ = kNone;
    }
    return *this;
  }
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;

  // Takes the lock of the regular file `path` leads to (links followed),
  // trying at once and then, while another process holds it, again until
  // `wait.timeout` has passed. Nothing is created, and the file is opened
  // for reading only. A failure holds nothing; its kind is one of those
  // above, and its message the system's reason where there is one.
  Result acquire(const std::filesystem::path& path, const Wait& wait);
  bool held() const { return handle_ != kNone; }
  void release();

 private:
  static Result fail(const Result& reason, int kind) {
    return Result::failure(reason.message(), kind);
  }

  static constexpr std::intptr_t kNone = -1;
  std::intptr_t handle_ = kNone;  // the open file: a descriptor or a HANDLE
};

}  // namespace quorvel
