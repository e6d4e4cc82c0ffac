// Parsing a source's bytes into the input document.
#include "docio/load.h"
#include "platform/xml/xml_parse.h"

namespace quorvel {

Result load_from_bytes(InputDocument& document, std::string_view bytes, const std::string& url) {
  begin_load(document, url);
  XmlParseOutcome parsed = parse_xml_document(document.dom, bytes);
  if (parsed.problem != XmlProblem::kNone) {
    fail_load(document, parsed.reason, parsed.position.line, parsed.position.column);
    document.parse_error.no_memory = parsed.problem == XmlProblem::kNoMemory;
    return load_failure(document.parse_error);
  }
  return Result();
}

}  // namespace quorvel
