// Downloading a document over http or https, read whole into memory.
//
// The platform's transport (libcurl on Linux, the URL service on Windows)
// sits behind url_transfer.h; nothing else in the program talks to it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "common/result.h"
#include "platform/os/file_read.h"

namespace quorvel {

// The default time a whole fetch may take, from the connection to the last
// byte, before it is given up.
inline constexpr long kDefaultFetchTimeoutSeconds = 30;

struct FetchOptions {
  long timeout_seconds = kDefaultFetchTimeoutSeconds;  // the whole transfer
  std::size_t max_bytes = kMaxDocumentBytes;           // a larger body is refused
};

// The defaults, overridden by the environment: QUORVEL_FETCH_TIMEOUT
// (seconds) and QUORVEL_FETCH_MAX_BYTES. A value that is not a positive
// whole number is ignored.
FetchOptions fetch_options_from_environment();

// True when `name` is an http: or https: URL (the scheme in any letter case).
bool is_web_url(std::string_view name);

// `name` as messages show it: the user information of a URL, if it has
// any, becomes "***" (http://***@host/...), as mask_passwords (console.h)
// masks it; anything else is shown as it is.
std::string url_for_display(std::string_view name);

// Fetches `url` (http or https), following redirects: the body, or what
// happened in one sentence without a line end ("the server answered with
// HTTP status 404", "cut off after 6 bytes: the document did not arrive
// whole within 3 seconds"). Never throws.
Expected<std::string> fetch_url(const std::string& url, const FetchOptions& options);

}  // namespace quorvel
