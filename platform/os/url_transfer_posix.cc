// Fetching over http and https with libcurl. Every libcurl call of the
// program is in this file.
#include <curl/curl.h>

#include <mutex>

#include "platform/os/url_transfer.h"

namespace quorvel {

namespace {

struct Transfer {
  std::string body;
  std::size_t max_bytes = 0;
  bool too_large = false;
};

std::size_t write_body(char* data, std::size_t size, std::size_t count, void* context) {
  auto* transfer = static_cast<Transfer*>(context);
  std::size_t bytes = size * count;
  if (bytes > transfer->max_bytes - transfer->body.size()) {
    transfer->too_large = true;
    return 0;  // makes the transfer stop with a write error
  }
  transfer->body.append(data, bytes);
  return bytes;
}

bool global_init_done() {
  static std::once_flag once;
  static bool ok = false;
  std::call_once(once, [] { ok = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK; });
  return ok;
}

// Closes the easy handle on every way out of fetch_url.
struct EasyHandle {
  CURL* curl = curl_easy_init();
  ~EasyHandle() {
    if (curl != nullptr) curl_easy_cleanup(curl);
  }
};

}  // namespace

TransferOutcome transfer_url(const std::string& url, const FetchOptions& options) {
  TransferOutcome result;
  if (!global_init_done()) {
    result.failure = FetchFailure::kOther;
    result.detail = "the network library could not be initialised";
    return result;
  }
  EasyHandle easy;
  if (easy.curl == nullptr) {
    result.failure = FetchFailure::kOther;
    result.detail = "the network library could not start a transfer";
    return result;
  }
  CURL* curl = easy.curl;
  Transfer transfer;
  transfer.max_bytes = options.max_bytes;
  char error_text[CURL_ERROR_SIZE] = {};

  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, error_text);
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(curl, CURLOPT_MAXREDIRS, 10L);
  curl_easy_setopt(curl, CURLOPT_FAILONERROR, 1L);
  // The timeout bounds the whole transfer, from the connection to the last
  // byte, however the server sends (a byte at a time, say); a connection
  // that does not come, or a server that stops sending, is given up on by
  // then as well.
  curl_easy_setopt(curl, CURLOPT_TIMEOUT, options.timeout_seconds);
  curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, options.timeout_seconds);
  curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
  curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, options.timeout_seconds);
  // Refused before the body comes when the server announces its length.
  curl_easy_setopt(curl, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(options.max_bytes));
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, write_body);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &transfer);

  CURLcode code = curl_easy_perform(curl);
  long status = 0;
  curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
  result.http_status = status;

  if (code == CURLE_OK && status >= 400) code = CURLE_HTTP_RETURNED_ERROR;
  switch (code) {
    case CURLE_OK:
      result.body = std::move(transfer.body);
      return result;
    case CURLE_COULDNT_CONNECT:
      result.failure = FetchFailure::kConnect;
      break;
    case CURLE_OPERATION_TIMEDOUT:
      result.failure = FetchFailure::kTimeout;
      result.received = transfer.body.size();
      break;
    case CURLE_FILESIZE_EXCEEDED:
      result.failure = FetchFailure::kTooLarge;
      break;
    case CURLE_HTTP_RETURNED_ERROR:
      result.failure = FetchFailure::kHttpStatus;
      break;
    default:
      result.failure = transfer.too_large ? FetchFailure::kTooLarge : FetchFailure::kOther;
      break;
  }
  result.detail = error_text[0] != '\0' ? error_text : curl_easy_strerror(code);
  return result;
}

}  // namespace quorvel
