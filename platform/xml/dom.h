// Small DOM routines shared by every writer and reader of a mixer document.
#pragma once

#include <pugixml.hpp>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "common/result.h"

namespace quorvel {

// Appends a new element named `name` as the last child of `parent`.
// Returns an empty node when the element could not be made.
pugi::xml_node create_element(pugi::xml_node parent, const char* name);

// Sets (or adds, at the end) the attribute `name` to the signed decimal text
// of `value`. An existing attribute keeps its place.
Result set_int_attribute(pugi::xml_node node, const char* name, std::int32_t value);

// Adds the attribute `name` at the end with the signed decimal text of
// `value`, without looking for one of that name first: for an element that
// has none yet, such as one just made, where set_int_attribute would search
// every attribute before adding it.
Result append_int_attribute(pugi::xml_node node, const char* name, std::int32_t value);

// Replaces the element's text by the signed decimal text of `value`.
Result set_int_text(pugi::xml_node node, std::int32_t value);

// The element's name text: its first child when that is text, else "".
std::string name_text(pugi::xml_node node);

// Sets the element's text (its first text child, made if missing).
Result set_text(pugi::xml_node node, std::string_view text);

// Appends to `found` the element children of `parent` named `name`, in
// document order: the nodes that the pattern "name" (or
// "self::node()[name]/name") selects on `parent`, found without an XPath
// query. Children of other kinds are passed over, even a processing
// instruction whose target is `name`.
void append_child_elements(pugi::xml_node parent, const char* name,
                           std::vector<pugi::xml_node>& found);

// The element children of `parent` named `name`, as above.
std::vector<pugi::xml_node> child_elements(pugi::xml_node parent, const char* name);

}  // namespace quorvel
