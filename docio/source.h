// Reading a document's source whole: a local file, or an http/https URL.
#pragma once

#include <filesystem>
#include <string>

#include "common/result.h"

namespace quorvel {

// The bytes of the file at `path`; `shown` is how a failure names it
// (UTF-8). A failure says why in one sentence, the way the loader reports
// it.
Expected<std::string> read_file_source(const std::filesystem::path& path,
                                       const std::string& shown);

// The body of a web URL, failing as read_file_source does.
Expected<std::string> fetch_source(const std::string& url);

// The source named on the URL and plain paths: a web URL is fetched,
// anything else is a file path (UTF-8) as the file system resolves it.
Expected<std::string> read_named_source(const std::string& name);

}  // namespace quorvel
