// Parsing a source's bytes into the input document.
#include "docio/load.h"
#include "platform/xml/xml_parse.h"

namespace quorvel {

Result load_from_bytes(InputDocument& document, std::string_view bytes, const std::string& url) {
  begin_load(document, url);
  XmlParseOutcome parsed = parse_xml_document(document.dom, bytes);
  if (parsed.problem != XmlProblem::kNone) {
    const std::int32_t code = parsed.problem == XmlProblem::kStructure  ? kLoadErrorStructure
                              : parsed.problem == XmlProblem::kNoMemory ? kLoadErrorTooLarge
                                                                        : kLoadErrorSyntax;
    fail_load(document, code, parsed.reason, parsed.position.line, parsed.position.column);
    return Result::failure(document.parse_error.reason, code);
  }
  document.ready_state = kReadyStateComplete;
  return Result();
}

}  // namespace quorvel
