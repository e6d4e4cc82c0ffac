#include "platform/os/file_read.h"

#include <cerrno>
#include <fstream>
#include <new>
#include <system_error>

namespace quorvel {

std::uint64_t file_read_bound(FileUse use, bool regular) {
  if (!regular) return kMaxDocumentBytes;
  return use == FileUse::kDeviceFile ? kMaxDeviceFileBytes : kMaxDocumentBytes;
}

Result read_file_whole(const std::filesystem::path& path, FileUse use, std::string& bytes) {
  bytes.clear();
  auto fail = [&](std::int32_t code, const std::string& why) {
    bytes.clear();
    bytes.shrink_to_fit();
    return Result::failure(why, code);
  };
  auto too_large = [&](std::uint64_t bound) {
    return fail(kReadErrorTooLarge, "the file is larger than " + std::to_string(bound) + " bytes");
  };
  std::error_code error;
  std::filesystem::file_status status = std::filesystem::status(path, error);
  if (error) return fail(kReadErrorUnreadable, error.message());
  if (std::filesystem::is_directory(status)) {
    return fail(kReadErrorUnreadable, std::make_error_code(std::errc::is_a_directory).message());
  }
  const bool regular = std::filesystem::is_regular_file(status);
  const std::uint64_t bound = file_read_bound(use, regular);
  std::uintmax_t size = 0;
  if (regular) {
    size = std::filesystem::file_size(path, error);
    if (!error && size > bound) return too_large(bound);
  }
  errno = 0;
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    int code = errno != 0 ? errno : EIO;
    return fail(kReadErrorUnreadable, std::error_code(code, std::generic_category()).message());
  }
  try {
    if (regular && !error) bytes.reserve(static_cast<std::size_t>(size));
    // Read in pieces up to one byte past the bound, so that a file that
    // grows, or one whose size is not known in advance, is still refused.
    char buffer[65536];
    while (in) {
      in.read(buffer, sizeof buffer);
      std::size_t got = static_cast<std::size_t>(in.gcount());
      if (got > bound - bytes.size()) return too_large(bound);
      bytes.append(buffer, got);
    }
  } catch (const std::bad_alloc&) {
    return fail(kReadErrorTooLarge, "not enough memory to read the file");
  }
  if (in.bad()) {
    return fail(kReadErrorUnreadable, std::make_error_code(std::errc::io_error).message());
  }
  return Result();
}

}  // namespace quorvel
