// Windows: the new content goes to a file with a short temporary name in the
// target's folder, is flushed with FlushFileBuffers, and takes the target's
// place in one step: ReplaceFileW over an existing file, which keeps the
// old file's security descriptor, attributes and creation time, else
// MoveFileExW. A symbolic link is followed to its final file. Long paths
// take the "\\?\" form, so that a target whose name fits also has a
// temporary name that fits. A process killed while writing leaves its
// temporary file (Windows has no unnamed files).
#include <windows.h>

#include <atomic>
#include <string>

#include "platform/os/file_replace.h"
#include "platform/os/windows_error.h"

namespace quorvel {
namespace {

Result windows_failure(DWORD code) { return Result::failure(windows_error_text(code)); }

class Handle {
 public:
  explicit Handle(HANDLE handle = INVALID_HANDLE_VALUE) : handle_(handle) {}
  ~Handle() { reset(); }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  HANDLE get() const { return handle_; }
  bool valid() const { return handle_ != INVALID_HANDLE_VALUE; }
  void reset(HANDLE handle = INVALID_HANDLE_VALUE) {
    if (valid()) CloseHandle(handle_);
    handle_ = handle;
  }

 private:
  HANDLE handle_;
};

// The full path of `target`, as the form that allows any length when it is
// long; the final file's path when `target` exists (links followed).
std::wstring final_path(const std::filesystem::path& target, bool& exists, bool& folder) {
  exists = false;
  folder = false;
  const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
  Handle existing(CreateFileW(target.c_str(), 0, share, nullptr, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (existing.valid()) {
    exists = true;
    BY_HANDLE_FILE_INFORMATION info;
    if (GetFileInformationByHandle(existing.get(), &info)) {
      folder = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    }
    std::wstring path(1024, L'\0');
    DWORD length = GetFinalPathNameByHandleW(existing.get(), path.data(),
                                             static_cast<DWORD>(path.size()), FILE_NAME_NORMALIZED);
    if (length > path.size()) {
      path.resize(length);
      length = GetFinalPathNameByHandleW(existing.get(), path.data(),
                                         static_cast<DWORD>(path.size()), FILE_NAME_NORMALIZED);
    }
    if (length > 0 && length < path.size()) {
      path.resize(length);
      return path;
    }
  }
  std::wstring full(32768, L'\0');
  DWORD length = GetFullPathNameW(target.c_str(), static_cast<DWORD>(full.size()), full.data(),
                                  nullptr);
  if (length == 0 || length >= full.size()) return target.wstring();
  full.resize(length);
  if (full.size() + 24 < MAX_PATH || full.rfind(L"\\\\?\\", 0) == 0) return full;
  if (full.rfind(L"\\\\", 0) == 0) return L"\\\\?\\UNC\\" + full.substr(2);
  return L"\\\\?\\" + full;
}

std::wstring temporary_name() {
  static std::atomic<unsigned> counter{0};
  wchar_t name[32];
  swprintf(name, 32, L"~qv%05lx%03x.tmp", GetCurrentProcessId() & 0xFFFFF, counter++ & 0xFFF);
  return name;
}

}  // namespace

Result write_file_atomically(const std::filesystem::path& target, std::string_view bytes,
                             Staging) {
  bool exists = false;
  bool folder = false;
  const std::wstring path = final_path(target, exists, folder);
  // What Windows itself says when a file is to take a folder's place.
  if (folder) return windows_failure(ERROR_ACCESS_DENIED);
  const std::size_t separator = path.find_last_of(L"\\/");
  const std::wstring folder_path =
      separator == std::wstring::npos ? std::wstring() : path.substr(0, separator + 1);

  std::wstring temporary;
  Handle file;
  for (int attempt = 0; attempt < 100 && !file.valid(); ++attempt) {
    temporary = folder_path + temporary_name();
    file.reset(CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid() && GetLastError() != ERROR_FILE_EXISTS) break;
  }
  if (!file.valid()) return windows_failure(GetLastError());

  auto discard = [&](DWORD code) {
    file.reset();
    DeleteFileW(temporary.c_str());
    return windows_failure(code);
  };
  const char* at = bytes.data();
  std::size_t left = bytes.size();
  while (left > 0) {
    DWORD chunk = left > (1u << 30) ? (1u << 30) : static_cast<DWORD>(left);
    DWORD written = 0;
    if (!WriteFile(file.get(), at, chunk, &written, nullptr)) return discard(GetLastError());
    if (written == 0) return discard(ERROR_DISK_FULL);
    at += written;
    left -= written;
  }
  if (!FlushFileBuffers(file.get())) return discard(GetLastError());
  file.reset();

  if (exists) {
    if (ReplaceFileW(path.c_str(), temporary.c_str(), nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS,
                     nullptr, nullptr)) {
      return Result();
    }
    const DWORD code = GetLastError();
    // The old file went out of the target's name (deleted, or moved aside
    // under a name of the system's choosing), but the new one kept its
    // temporary name: finish with a plain move, so the target name is never
    // left empty. Any other failure left the old file in place.
    if (code != ERROR_UNABLE_TO_MOVE_REPLACEMENT && code != ERROR_UNABLE_TO_MOVE_REPLACEMENT_2) {
      return discard(code);
    }
  }
  if (!MoveFileExW(temporary.c_str(), path.c_str(),
                   MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    return discard(GetLastError());
  }
  return Result();
}

}  // namespace quorvel
