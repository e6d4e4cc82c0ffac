// Saving a mixer document.
#pragma once

#include <pugixml.hpp>

#include <filesystem>
#include <string>

#include "common/result.h"

namespace quorvel {

// Writes the document to `path` in the saved-file format (UTF-16 with a
// byte order mark), through a temporary file, so an existing file is
// replaced whole or not at all. A failure says why.
Result write_document(const pugi::xml_document& document, const std::filesystem::path& path);

// Writes the document to `file_name` (UTF-8; relative names are in the
// current folder) as write_document does, and writes
// "audio XML file saved OK." on success.
Result save_document(const pugi::xml_document& document, const std::string& file_name);

}  // namespace quorvel
