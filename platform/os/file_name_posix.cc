#include "platform/os/file_name.h"

namespace quorvel {

std::string safe_file_name(std::string_view name) {
  std::string safe(name);
  for (char& c : safe) {
    if (c == '/' || c == '\0') c = '_';
  }
  // "." and ".." name folders.
  if (safe == "." || safe == "..") safe.replace(0, safe.size(), safe.size(), '_');
  return safe;
}

}  // namespace quorvel
