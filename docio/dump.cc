#include "docio/dump.h"

#include <iostream>
#include <string>

#include "platform/os/console.h"
#include "platform/os/text_encoding.h"

namespace quorvel {

void dump_tree(pugi::xml_node start) {
  std::string line;
  pugi::xml_node node = start;
  while (node) {
    line.clear();
    for (pugi::xml_attribute attribute : node.attributes()) {
      // Values are shown, never obeyed: control characters come out escaped.
      line += printable(attribute.value());
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
