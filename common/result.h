// The outcome of one of the program's steps: a value (or, for a step that
// gives none, plain success), or the error that says why not. Every step
// outside the mixer boundary (where the mixer service's own result codes
// are used) returns one, and the caller must look at it.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <variant>

namespace quorvel {

// Why a step failed: its message, one or more lines without line ends
// (whoever prints it ends it), where callers tell failures of one step
// apart its kind (the step's own constants; 0 for none), and for a fault of
// a text (a document's source) where in it: line and column from 1.
struct Error {
  std::string message;
  int kind = 0;
  std::int32_t line = 0;  // 0: no position
  std::int32_t column = 0;
};

// A value of T, or an Error.
template <typename T>
class [[nodiscard]] Expected {
 public:
  // A value.
  Expected(T value) : state_(std::in_place_index<0>, std::move(value)) {}
  // A failure saying why.
  Expected(Error error) : state_(std::in_place_index<1>, std::move(error)) {}
  static Expected failure(std::string message, int kind = 0) {
    return Expected(Error{std::move(message), kind});
  }

  bool ok() const { return state_.index() == 0; }
  explicit operator bool() const { return ok(); }

  // The value; only on success.
  T& value() & { return std::get<0>(state_); }
  const T& value() const& { return std::get<0>(state_); }
  T&& value() && { return std::get<0>(std::move(state_)); }
  T& operator*() & { return value(); }
  const T& operator*() const& { return value(); }
  T* operator->() { return &value(); }
  const T* operator->() const { return &value(); }

  // The error; only on failure.
  const Error& error() const { return std::get<1>(state_); }
  // Why the step failed; empty on success.
  const std::string& message() const {
    static const std::string none;
    return ok() ? none : error().message;
  }
  int kind() const { return ok() ? 0 : error().kind; }

 private:
  std::variant<T, Error> state_;
};

// Success without a value, or an Error.
template <>
class [[nodiscard]] Expected<void> {
 public:
  // Success.
  Expected() = default;
  // A failure saying why.
  Expected(Error error) : ok_(false), error_(std::move(error)) {}
  static Expected failure(std::string message, int kind = 0) {
    return Expected(Error{std::move(message), kind});
  }
  // The failure of another step, whatever value it would have had.
  template <typename T>
  static Expected failure_of(const Expected<T>& other) {
    return Expected(other.error());
  }

  bool ok() const { return ok_; }
  explicit operator bool() const { return ok(); }
  const Error& error() const { return error_; }
  const std::string& message() const { return error_.message; }
  int kind() const { return error_.kind; }

 private:
  bool ok_ = true;
  Error error_;
};

// The result of a step that gives no value.
using Result = Expected<void>;

}  // namespace quorvel
