// POSIX only: a small tmpfs mounted for a test, where the test may mount.
#pragma once

#include <sys/mount.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>

#include "support/test_util.h"

namespace quorvel::testing {

// A tmpfs of `bytes` mounted on a fresh folder; tests that need one skip
// when this process may not mount.
class SmallTmpfs {
 public:
  explicit SmallTmpfs(std::size_t bytes) {
    if (::geteuid() != 0) {
      why_not_ = "mounting a file system needs root";
      return;
    }
    const std::string options = "size=" + std::to_string(bytes);
    if (::mount("tmpfs", dir_.path().c_str(), "tmpfs", 0, options.c_str()) != 0) {
      why_not_ = std::string("this process may not mount a tmpfs: ") + std::strerror(errno);
      return;
    }
    mounted_ = true;
  }
  ~SmallTmpfs() {
    if (mounted_) ::umount2(dir_.path().c_str(), MNT_DETACH);
  }
  bool mounted() const { return mounted_; }
  const std::string& why_not() const { return why_not_; }
  const std::filesystem::path& path() const { return dir_.path(); }
  bool make_read_only() {
    return ::mount(nullptr, dir_.path().c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr) == 0;
  }

 private:
  TempDir dir_;
  bool mounted_ = false;
  std::string why_not_;
};

}  // namespace quorvel::testing
