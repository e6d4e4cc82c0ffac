// An exclusive lock between processes, on a lock file of its own.
#pragma once

#include <cstdint>
#include <filesystem>

#include "common/result.h"

namespace quorvel {

// Holds the exclusive lock of one lock file until release() or the end of
// the object. A process that asks for a lock another holds waits until it
// is free; a process that ends, however it ends, frees its locks. POSIX:
// flock; Windows: LockFileEx.
class FileLock {
 public:
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

  // Opens the lock file `path` (made, empty, when missing; it stays after
  // the lock is freed) and waits for its exclusive lock. A failure gives the
  // system's reason, and holds nothing.
  Result acquire(const std::filesystem::path& path);
  bool held() const { return handle_ != kNone; }
  void release();

 private:
  static constexpr std::intptr_t kNone = -1;
  std::intptr_t handle_ = kNone;  // the open lock file: a descriptor or a HANDLE
};

}  // namespace quorvel
