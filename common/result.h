// The outcome of one of the program's steps: success, or a failure with the
// message that says why. Every step outside the mixer boundary (where the
// mixer service's own result codes are used) returns one.
#pragma once

#include <string>
#include <utility>

namespace quorvel {

class [[nodiscard]] Result {
 public:
  // Success.
  Result() = default;

  // A failure saying why.
  static Result failure(std::string message) { return Result(false, std::move(message)); }

  bool ok() const { return ok_; }
  explicit operator bool() const { return ok(); }
  // Why the step failed: one or more lines without line ends (whoever
  // prints it ends it), empty on success.
  const std::string& message() const { return message_; }

 private:
  Result(bool ok, std::string message) : ok_(ok), message_(std::move(message)) {}

  bool ok_ = true;
  std::string message_;
};

}  // namespace quorvel
