// Reading a document's source whole: a local file, or an http/https URL.
#pragma once

#include <filesystem>
#include <string>

#include "common/result.h"

namespace quorvel {

// Reads the file at `path` into `bytes`; `shown` is how a failure names it
// (UTF-8). A failure says why in one sentence, the way the loader reports
// it.
Result read_file_source(const std::filesystem::path& path, const std::string& shown,
                        std::string& bytes);

// Fetches a web URL into `bytes`, failing as read_file_source does.
Result fetch_source(const std::string& url, std::string& bytes);

// The source named on the URL and plain paths: a web URL is fetched,
// anything else is a file path (UTF-8) as the file system resolves it.
Result read_named_source(const std::string& name, std::string& bytes);

}  // namespace quorvel
