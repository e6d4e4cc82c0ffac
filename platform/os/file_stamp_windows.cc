#include <windows.h>

#include "platform/os/file_stamp.h"

namespace quorvel {
namespace {

std::uint64_t joined(DWORD high, DWORD low) {
  return (static_cast<std::uint64_t>(high) << 32) | low;
}

// Closes the handle on every way out.
struct Handle {
  HANDLE value;
  ~Handle() {
    if (value != INVALID_HANDLE_VALUE) CloseHandle(value);
  }
};

}  // namespace

std::optional<FileStamp> regular_file_stamp(const std::filesystem::path& path) {
  // Only the attributes are read; every sharing mode is allowed, so that
  // the file may be written, renamed or replaced meanwhile.
  Handle file{CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                          OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr)};
  if (file.value == INVALID_HANDLE_VALUE || GetFileType(file.value) != FILE_TYPE_DISK) {
    return std::nullopt;
  }
  BY_HANDLE_FILE_INFORMATION info;
  FILE_BASIC_INFO times;
  if (!GetFileInformationByHandle(file.value, &info) ||
      (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ||
      !GetFileInformationByHandleEx(file.value, FileBasicInfo, &times, sizeof times)) {
    return std::nullopt;
  }
  FileStamp stamp;
  stamp.device = info.dwVolumeSerialNumber;
  stamp.file = joined(info.nFileIndexHigh, info.nFileIndexLow);
  stamp.size = joined(info.nFileSizeHigh, info.nFileSizeLow);
  stamp.changed = times.ChangeTime.QuadPart;
  stamp.written = times.LastWriteTime.QuadPart;
  return stamp;
}

}  // namespace quorvel
