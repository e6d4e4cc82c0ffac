// Windows: the replace is MoveFileExW with MOVEFILE_REPLACE_EXISTING, which
// puts the new file in place of the old one in one step on the same volume.
#include <windows.h>

#include "platform/os/file_replace.h"
#include "platform/os/windows_error.h"

namespace quorvel {

Result replace_file(const std::filesystem::path& source, const std::filesystem::path& target) {
  if (!MoveFileExW(source.c_str(), target.c_str(),
                   MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    const DWORD code = GetLastError();
    return Result::failure("cannot replace " + utf8_path(target) + ": " +
                           windows_error_text(code));
  }
  return Result();
}

}  // namespace quorvel
