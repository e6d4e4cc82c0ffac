// The outcome of one of the program's steps: success, or a failure with the
// message that says why. Every step outside the mixer boundary (where the
// mixer service's own result codes are used) returns one.
#pragma once

#include <cstdint>
#include <string>
#include <utility>

namespace quorvel {

class Result {
 public:
  // The code of a failure that has no code of its own (the runtime's E_FAIL).
  static constexpr std::int32_t kFailed = static_cast<std::int32_t>(0x80004005u);

  // Success.
  Result() = default;

  // A failure saying why; `code` is non-zero (loads keep their parse error
  // code here).
  static Result failure(std::string message, std::int32_t code = kFailed) {
    return Result(code == 0 ? kFailed : code, std::move(message));
  }

  bool ok() const { return code_ == 0; }
  explicit operator bool() const { return ok(); }
  // 0 on success, else the failure's code.
  std::int32_t code() const { return code_; }
  // Why the step failed: one or more lines without line ends, empty on
  // success.
  const std::string& message() const { return message_; }

 private:
  Result(std::int32_t code, std::string message) : code_(code), message_(std::move(message)) {}

  std::int32_t code_ = 0;
  std::string message_;
};

}  // namespace quorvel
