#include "platform/os/windows_error.h"

#include <cstdio>

namespace quorvel {

std::string windows_error_text(DWORD code) {
  wchar_t* buffer = nullptr;
  DWORD units = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  std::string text;
  if (units > 0 && buffer != nullptr) {
    while (units > 0 && (buffer[units - 1] == L'\n' || buffer[units - 1] == L'\r' ||
                         buffer[units - 1] == L' ' || buffer[units - 1] == L'.')) {
      --units;
    }
    int bytes = WideCharToMultiByte(CP_UTF8, 0, buffer, static_cast<int>(units), nullptr, 0,
                                    nullptr, nullptr);
    if (bytes > 0) {
      text.resize(static_cast<std::size_t>(bytes));
      WideCharToMultiByte(CP_UTF8, 0, buffer, static_cast<int>(units), text.data(), bytes,
                          nullptr, nullptr);
    }
  }
  if (buffer != nullptr) LocalFree(buffer);
  if (text.empty()) {
    char hex[16];
    std::snprintf(hex, sizeof hex, "0x%08lX", static_cast<unsigned long>(code));
    text = std::string("error ") + hex;
  }
  return text;
}

std::string utf8_path(const std::filesystem::path& path) {
  std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

}  // namespace quorvel
