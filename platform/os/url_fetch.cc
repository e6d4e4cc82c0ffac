#include "platform/os/url_fetch.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdlib>
#include <limits>
#include <utility>

#include "platform/os/console.h"
#include "platform/os/url_transfer.h"

namespace quorvel {

namespace {

// A positive whole number from the environment variable `name`, or nothing.
template <typename T>
bool positive_from_environment(const char* name, T& value) {
  const char* text = std::getenv(name);
  if (text == nullptr || *text == '\0') return false;
  std::string_view view(text);
  T parsed = 0;
  auto [end, error] = std::from_chars(view.data(), view.data() + view.size(), parsed);
  if (error != std::errc() || end != view.data() + view.size() || parsed <= 0) return false;
  value = parsed;
  return true;
}

bool starts_with_ignoring_case(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(text[i])) != prefix[i]) return false;
  }
  return true;
}

std::string seconds_text(long seconds) {
  return std::to_string(seconds) + (seconds == 1 ? " second" : " seconds");
}

}  // namespace

FetchOptions fetch_options_from_environment() {
  FetchOptions options;
  long timeout = 0;
  if (positive_from_environment("QUORVEL_FETCH_TIMEOUT", timeout)) {
    // A timeout longer than a day is surely a mistake; the transport takes a
    // long, so keep the value well inside its range.
    options.timeout_seconds = timeout > 86400 ? 86400 : timeout;
  }
  unsigned long long max_bytes = 0;
  if (positive_from_environment("QUORVEL_FETCH_MAX_BYTES", max_bytes)) {
    options.max_bytes = max_bytes > std::numeric_limits<std::size_t>::max()
                            ? std::numeric_limits<std::size_t>::max()
                            : static_cast<std::size_t>(max_bytes);
  }
  return options;
}

bool is_web_url(std::string_view name) {
  return starts_with_ignoring_case(name, "http:") || starts_with_ignoring_case(name, "https:");
}

std::string url_for_display(std::string_view name) { return mask_passwords(name); }

Error transfer_failure(FetchFailure failure, const FetchOptions& options, long http_status,
                       std::size_t received, std::string detail) {
  const int kind = static_cast<int>(failure);
  switch (failure) {
    case FetchFailure::kConnect:
      return Error{"could not connect to the server", kind};
    case FetchFailure::kTimeout: {
      // What the deadline found: no answer, an answer of which so many
      // bytes had come, or an answer of which none had come through (or the
      // transport does not say how many: the URL service of Wine).
      const std::string within = " within " + seconds_text(options.timeout_seconds);
      if (received > 0) {
        return Error{"cut off after " + std::to_string(received) +
                         (received == 1 ? " byte" : " bytes") +
                         ": the document did not arrive whole" + within,
                     kind};
      }
      if (http_status != 0) {
        return Error{"the server answered, but the document did not arrive whole" + within, kind};
      }
      return Error{"no answer from the server" + within, kind};
    }
    case FetchFailure::kTooLarge:
      return Error{"the document is larger than " + std::to_string(options.max_bytes) + " bytes",
                   kind};
    case FetchFailure::kHttpStatus:
      return Error{"the server answered with HTTP status " + std::to_string(http_status), kind};
    case FetchFailure::kOther:
      break;
  }
  return Error{std::move(detail), kind};
}

Expected<std::string> fetch_url(const std::string& url, const FetchOptions& options) {
  return transfer_url(url, options);
}

}  // namespace quorvel
