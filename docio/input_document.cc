#include "docio/input_document.h"

#include <utility>

namespace quorvel {

void begin_load(InputDocument& document, const std::string& url) {
  document.ready_state = kReadyStateLoading;
  document.dom.reset();
  document.parse_error = ParseError{};
  document.parse_error.url = url;
}

void fail_load(InputDocument& document, std::int32_t code, std::string reason,
               std::int32_t line, std::int32_t column) {
  document.dom.reset();
  document.parse_error.errorCode = code;
  document.parse_error.reason = std::move(reason);
  document.parse_error.line = line;
  document.parse_error.linepos = column;
  document.ready_state = kReadyStateComplete;
}

}  // namespace quorvel
