#include <windows.h>

#include "platform/os/file_lock.h"
#include "platform/os/windows_error.h"

namespace quorvel {

Result FileLock::acquire(const std::filesystem::path& path) {
  release();
  const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, share, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  // A lock file that exists but may not be written to still locks.
  if (file == INVALID_HANDLE_VALUE && GetLastError() == ERROR_ACCESS_DENIED) {
    file = CreateFileW(path.c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
  }
  if (file == INVALID_HANDLE_VALUE) return Result::failure(windows_error_text(GetLastError()));
  // The first byte's range stands for the whole file; the call waits until
  // no other process holds it.
  OVERLAPPED where = {};
  if (!LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &where)) {
    const DWORD code = GetLastError();
    CloseHandle(file);
    return Result::failure(windows_error_text(code));
  }
  handle_ = reinterpret_cast<std::intptr_t>(file);
  return Result();
}

void FileLock::release() {
  if (handle_ == kNone) return;
  HANDLE file = reinterpret_cast<HANDLE>(handle_);
  OVERLAPPED where = {};
  UnlockFileEx(file, 0, 1, 0, &where);
  CloseHandle(file);
  handle_ = kNone;
}

}  // namespace quorvel
