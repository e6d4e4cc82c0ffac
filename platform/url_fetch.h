// Downloading a document over http or https, read whole into memory.
//
// The platform back-end (libcurl on Linux) lives in url_fetch_<platform>.cc;
// nothing else in the program talks to the transport directly.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace quorvel {

// The largest document the program reads, from a file or over the network.
inline constexpr std::size_t kMaxDocumentBytes = std::size_t{64} * 1024 * 1024;

// The default time a fetch may spend connecting, or waiting for the next
// byte of an answer, before it gives up.
inline constexpr long kDefaultFetchTimeoutSeconds = 30;

struct FetchOptions {
  long timeout_seconds = kDefaultFetchTimeoutSeconds;  // connect, and a stalled answer
  std::size_t max_bytes = kMaxDocumentBytes;           // a larger body is refused
};

// The defaults, overridden by the environment: QUORVEL_FETCH_TIMEOUT
// (seconds) and QUORVEL_FETCH_MAX_BYTES. A value that is not a positive
// whole number is ignored.
FetchOptions fetch_options_from_environment();

// True when `name` is an http: or https: URL (the scheme in any letter case).
bool is_web_url(std::string_view name);

enum class FetchFailure {
  kNone,
  kConnect,     // the server could not be reached
  kTimeout,     // no connection, or no data, within the timeout
  kTooLarge,    // the body is larger than max_bytes
  kHttpStatus,  // the server answered with a status of 400 or more
  kOther,       // any other failure; `detail` says what
};

struct FetchResult {
  FetchFailure failure = FetchFailure::kNone;
  long http_status = 0;  // the last status the server sent, 0 if none
  std::string body;      // the whole body; empty on failure
  std::string detail;    // the transport's description of a failure
};

// Fetches `url` (http or https), following redirects. Never throws.
FetchResult fetch_url(const std::string& url, const FetchOptions& options);

}  // namespace quorvel
