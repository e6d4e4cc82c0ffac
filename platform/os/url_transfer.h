// The platform's transport behind fetch_url: one transfer, its body or why
// it failed. Implemented once per platform (url_transfer_posix.cc with
// libcurl, url_transfer_windows.cc with the URL service).
#pragma once

#include <cstddef>
#include <string>

#include "common/result.h"
#include "platform/os/url_fetch.h"

namespace quorvel {

// How a transfer failed: the kind of the Error transfer_url returns (from 1;
// an Error's kind 0 means none).
enum class FetchFailure {
  kConnect = 1,  // the server could not be reached
  kTimeout,      // the whole transfer did not end within the timeout
  kTooLarge,     // the body is larger than max_bytes
  kHttpStatus,   // the server answered with a status of 400 or more
  kOther,        // any other failure; the transport's `detail` says what
};

// The Error of a failed transfer: the user's message for `failure`, which is its kind.
Error transfer_failure(FetchFailure failure, const FetchOptions& options, long http_status,
                       std::size_t received, std::string detail);

// Transfers `url` (http or https) with the platform's transport, following
// redirects: the whole body, or the Error of transfer_failure. Never throws.
Expected<std::string> transfer_url(const std::string& url, const FetchOptions& options);

}  // namespace quorvel
