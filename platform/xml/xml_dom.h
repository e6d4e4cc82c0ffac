// The XML DOM as the program uses it, on pugixml: parsing with the options
// that keep a mixer document's prolog, walking an element's children, and
// serialisation in the saved-file format (UTF-16 LE with a byte order
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

// The element's name text: its first child when that is text, else "".
std::string name_text(pugi::xml_node node);

// Appends to `found` the element children of `parent` named `name`, in
// document order (what the pattern "name", or "self::node()[name]/name",
// selects on `parent`). Children of other kinds are passed over, even a
// processing instruction whose target is `name`.
void append_child_elements(pugi::xml_node parent, const char* name,
                           std::vector<pugi::xml_node>& found);

// The element children of `parent` named `name`, as above.
std::vector<pugi::xml_node> child_elements(pugi::xml_node parent, const char* name);

// The document serialised as a saved mixer document: UTF-16 LE with a byte
// order mark, indented with tabs.
std::string serialize_document(const pugi::xml_document& document);

}  // namespace quorvel
