// Printing a document tree.
#pragma once

#include <ostream>

#include "platform/document/document_model.h"

namespace quorvel {

// Prints to `out` one line per node of the tree below and including `node`, in
// document order: the node's attribute values, each followed by an
// apostrophe (the document node, comments, text and the rest have none:
// an empty line). Control characters in values (line ends and tabs
// included, so that a line stays one node) are written as \xNN (see
// printable). Walks without recursion, so any depth is fine.
void dump_tree(DocNode node, std::ostream& out);

}  // namespace quorvel
