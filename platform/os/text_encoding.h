// Conversions between the program's internal text (UTF-8, as a document
// holds it) and the platform's 8-bit text: mixer names and file names in the
// system code page, and what the console expects.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace quorvel {

// Text in the system code page (mixer names, arguments) to UTF-8, the text
// a document holds; any length. Linux already speaks UTF-8.
std::string system_to_utf8(std::string_view text);

// UTF-8 to the system code page; a character the code page lacks becomes
// the code page's default character. Linux: unchanged.
std::string utf8_to_system(std::string_view text);

// UTF-8 to the encoding the console expects.
std::string utf8_to_console(std::string_view text);

// Whether the standard error stream is a terminal (a console window on
// Windows), where a line may be drawn over and over.
bool error_stream_is_terminal();

// A file path named by UTF-8 text.
inline std::filesystem::path path_from_utf8(std::string_view text) {
  return std::filesystem::path(
      std::u8string(reinterpret_cast<const char8_t*>(text.data()), text.size()));
}

}  // namespace quorvel
