// Parsing a document's source into the DOM, with every check a document
// must pass to be loaded: the DOM's own parse, one root element with only
// comments and processing instructions around it, and the conforming
// well-formedness check (well_formed.h).
#pragma once

#include <pugixml.hpp>

#include <optional>
#include <string>
#include <string_view>

#include "platform/xml/text_position.h"

namespace quorvel {

enum class XmlProblem {
  kNone,
  kSyntax,     // not well-formed
  kStructure,  // well-formed markup, but not one root element
  kNoMemory,   // not enough memory to parse or check it: nothing is known against it
};

struct XmlParseOutcome {
  XmlProblem problem = XmlProblem::kNone;
  std::string reason;     // a sentence ending with ".\n"
  TextPosition position;  // line 0: the problem has no position
};

// Parses `bytes` (UTF-8, UTF-16 or UTF-32 in either byte order with or
// without a byte order mark, or a declared ISO-8859-1) into `document`. On
// failure the document is left empty and the outcome says why and where,
// in characters of the source. Problems the DOM's parser finds are reported
// as it finds them; the well-formedness check runs on what it lets pass.
XmlParseOutcome parse_xml_document(pugi::xml_document& document, std::string_view bytes);

// The encoding the DOM's parser reads `bytes` in, where it is certain
// before parsing: a byte order mark, UTF-16 recognised by its zero bytes,
// or 8-bit text whose first bytes are not zero (UTF-8: a declared
// ISO-8859-1 is one of the things read_xml_nodes does not take). Nothing
// where only the DOM's parser can tell.
std::optional<pugi::xml_encoding> certain_xml_encoding(std::string_view bytes);

}  // namespace quorvel
