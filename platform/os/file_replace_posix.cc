#include <cstdio>
#include <cstring>
#include <cerrno>

#include "platform/os/file_replace.h"

namespace quorvel {

Result replace_file(const std::filesystem::path& source, const std::filesystem::path& target) {
  if (std::rename(source.c_str(), target.c_str()) != 0) {
    return Result::failure("cannot replace " + target.string() + ": " + std::strerror(errno));
  }
  return Result();
}

}  // namespace quorvel
