#include "platform/os/file_read.h"

#include <cerrno>
#include <fstream>
#include <limits>
#include <new>
#include <system_error>

namespace quorvel {

std::uint64_t file_read_bound(bool regular) {
  return regular ? std::numeric_limits<std::uint64_t>::max() : kMaxDocumentBytes;
}

Expected<std::string> read_file_whole(const std::filesystem::path& path) {
  using Read = Expected<std::string>;
  std::string bytes;
  auto fail = [](const std::string& why) { return Read::failure(why); };
  auto too_large = [&](std::uint64_t bound) {
    return fail("the file is larger than " + std::to_string(bound) + " bytes");
  };
  std::error_code error;
  std::filesystem::file_status status = std::filesystem::status(path, error);
  if (error) return fail(error.message());
  if (std::filesystem::is_directory(status)) {
    return fail(std::make_error_code(std::errc::is_a_directory).message());
  }
  const bool regular = std::filesystem::is_regular_file(status);
  const std::uint64_t bound = file_read_bound(regular);
  std::uintmax_t size = 0;
  if (regular) {
    size = std::filesystem::file_size(path, error);
    if (error) size = 0;
  }
  errno = 0;
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    int code = errno != 0 ? errno : EIO;
    return fail(std::error_code(code, std::generic_category()).message());
  }
  try {
    if (size > 0) {
      if (size > bytes.max_size()) return fail("not enough memory to read the file");
      // One read of the whole size: a request larger than the stream's
      // buffer goes straight to the system into the string.
      bytes.resize(static_cast<std::size_t>(size));
      bytes.resize(static_cast<std::size_t>(in.rdbuf()->sgetn(bytes.data(), bytes.size())));
    }
    // What a file without a known size holds, or what a regular file grew
    // by: in pieces, up to one byte past the bound, so that a device or a
    // FIFO that sends more is refused.
    char buffer[65536];
    for (;;) {
      const std::streamsize got = in.rdbuf()->sgetn(buffer, sizeof buffer);
      if (got <= 0) break;
      if (static_cast<std::uint64_t>(got) > bound - bytes.size()) return too_large(bound);
      bytes.append(buffer, static_cast<std::size_t>(got));
    }
  } catch (const std::bad_alloc&) {
    return fail("not enough memory to read the file");
  } catch (const std::ios_base::failure&) {
    return fail(std::make_error_code(std::errc::io_error).message());
  }
  return bytes;
}

}  // namespace quorvel
