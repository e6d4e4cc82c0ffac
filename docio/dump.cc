#include "docio/dump.h"

#include <ostream>
#include <string>

#include "platform/os/console.h"
#include "platform/os/text_encoding.h"

namespace quorvel {

void dump_tree(DocNode start, std::ostream& out) {
  std::string line;
  DocNode node = start;
  while (node) {
    line.clear();
    const std::uint32_t count = node.attribute_count();
    for (std::uint32_t i = 0; i < count; ++i) {
      // Values are shown, never obeyed: control characters come out escaped.
      line += printable(node.attribute_at(i).value());
      line += '\'';
    }
    line += '\n';
    out << utf8_to_console(line);

    if (const DocNode child = node.first_child()) {
      node = child;
      continue;
    }
    // Climb until a node with a next sibling, never past the start.
    while (node != start && !node.next_sibling()) node = node.parent();
    if (node == start) break;
    node = node.next_sibling();
  }
  out.flush();
}

}  // namespace quorvel
