// Windows only: the system's description of an error code, as UTF-8.
#pragma once

#include <windows.h>

#include <filesystem>
#include <string>

namespace quorvel {

// The text Windows gives for a Win32 error code (GetLastError) or an
// HRESULT, without its line end; "error 0x...." when it has none.
std::string windows_error_text(DWORD code);

// A path as UTF-8 text, for messages.
std::string utf8_path(const std::filesystem::path& path);

}  // namespace quorvel
