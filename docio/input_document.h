// The input document: the DOM document a mixer document is loaded into,
// with the load state and parse error that a load leaves behind.
#pragma once

#include <pugixml.hpp>

#include <cstdint>
#include <string>

namespace quorvel {

struct ParseError {
  std::int32_t errorCode = 0;  // 0: no error
  std::int32_t line = 0;       // 1-based; 0 when the error has no position
  std::int32_t linepos = 0;    // 1-based, in characters of the source
  std::string url;             // the source as it was named (a URL without its password)
  std::string reason;          // a short sentence ending with "\n"
};

inline constexpr int kReadyStateLoading = 1;
inline constexpr int kReadyStateComplete = 4;

struct InputDocument {
  pugi::xml_document dom;
  int ready_state = kReadyStateComplete;
  ParseError parse_error;
};

// Starts a load from the source named `url`: the document empties, its
// parse error clears, and it is loading.
void begin_load(InputDocument& document, const std::string& url);

// Ends a load as failed: the document stays empty and complete, its parse
// error holding `code`, `reason` and the position (line 0: none).
void fail_load(InputDocument& document, std::int32_t code, std::string reason,
               std::int32_t line = 0, std::int32_t column = 0);

}  // namespace quorvel
