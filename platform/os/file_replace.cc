#include "platform/os/file_replace.h"

#include <atomic>
#include <chrono>
#include <fstream>
#include <random>
#include <system_error>

namespace quorvel {
namespace {

// A short name in the target's folder, so that a target whose name is as
// long as the file system allows still gets a temporary file beside it.
std::filesystem::path temporary_name_for(const std::filesystem::path& target) {
  static std::atomic<unsigned> counter{0};
  static const unsigned process_tag = std::random_device{}();
  auto stamp = std::chrono::system_clock::now().time_since_epoch().count();
  std::string name = ".quorvel-" + std::to_string(process_tag) + "-" + std::to_string(stamp) +
                     "-" + std::to_string(counter++) + ".tmp";
  return target.parent_path() / name;
}

}  // namespace

Result write_file_atomically(const std::filesystem::path& target, std::string_view bytes) {
  std::filesystem::path temporary = temporary_name_for(target);
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    if (!out) return Result::failure("cannot create " + temporary.string());
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.flush();
    if (!out) {
      out.close();
      std::error_code ignored;
      std::filesystem::remove(temporary, ignored);
      return Result::failure("cannot write " + temporary.string());
    }
  }
  Result replaced = replace_file(temporary, target);
  if (!replaced) {
    std::error_code ignored;
    std::filesystem::remove(temporary, ignored);
  }
  return replaced;
}

}  // namespace quorvel
