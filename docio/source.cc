#include "docio/source.h"

#include "docio/load.h"
#include "platform/os/console.h"
#include "platform/os/file_read.h"
#include "platform/os/url_fetch.h"

namespace quorvel {

Result fetch_source(const std::string& url, std::string& bytes) {
  Result fetched = fetch_url(url, fetch_options_from_environment(), bytes);
  if (fetched) return fetched;
  return Result::failure("Cannot download \"" + printable(url_for_display(url)) + "\": " +
                         fetched.message() + ".");
}

Result read_file_source(const std::filesystem::path& path, const std::string& shown,
                        std::string& bytes) {
  Result read = read_file_whole(path, bytes);
  if (read) return read;
  return Result::failure("Cannot read \"" + printable(shown) + "\": " + read.message() + ".");
}

// The URL and plain paths: a web URL is fetched, anything else is a file
// path as the file system resolves it.

Result read_named_source(const std::string& name, std::string& bytes) {
  if (is_web_url(name)) return fetch_source(name, bytes);
  std::u8string utf8_name(name.begin(), name.end());
  return read_file_source(std::filesystem::path(utf8_name), name, bytes);
}

}  // namespace quorvel
