#include "platform/file_replace.h"

#include <atomic>
#include <chrono>
#include <fstream>
#include <system_error>

namespace quorvel {
namespace {

std::filesystem::path temporary_name_for(const std::filesystem::path& target) {
  static std::atomic<unsigned> counter{0};
  auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
  std::filesystem::path name = target;
  name += ".tmp" + std::to_string(stamp) + "-" + std::to_string(counter++);
  return name;
}

}  // namespace

bool write_file_atomically(const std::filesystem::path& target, std::string_view bytes,
                           std::string& error) {
  std::filesystem::path temporary = temporary_name_for(target);
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    if (!out) {
      error = "cannot create " + temporary.string();
      return false;
    }
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.flush();
    if (!out) {
      out.close();
      std::error_code ignored;
      std::filesystem::remove(temporary, ignored);
      error = "cannot write " + temporary.string();
      return false;
    }
  }
  if (!replace_file(temporary, target, error)) {
    std::error_code ignored;
    std::filesystem::remove(temporary, ignored);
    return false;
  }
  return true;
}

}  // namespace quorvel
