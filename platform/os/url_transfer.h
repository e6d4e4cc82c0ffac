// The platform's transport behind fetch_url: one transfer and how it ended.
// Implemented once per platform (url_transfer_posix.cc with libcurl,
// url_transfer_windows.cc with the URL service).
#pragma once

#include <string>

#include "platform/os/url_fetch.h"

namespace quorvel {

enum class FetchFailure {
  kNone,
  kConnect,     // the server could not be reached
  kTimeout,     // the whole transfer did not end within the timeout
  kTooLarge,    // the body is larger than max_bytes
  kHttpStatus,  // the server answered with a status of 400 or more
  kOther,       // any other failure; `detail` says what
};

struct TransferOutcome {
  FetchFailure failure = FetchFailure::kNone;
  long http_status = 0;  // the last status the server sent, 0 if none
  std::string body;      // the whole body; empty on failure
  std::size_t received = 0;  // after a timeout: the bytes of the body that had come
  std::string detail;    // the transport's description of a failure
};

// Transfers `url` (http or https) with the platform's transport, following
// redirects. Never throws.
TransferOutcome transfer_url(const std::string& url, const FetchOptions& options);

}  // namespace quorvel
