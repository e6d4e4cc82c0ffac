#include "docio/input_document.h"

#include <utility>

namespace quorvel {

void begin_load(InputDocument& document, const std::string& url) {
  document.document.reset();
  document.parse_error = ParseError{};
  document.parse_error.url = url;
}

void fail_load(InputDocument& document, std::string reason, std::int32_t line,
               std::int32_t column) {
  document.document.reset();
  document.parse_error.failed = true;
  document.parse_error.reason = std::move(reason);
  document.parse_error.line = line;
  document.parse_error.linepos = column;
}

Result load_failure(const ParseError& error) {
  std::string message = error.reason;
  if (!message.empty() && message.back() == '\n') message.pop_back();
  return Result::failure(std::move(message));
}

}  // namespace quorvel
