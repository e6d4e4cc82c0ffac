#include "docio/source.h"

#include "docio/load.h"
#include "platform/os/console.h"
#include "platform/os/file_read.h"
#include "platform/os/url_fetch.h"

namespace quorvel {

Expected<std::string> fetch_source(const std::string& url) {
  Expected<std::string> fetched = fetch_url(url, fetch_options_from_environment());
  if (fetched) return fetched;
  return Expected<std::string>::failure("Cannot download \"" + printable(url_for_display(url)) + "\": " +
                         fetched.message() + ".");
}

Expected<std::string> read_file_source(const std::filesystem::path& path,
                                       const std::string& shown) {
  Expected<std::string> read = read_file_whole(path);
  if (!read) {
    return Expected<std::string>::failure("Cannot read \"" + printable(shown) + "\": " +
                                          read.message() + ".");
  }
  return read;
}

// The URL and plain paths: a web URL is fetched, anything else is a file
// path as the file system resolves it.

Expected<std::string> read_named_source(const std::string& name) {
  if (is_web_url(name)) return fetch_source(name);
  std::u8string utf8_name(name.begin(), name.end());
  return read_file_source(std::filesystem::path(utf8_name), name);
}

}  // namespace quorvel
