#include "docio/source.h"

#include <cerrno>
#include <cstdint>
#include <fstream>
#include <system_error>

#include "docio/load.h"
#include "platform/os/url_fetch.h"

namespace quorvel {

Result fetch_source(const std::string& url, std::string& bytes) {
  Result fetched = fetch_url(url, fetch_options_from_environment(), bytes);
  if (fetched) return fetched;
  return Result::failure("Cannot download \"" + url + "\": " + fetched.message() + ".\n",
                         fetched.code());
}

Result read_file_source(const std::filesystem::path& path, const std::string& shown,
                        std::string& bytes) {
  bytes.clear();
  auto fail = [&](std::int32_t code, const std::string& why) {
    bytes.clear();
    return Result::failure("Cannot read \"" + shown + "\": " + why + ".\n", code);
  };
  std::error_code error;
  std::filesystem::file_status status = std::filesystem::status(path, error);
  if (error) return fail(kLoadErrorUnreadable, error.message());
  if (std::filesystem::is_directory(status)) {
    return fail(kLoadErrorUnreadable, std::make_error_code(std::errc::is_a_directory).message());
  }
  if (std::filesystem::is_regular_file(status)) {
    std::uintmax_t size = std::filesystem::file_size(path, error);
    if (!error && size > kMaxDocumentBytes) {
      return fail(kLoadErrorTooLarge,
                  "the file is larger than " + std::to_string(kMaxDocumentBytes) + " bytes");
    }
  }
  errno = 0;
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    int code = errno != 0 ? errno : EIO;
    return fail(kLoadErrorUnreadable, std::error_code(code, std::generic_category()).message());
  }
  // Read in pieces up to one byte past the bound, so that a file that grows,
  // or one whose size is not known in advance, is still refused.
  char buffer[65536];
  while (in) {
    in.read(buffer, sizeof buffer);
    std::size_t got = static_cast<std::size_t>(in.gcount());
    if (got > kMaxDocumentBytes - bytes.size()) {
      return fail(kLoadErrorTooLarge,
                  "the file is larger than " + std::to_string(kMaxDocumentBytes) + " bytes");
    }
    bytes.append(buffer, got);
  }
  if (in.bad()) {
    return fail(kLoadErrorUnreadable, std::make_error_code(std::errc::io_error).message());
  }
  return Result();
}

// The URL and plain paths: a web URL is fetched, anything else is a file
// path as the file system resolves it.

Result read_named_source(const std::string& name, std::string& bytes) {
  if (is_web_url(name)) return fetch_source(name, bytes);
  std::u8string utf8_name(name.begin(), name.end());
  return read_file_source(std::filesystem::path(utf8_name), name, bytes);
}

}  // namespace quorvel
