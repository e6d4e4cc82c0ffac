#include "docio/save.h"

#include <filesystem>
#include <iostream>

#include "platform/file_replace.h"
#include "platform/text_encoding.h"
#include "platform/xml_dom.h"

namespace quorvel {

bool write_document(const pugi::xml_document& document, const std::filesystem::path& path,
                    std::string& error) {
  return write_file_atomically(path, serialize_document(document), error);
}

Status save_document(const pugi::xml_document& document, const std::string& file_name) {
  if (file_name.empty()) return kFail;
  std::string error;
  std::filesystem::path path = path_from_utf8(file_name);
  if (!write_document(document, path, error)) return kFail;
  std::cerr << "audio XML file saved OK.";
  return kOk;
}

void dump_tree(pugi::xml_node start) {
  std::string line;
  pugi::xml_node node = start;
  while (node) {
    line.clear();
    for (pugi::xml_attribute attribute : node.attributes()) {
      line += attribute.value();
      line += '\'';
    }
    line += '\n';
    std::cout << utf8_to_console(line);

    if (pugi::xml_node child = node.first_child()) {
      node = child;
      continue;
    }
    // Climb until a node with a next sibling, never past the start.
    while (node != start && !node.next_sibling()) node = node.parent();
    if (node == start) break;
    node = node.next_sibling();
  }
  std::cout.flush();
}

}  // namespace quorvel
