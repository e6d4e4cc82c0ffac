// Windows: the replace is MoveFileExW with MOVEFILE_REPLACE_EXISTING, which
// puts the new file in place of the old one in one step on the same volume.
#include <windows.h>

#include "platform/file_replace.h"
#include "platform/windows_error.h"

namespace quorvel {

bool replace_file(const std::filesystem::path& source, const std::filesystem::path& target,
                  std::string& error) {
  if (!MoveFileExW(source.c_str(), target.c_str(),
                   MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    const DWORD code = GetLastError();
    error = "cannot replace " + utf8_path(target) + ": " + windows_error_text(code);
    return false;
  }
  return true;
}

}  // namespace quorvel
