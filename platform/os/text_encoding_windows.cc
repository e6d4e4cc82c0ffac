// Windows: the system code page (CP_ACP) and the console's output code page,
// converted through UTF-16.
#include <windows.h>

#include <io.h>

#include <climits>
#include <cstdio>

#include "platform/os/text_encoding.h"

namespace quorvel {
namespace {

std::wstring to_utf16(std::string_view text, UINT code_page) {
  if (text.empty() || text.size() > static_cast<std::size_t>(INT_MAX)) return std::wstring();
  const int length = static_cast<int>(text.size());
  int units = MultiByteToWideChar(code_page, 0, text.data(), length, nullptr, 0);
  if (units <= 0) return std::wstring();
  std::wstring wide(static_cast<std::size_t>(units), L'\0');
  MultiByteToWideChar(code_page, 0, text.data(), length, wide.data(), units);
  return wide;
}

std::string from_utf16(const std::wstring& wide, UINT code_page) {
  if (wide.empty() || wide.size() > static_cast<std::size_t>(INT_MAX)) return std::string();
  const int length = static_cast<int>(wide.size());
  int bytes = WideCharToMultiByte(code_page, 0, wide.data(), length, nullptr, 0, nullptr, nullptr);
  if (bytes <= 0) return std::string();
  std::string text(static_cast<std::size_t>(bytes), '\0');
  WideCharToMultiByte(code_page, 0, wide.data(), length, text.data(), bytes, nullptr, nullptr);
  return text;
}

// A conversion between two code pages; text that is the same in both (no
// byte above 127 and both pages ASCII-compatible) is copied as it is.
std::string convert(std::string_view text, UINT from, UINT to) {
  if (from == to) return std::string(text);
  bool ascii = true;
  for (char c : text) {
    if (static_cast<unsigned char>(c) >= 0x80) {
      ascii = false;
      break;
    }
  }
  if (ascii) return std::string(text);
  return from_utf16(to_utf16(text, from), to);
}

}  // namespace

std::string system_to_utf8(std::string_view text) { return convert(text, CP_ACP, CP_UTF8); }

std::string utf8_to_system(std::string_view text) { return convert(text, CP_UTF8, CP_ACP); }

std::string utf8_to_console(std::string_view text) {
  // A process without a console has no output code page: its output goes to
  // a file or a pipe, which Windows programs write in the system code page.
  UINT code_page = GetConsoleOutputCP();
  if (code_page == 0) code_page = GetACP();
  return convert(text, CP_UTF8, code_page);
}

bool error_stream_is_terminal() { return _isatty(_fileno(stderr)) != 0; }

}  // namespace quorvel
