// Small DOM routines shared by every writer of a mixer document, and the
// conversion of the platform's 8-bit text into the document's text.
#pragma once

#include <pugixml.hpp>

#include <cstdint>
#include <string>
#include <string_view>

#include "common/status.h"

namespace quorvel {

// The platform's 8-bit text (system code page) as the document's UTF-8 text.
// Any length is accepted.
std::string to_wide_string(std::string_view text);

// Appends a new element named `name` as the last child of `parent`.
// Returns an empty node when the element could not be made.
pugi::xml_node create_element(pugi::xml_node parent, const char* name);

// Sets (or adds, at the end) the attribute `name` to the signed decimal text
// of `value`. An existing attribute keeps its place.
Status set_int_attribute(pugi::xml_node node, const char* name, std::int32_t value);

// Replaces the element's text by the signed decimal text of `value`.
Status set_int_text(pugi::xml_node node, std::int32_t value);

// The element's name text: its first child when that is text, else "".
std::string name_text(pugi::xml_node node);

// Sets the element's text (its first text child, made if missing).
Status set_text(pugi::xml_node node, std::string_view text);

}  // namespace quorvel
