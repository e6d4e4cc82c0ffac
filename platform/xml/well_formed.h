// The well-formedness check: a conforming XML parser (Expat) reads the
// source once more, so that what the DOM's parser lets through (duplicate
// attributes, references to entities that do not exist, a bare "&", "<" in
// an attribute value, characters XML does not allow, text that is not in
// its encoding, an undeclared namespace prefix, an XML declaration that is
// not at the start) is refused.
//
// The check reads nothing but the source: no external entity, no DTD. A
// document that declares entities is refused (the DOM would not expand
// them), so no entity is ever expanded either.
#pragma once

#include <pugixml.hpp>

#include <string>
#include <string_view>

#include "platform/xml/text_position.h"

namespace quorvel {

struct WellFormedness {
  bool well_formed = true;
  std::string reason;     // a sentence ending with ".\n"; empty when well-formed
  TextPosition position;  // of the offending character, in characters of the source
};

// Checks `bytes` as a whole XML document in `encoding` (the encoding the
// DOM's parser read it in; a declaration in the document does not override
// it), with namespaces.
WellFormedness check_well_formed(std::string_view bytes, pugi::xml_encoding encoding);

}  // namespace quorvel
