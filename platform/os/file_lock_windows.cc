#include <windows.h>

#include <algorithm>
#include <thread>

#include "platform/os/file_lock.h"
#include "platform/os/windows_error.h"

namespace quorvel {
namespace {

// The range locked: one byte far past the end of any file. A byte-range
// lock on Windows keeps other processes from reading what it covers; past
// the content it covers nothing a reader reads, and it still excludes every
// process that asks for the same range.
constexpr DWORD kRangeHigh = 0x7FFFFFFF;
constexpr DWORD kRangeLow = 0;

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// The file's identity: its volume and its index on it.
struct Identity {
  DWORD volume = 0;
  DWORD high = 0;
  DWORD low = 0;
  bool operator==(const Identity&) const = default;
};

bool identity_of(HANDLE file, Identity& identity) {
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(file, &info)) return false;
  identity = Identity{info.dwVolumeSerialNumber, info.nFileIndexHigh, info.nFileIndexLow};
  return true;
}

Result lock_failure(DWORD error) {
  return Result::failure(windows_error_text(error));
}

}  // namespace

Result FileLock::acquire(const std::filesystem::path& path, const Wait& wait) {
  using Clock = std::chrono::steady_clock;
  release();
  const Clock::time_point deadline = Clock::now() + wait.timeout;
  std::chrono::milliseconds pause(10);
  bool told = false;
  for (int attempt = 1;; ++attempt) {
    // Read access is all a lock needs; every sharing mode is allowed, so
    // that the file can still be read, and replaced (ReplaceFileW renames
    // over it) while it is open here.
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return fail(lock_failure(GetLastError()), kLockErrorUnopened);
    Identity locked;
    if (GetFileType(file) != FILE_TYPE_DISK || !identity_of(file, locked)) {
      CloseHandle(file);
      return fail(Result::failure("not a regular file"), kLockErrorNotRegular);
    }
    for (;;) {
      OVERLAPPED where = {};
      where.Offset = kRangeLow;
      where.OffsetHigh = kRangeHigh;
      if (LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &where)) {
        break;
      }
      const DWORD error = GetLastError();
      if (error != ERROR_LOCK_VIOLATION && error != ERROR_IO_PENDING) {
        CloseHandle(file);
        return fail(lock_failure(error), kLockErrorFailed);
      }
      if (!told) {
        told = true;
        if (wait.on_held) wait.on_held();
      }
      const Clock::time_point now = Clock::now();
      if (now >= deadline) {
        CloseHandle(file);
        return fail(Result::failure("another process holds the lock"), kLockErrorTimedOut);
      }
      std::this_thread::sleep_for(std::min<Clock::duration>(pause, deadline - now));
      pause = std::min(pause * 2, std::chrono::milliseconds(100));
    }
    // Whoever held the lock may have put a new file in the name's place: the
    // lock counts only while the name still leads to the file locked.
    HANDLE named = CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    Identity now_named;
    const bool same = named != INVALID_HANDLE_VALUE && identity_of(named, now_named) &&
                      now_named == locked;
    if (named != INVALID_HANDLE_VALUE) CloseHandle(named);
    if (same) {
      handle_ = reinterpret_cast<std::intptr_t>(file);
      return Result();
    }
    CloseHandle(file);
    if (attempt >= 3 && Clock::now() >= deadline) {
      return fail(Result::failure("the file keeps being replaced"), kLockErrorTimedOut);
    }
  }
}

void FileLock::release() {
  if (handle_ == kNone) return;
  HANDLE file = reinterpret_cast<HANDLE>(handle_);
  OVERLAPPED where = {};
  where.Offset = kRangeLow;
  where.OffsetHigh = kRangeHigh;
  UnlockFileEx(file, 0, 1, 0, &where);
  CloseHandle(file);
  handle_ = kNone;
}

}  // namespace quorvel
