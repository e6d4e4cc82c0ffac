#include <array>
#include <cctype>
#include <cstring>

#include "platform/os/file_name.h"

namespace quorvel {
namespace {

// Names Windows keeps for devices, whatever extension follows them.
bool reserved_stem(std::string_view stem) {
  static constexpr std::array<const char*, 4> kPlain = {"CON", "PRN", "AUX", "NUL"};
  std::string upper;
  for (char c : stem) upper += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  // The stem is what comes before the first dot; trailing blanks do not count.
  while (!upper.empty() && upper.back() == ' ') upper.pop_back();
  for (const char* plain : kPlain) {
    if (upper == plain) return true;
  }
  return upper.size() == 4 && (upper.rfind("COM", 0) == 0 || upper.rfind("LPT", 0) == 0) &&
         upper[3] >= '1' && upper[3] <= '9';
}

}  // namespace

std::string safe_file_name(std::string_view name) {
  std::string safe(name);
  for (char& c : safe) {
    const unsigned char byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || std::strchr("\\/:*?\"<>|", c) != nullptr) c = '_';
  }
  // Windows drops dots and blanks at the end of a name (so "." and ".." go
  // too): they become visible.
  for (std::size_t i = safe.size(); i > 0 && (safe[i - 1] == '.' || safe[i - 1] == ' '); --i) {
    safe[i - 1] = '_';
  }
  const std::size_t dot = safe.find('.');
  if (reserved_stem(std::string_view(safe).substr(0, dot))) {
    safe.insert(dot == std::string::npos ? safe.size() : dot, 1, '_');
  }
  return safe;
}

}  // namespace quorvel
