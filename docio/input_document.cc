#include "docio/input_document.h"

#include <utility>

namespace quorvel {

void begin_load(InputDocument& document, const std::string& url) {
  document.document.reset();
  document.url = url;
  document.verdict = Result();
}

void fail_load(InputDocument& document, Error error) {
  document.document.reset();
  document.verdict = Result(std::move(error));
}

std::string reported_reason(const InputDocument& document) {
  if (document.verdict) return {};
  return document.verdict.message() + "\n";
}

}  // namespace quorvel
