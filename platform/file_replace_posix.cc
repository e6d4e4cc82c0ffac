#include <cstdio>
#include <cstring>
#include <cerrno>

#include "platform/file_replace.h"

namespace quorvel {

bool replace_file(const std::filesystem::path& source, const std::filesystem::path& target,
                  std::string& error) {
  if (std::rename(source.c_str(), target.c_str()) != 0) {
    error = "cannot replace " + target.string() + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

}  // namespace quorvel
