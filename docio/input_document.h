// The input document: the document a mixer document is loaded into, with
// the parse error that a load leaves behind.
#pragma once

#include <cstdint>
#include <string>

#include "common/result.h"
#include "platform/document/document_model.h"

namespace quorvel {

struct ParseError {
  bool failed = false;         // the last load failed
  std::int32_t line = 0;       // 1-based; 0 when the error has no position
  std::int32_t linepos = 0;    // 1-based, in characters of the source
  std::string url;             // the source as it was named (a URL without user information)
  std::string reason;          // a short sentence ending with "\n", as it is reported
  bool no_memory = false;      // the parse failed for lack of memory, not for the source
  bool unread = false;         // the source itself could not be read
};

struct InputDocument {
  Document document;
  ParseError parse_error;
};

// Starts a load from the source named `url`: the document empties and its
// parse error clears.
void begin_load(InputDocument& document, const std::string& url);

// Ends a load as failed: the document stays empty, its parse error holding
// `reason` (ending with "\n") and the position (line 0: none).
void fail_load(InputDocument& document, std::string reason, std::int32_t line = 0,
               std::int32_t column = 0);

// The failure a failed load gives: its reason, without the line end.
Result load_failure(const ParseError& error);

}  // namespace quorvel
