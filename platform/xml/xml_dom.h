// The XML DOM as the program uses it, on pugixml: parsing with the options
// that keep a mixer document's prolog, the selection patterns compiled once,
// and serialisation in the saved-file format (UTF-16 LE with a byte order
// mark).
//
// pugixml facts the rest of the program relies on:
//  - Whitespace-only text is dropped when parsing, so the name text of an
//    element is its first child and the first `value` its second.
//  - remove_child frees the removed subtree at once: never touch a handle to
//    a removed node or to anything below it.
//  - No DTD is processed and no custom entity is expanded.
#pragma once

#include <pugixml.hpp>

#include <string>
#include <string_view>
#include <vector>

#include "common/result.h"

namespace quorvel {

// The document as written: the declaration, comments, processing
// instructions and the document type declaration are kept as nodes.
inline constexpr unsigned kParseOptions = pugi::parse_default | pugi::parse_declaration |
                                          pugi::parse_comments | pugi::parse_pi |
                                          pugi::parse_doctype;

// Replaces the document's content by the parsed UTF-8 `text`. A document
// that fails to parse is left empty and the failure says why.
Result load_xml(pugi::xml_document& document, std::string_view text);

// The selection patterns of a mixer document.
enum class Pattern {
  kRoot,                     // "/audio_mixer", on the document
  kDestinations,             // every destination of the root, on the document
  kSources,                  // the source children, on a destination
  kLineControls,             // the line_control children, on a source
  kDestinationLineControls,  // every destination-level control, on the document
  kMuxItems,                 // the items of a control's mux_list
  kMixerItems,               // the items of a control's mixer_list
  kDestinationChildren,      // bare name "destination", on an element
  kSourceChildren,           // bare name "source", on an element
  kLineControlChildren,      // bare name "line_control", on an element
};

// Nodes selected by `pattern` on `context`, in document order.
std::vector<pugi::xml_node> select_nodes(pugi::xml_node context, Pattern pattern);

// The document serialised as a saved mixer document: UTF-16 LE with a byte
// order mark, indented with tabs.
std::string serialize_document(const pugi::xml_document& document);

}  // namespace quorvel
