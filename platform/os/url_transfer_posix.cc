// Fetching over http and https with libcurl. Every libcurl call of the
// program is in this file.
//
// libcurl is loaded at the first fetch (runtime_library.h), not linked: it
// brings some thirty shared libraries, and mapping them at every start would
// cost a run that reads only files more than the whole of its work.
#include <curl/curl.h>

#include <new>
#include <string>
#include <string_view>

#include "platform/os/runtime_library.h"
#include "platform/os/url_transfer.h"

namespace quorvel {

namespace {

// The soname of the libcurl whose interface curl/curl.h declares.
constexpr const char* kCurlLibrary = "libcurl.so.4";

// The libcurl functions the transfer calls.
#define QUORVEL_CURL_FUNCTIONS(X) \
  X(curl_global_init)             \
  X(curl_easy_init)               \
  X(curl_easy_cleanup)            \
  X(curl_easy_setopt)             \
  X(curl_easy_perform)            \
  X(curl_easy_getinfo)            \
  X(curl_easy_strerror)

struct Curl {
  QUORVEL_LIBRARY_TABLE(QUORVEL_CURL_FUNCTIONS)
};

struct LoadedCurl {
  Curl functions;
  std::string error;  // why libcurl cannot be used; empty when it can
};

// libcurl, loaded and initialised at the first call, once per process; the
// library stays loaded until the process ends.
const LoadedCurl& curl_library() {
  static const LoadedCurl once = [] {
    LoadedCurl curl;
    const Result load = load_runtime_library(kCurlLibrary, curl.functions);
    if (load) {
      if (curl.functions.curl_global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK) {
        curl.error = "the network library could not be initialised";
      }
    } else if (load.kind() == kLibraryNotLoaded) {
      curl.error = std::string("the network library ") + kCurlLibrary +
                   " could not be loaded (install libcurl4): " + load.message();
    } else {
      curl.error = std::string("the network library ") + kCurlLibrary + " lacks " + load.message();
    }
    return curl;
  }();
  return once;
}

struct Transfer {
  std::string body;
  std::size_t max_bytes = 0;
  bool too_large = false;
  bool out_of_memory = false;
  // Whether the head of the last answer has ended (its empty line came);
  // a new status line starts another head (a redirect, "100 Continue").
  bool head_ended = false;
};

// Follows the heads as their lines come: libcurl passes each line whole.
std::size_t read_head_line(char* data, std::size_t size, std::size_t count, void* context) {
  auto* transfer = static_cast<Transfer*>(context);
  const std::string_view line(data, size * count);
  if (line == "\r\n" || line == "\n") {
    transfer->head_ended = true;
  } else if (line.starts_with("HTTP/")) {
    transfer->head_ended = false;
  }
  return size * count;
}

// libcurl's code for a value over one of its bounds (libcurl 8.6 and later;
// earlier ones say CURLE_OUT_OF_MEMORY for the same).
constexpr int kCurlTooLarge = 100;

std::size_t write_body(char* data, std::size_t size, std::size_t count, void* context) {
  auto* transfer = static_cast<Transfer*>(context);
  std::size_t bytes = size * count;
  if (bytes > transfer->max_bytes - transfer->body.size()) {
    transfer->too_large = true;
    return 0;  // makes the transfer stop with a write error
  }
  // No exception may unwind through the network library's C code: memory
  // that runs out stops the transfer like any other write error.
  try {
    transfer->body.append(data, bytes);
  } catch (const std::bad_alloc&) {
    transfer->out_of_memory = true;
    return 0;
  }
  return bytes;
}

// Closes the easy handle on every way out of transfer_url.
struct EasyHandle {
  const Curl& library;
  CURL* curl = library.curl_easy_init();
  ~EasyHandle() {
    if (curl != nullptr) library.curl_easy_cleanup(curl);
  }
};

}  // namespace

Expected<std::string> transfer_url(const std::string& url, const FetchOptions& options) {
  const LoadedCurl& loaded = curl_library();
  if (!loaded.error.empty()) {
    return transfer_failure(FetchFailure::kOther, options, 0, 0, loaded.error);
  }
  const Curl& library = loaded.functions;
  EasyHandle easy{library};
  if (easy.curl == nullptr) {
    return transfer_failure(FetchFailure::kOther, options, 0, 0,
                            "the network library could not start a transfer");
  }
  CURL* curl = easy.curl;
  Transfer transfer;
  transfer.max_bytes = options.max_bytes;
  char error_text[CURL_ERROR_SIZE] = {};

  library.curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  library.curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, error_text);
  library.curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  library.curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
  library.curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  library.curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
  library.curl_easy_setopt(curl, CURLOPT_MAXREDIRS, 10L);
  library.curl_easy_setopt(curl, CURLOPT_FAILONERROR, 1L);
  // Credentials for a URL without any come from ~/.netrc when it has them,
  // so that a password need not be on the command line (seen in ps).
  library.curl_easy_setopt(curl, CURLOPT_NETRC, static_cast<long>(CURL_NETRC_OPTIONAL));
  // The timeout bounds the whole transfer, from the connection to the last
  // byte, however the server sends (a byte at a time, say); a connection
  // that does not come, or a server that stops sending, is given up on by
  // then as well.
  library.curl_easy_setopt(curl, CURLOPT_TIMEOUT, options.timeout_seconds);
  library.curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, options.timeout_seconds);
  library.curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
  library.curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, options.timeout_seconds);
  // Refused before the body comes when the server announces its length.
  library.curl_easy_setopt(curl, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(options.max_bytes));
  library.curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, write_body);
  library.curl_easy_setopt(curl, CURLOPT_WRITEDATA, &transfer);
  library.curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, read_head_line);
  library.curl_easy_setopt(curl, CURLOPT_HEADERDATA, &transfer);

  CURLcode code = library.curl_easy_perform(curl);
  long status = 0;
  library.curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);

  if (code == CURLE_OK && status >= 400) code = CURLE_HTTP_RETURNED_ERROR;
  FetchFailure failure = FetchFailure::kOther;
  std::size_t received = 0;
  switch (code) {
    case CURLE_OK:
      return std::move(transfer.body);
    case CURLE_COULDNT_CONNECT:
      failure = FetchFailure::kConnect;
      break;
    case CURLE_OPERATION_TIMEDOUT:
      failure = FetchFailure::kTimeout;
      received = transfer.body.size();
      break;
    case CURLE_FILESIZE_EXCEEDED:
      failure = FetchFailure::kTooLarge;
      break;
    case CURLE_HTTP_RETURNED_ERROR:
      failure = FetchFailure::kHttpStatus;
      break;
    default:
      failure = transfer.too_large ? FetchFailure::kTooLarge : FetchFailure::kOther;
      break;
  }
  std::string detail = error_text[0] != '\0' ? error_text : library.curl_easy_strerror(code);
  // libcurl keeps a line of an answer's head in a buffer of at most
  // CURL_MAX_HTTP_HEADER bytes, and a longer line stops the transfer with
  // CURLE_OUT_OF_MEMORY (CURLE_TOO_LARGE from 8.6), without a word in the
  // error buffer: "Out of memory" would blame this machine for what the
  // server sent. Such a code while a head was coming in is that bound.
  long request_bytes = 0;
  library.curl_easy_getinfo(curl, CURLINFO_REQUEST_SIZE, &request_bytes);
  if ((code == CURLE_OUT_OF_MEMORY || static_cast<int>(code) == kCurlTooLarge) &&
      error_text[0] == '\0' && !transfer.out_of_memory && request_bytes > 0 &&
      !transfer.head_ended) {
    detail = "a line of the server's answer head is longer than the " +
             std::to_string(CURL_MAX_HTTP_HEADER) + " bytes the network library takes";
  }
  if (transfer.out_of_memory) {
    failure = FetchFailure::kOther;
    detail = "not enough memory for the answer after " + std::to_string(transfer.body.size()) +
             " bytes";
  }
  return transfer_failure(failure, options, status, received, std::move(detail));
}

}  // namespace quorvel
