// The input document: the document a mixer document is loaded into, with
// the verdict that its last load leaves behind.
#pragma once

#include <string>

#include "common/result.h"
#include "platform/document/document_model.h"

namespace quorvel {

// The kind of a load's failure when its source could not be read at all;
// a parse's failures have the kinds of xml_read.h (kXmlSyntax, ...).
inline constexpr int kLoadUnread = 16;

struct InputDocument {
  Document document;
  std::string url;  // the source as it was named (a URL without user information)
  // The last load's: a failure says why (one sentence, ending with ".") and
  // where in the source (line and column from 1; line 0: nowhere).
  Result verdict;
};

// Starts a load from the source named `url`: the document empties and its
// verdict is success.
void begin_load(InputDocument& document, const std::string& url);

// Ends a load as failed with `error`: the document stays empty.
void fail_load(InputDocument& document, Error error);

// The reason a failed load reports, as the load reports it (with its line
// end); empty after a load that did not fail.
std::string reported_reason(const InputDocument& document);

}  // namespace quorvel
