// Saving a mixer document and printing a document tree.
#pragma once

#include <pugixml.hpp>

#include <filesystem>
#include <string>

#include "common/status.h"

namespace quorvel {

// Writes the document to `path` in the saved-file format, through a
// temporary file; false with `error` set when it could not be written.
bool write_document(const pugi::xml_document& document, const std::filesystem::path& path,
                    std::string& error);

// Writes the document to `file_name` (relative names are in the current
// folder) as UTF-16 with a byte order mark, through a temporary file, so an
// existing file is replaced whole or not at all. Writes
// "audio XML file saved OK." on success. Returns kOk or a failure.
Status save_document(const pugi::xml_document& document, const std::string& file_name);

// Prints one line per node of the tree below and including `node`, in
// document order: the node's attribute values, each followed by an
// apostrophe. Walks without recursion, so any depth is fine.
void dump_tree(pugi::xml_node node);

}  // namespace quorvel
