// Printing a document tree.
#pragma once

#include <pugixml.hpp>

namespace quorvel {

// Prints one line per node of the tree below and including `node`, in
// document order: the node's attribute values, each followed by an
// apostrophe. Control characters in values (line ends and tabs included,
// so that a line stays one node) are written as \xNN (see printable).
// Walks without recursion, so any depth is fine.
void dump_tree(pugi::xml_node node);

}  // namespace quorvel
