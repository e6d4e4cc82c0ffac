// Windows: fetching over http and https with the URL moniker service.
//
// URLOpenBlockingStreamA returns once the answer is in (or the transfer
// failed), and the body is then read whole from the stream it gives. A bind
// status callback watches the transfer on the way:
//   - the HTTP status comes from its IHttpNegotiate::OnResponse, or, where
//     the service does not pass that on (Wine's blocking stream does not),
//     from the binding's IWinInetHttpInfo;
//   - a body announced, or arriving, larger than the bound is aborted;
//   - a watchdog thread aborts the binding when the whole transfer, from the
//     connection to the last byte, has not ended within the timeout (no
//     answer, a server that stopped sending, or one that sends too slowly);
//     the callback counts the bytes that came by then.
// Redirects are followed by the service itself.
#include <windows.h>
#include <urlmon.h>
#include <wininet.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>

#include "platform/os/url_transfer.h"
#include "platform/os/windows_error.h"

namespace quorvel {
namespace {

// Why the callback stopped the transfer.
enum class Abort { kNone, kTooLarge, kTimeout };

class BindWatch final : public IBindStatusCallback, public IHttpNegotiate {
 public:
  explicit BindWatch(const FetchOptions& options) : options_(options) {}
  ~BindWatch() { stop_watchdog(); }
  BindWatch(const BindWatch&) = delete;
  BindWatch& operator=(const BindWatch&) = delete;

  long http_status() const { return http_status_.load(); }
  Abort aborted() const { return aborted_.load(); }
  std::size_t received() const { return received_.load(); }

  // Starts the watchdog; the object must outlive stop_watchdog().
  void start_watchdog() {
    watchdog_ = std::thread([this] { watch(); });
  }

  void stop_watchdog() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      finished_ = true;
    }
    wake_.notify_all();
    if (watchdog_.joinable()) watchdog_.join();
    std::lock_guard<std::mutex> lock(mutex_);
    binding_ = nullptr;
  }

  // IUnknown. The object lives on the caller's stack for the whole fetch, so
  // the reference count is kept only for the service's sake.
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
    if (object == nullptr) return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IBindStatusCallback)) {
      *object = static_cast<IBindStatusCallback*>(this);
    } else if (IsEqualIID(riid, IID_IHttpNegotiate)) {
      *object = static_cast<IHttpNegotiate*>(this);
    } else {
      *object = nullptr;
      return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
  ULONG STDMETHODCALLTYPE Release() override { return --references_; }

  // IBindStatusCallback.
  HRESULT STDMETHODCALLTYPE OnStartBinding(DWORD, IBinding* binding) override {
    // The binding is used only until it reports its end, while the service
    // holds it; no reference is taken, since some services (Wine's) tear
    // down the blocking call's own callback when the call returns, and a
    // last release of the binding after that would call into it.
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (binding_ == nullptr) binding_ = binding;
    }
    // A watchdog past its deadline waits for the binding to abort it.
    wake_.notify_all();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetPriority(LONG*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE OnLowResource(DWORD) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE OnProgress(ULONG progress, ULONG progress_max, ULONG status_code,
                                       LPCWSTR) override {
    if (status_code == BINDSTATUS_MIMETYPEAVAILABLE ||
        status_code == BINDSTATUS_BEGINDOWNLOADDATA) {
      query_http_status();
    }
    const bool downloading = status_code == BINDSTATUS_BEGINDOWNLOADDATA ||
                             status_code == BINDSTATUS_DOWNLOADINGDATA ||
                             status_code == BINDSTATUS_ENDDOWNLOADDATA;
    if (downloading) note_received(progress);
    if (downloading && (progress > options_.max_bytes || progress_max > options_.max_bytes)) {
      aborted_ = Abort::kTooLarge;
      return E_ABORT;
    }
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE OnStopBinding(HRESULT, LPCWSTR) override {
    // The binding goes away after this: wait for an abort under way on the
    // watchdog thread (unless the abort itself brought us here).
    query_http_status();
    std::unique_lock<std::mutex> lock(mutex_);
    if (std::this_thread::get_id() != watchdog_.get_id()) {
      wake_.wait(lock, [this] { return !aborting_; });
    }
    binding_ = nullptr;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetBindInfo(DWORD* flags, BINDINFO* info) override {
    // The document is wanted as the server has it now.
    if (flags != nullptr) *flags |= BINDF_GETNEWESTVERSION | BINDF_NOWRITECACHE;
    (void)info;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE OnDataAvailable(DWORD, DWORD size, FORMATETC*, STGMEDIUM*) override {
    note_received(size);
    if (size > options_.max_bytes) {
      aborted_ = Abort::kTooLarge;
      return E_ABORT;
    }
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE OnObjectAvailable(REFIID, IUnknown*) override { return S_OK; }

  // IHttpNegotiate.
  HRESULT STDMETHODCALLTYPE BeginningTransaction(LPCWSTR, LPCWSTR, DWORD,
                                                 LPWSTR* additional_headers) override {
    if (additional_headers != nullptr) *additional_headers = nullptr;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE OnResponse(DWORD response_code, LPCWSTR, LPCWSTR,
                                       LPWSTR* additional_headers) override {
    if (additional_headers != nullptr) *additional_headers = nullptr;
    http_status_ = static_cast<long>(response_code);
    return S_OK;
  }

 private:
  using Clock = std::chrono::steady_clock;

  // The status line's code, asked of the binding; nothing when the binding
  // cannot tell (not HTTP, or no answer yet). Called on the binding's own
  // thread while the binding is alive.
  void query_http_status() {
    IBinding* binding = nullptr;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      binding = binding_;
    }
    if (binding == nullptr || http_status_.load() != 0) return;
    IWinInetHttpInfo* info = nullptr;
    if (FAILED(binding->QueryInterface(IID_IWinInetHttpInfo, reinterpret_cast<void**>(&info))) ||
        info == nullptr) {
      return;
    }
    DWORD code = 0;
    DWORD size = sizeof code;
    if (info->QueryInfo(HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &code, &size, nullptr,
                        nullptr) == S_OK) {
      http_status_ = static_cast<long>(code);
    }
    info->Release();
  }

  // The bytes of the body that have come so far (the service reports a
  // running total).
  void note_received(ULONG total) {
    std::size_t seen = received_.load();
    while (total > seen && !received_.compare_exchange_weak(seen, total)) {
    }
  }

  // Aborts the binding once the whole transfer has taken the timeout.
  void watch() {
    const auto deadline = started_ + std::chrono::seconds(options_.timeout_seconds);
    std::unique_lock<std::mutex> lock(mutex_);
    while (!finished_) {
      const auto now = Clock::now();
      if (now >= deadline && binding_ != nullptr) {
        aborted_ = Abort::kTimeout;
        IBinding* binding = binding_;
        aborting_ = true;
        lock.unlock();
        binding->Abort();
        lock.lock();
        aborting_ = false;
        wake_.notify_all();
        return;
      }
      // Past the deadline without a binding yet: the service has not handed
      // it out; OnStartBinding wakes this wait when it does.
      wake_.wait_until(lock, now >= deadline ? now + std::chrono::milliseconds(100) : deadline);
    }
  }

  const FetchOptions options_;
  std::atomic<ULONG> references_{1};
  std::atomic<long> http_status_{0};
  std::atomic<Abort> aborted_{Abort::kNone};
  std::mutex mutex_;
  std::condition_variable wake_;
  std::thread watchdog_;
  bool finished_ = false;
  bool aborting_ = false;
  const Clock::time_point started_ = Clock::now();
  std::atomic<std::size_t> received_{0};
  IBinding* binding_ = nullptr;
};

// What went wrong, in words, for the failures that have no system text.
std::string transfer_error_text(HRESULT hr) {
  switch (static_cast<DWORD>(hr)) {
    case static_cast<DWORD>(INET_E_INVALID_URL): return "the URL is not valid";
    case static_cast<DWORD>(INET_E_CANNOT_CONNECT): return "could not connect to the server";
    case static_cast<DWORD>(INET_E_RESOURCE_NOT_FOUND):
      return "the server or the document was not found";
    case static_cast<DWORD>(INET_E_DOWNLOAD_FAILURE): return "the download failed";
    case static_cast<DWORD>(INET_E_CONNECTION_TIMEOUT): return "the connection timed out";
    case static_cast<DWORD>(INET_E_SECURITY_PROBLEM): return "a security problem (certificate)";
    case static_cast<DWORD>(INET_E_INVALID_CERTIFICATE): return "the certificate is not valid";
    case static_cast<DWORD>(INET_E_REDIRECT_FAILED): return "a redirect could not be followed";
    case static_cast<DWORD>(INET_E_UNKNOWN_PROTOCOL): return "the protocol is not known";
    case static_cast<DWORD>(E_ABORT): return "the transfer was stopped";
    default: return windows_error_text(static_cast<DWORD>(hr));
  }
}

// A stream's whole content, up to max_bytes.
HRESULT read_stream(IStream* stream, std::size_t max_bytes, std::string& body, bool& too_large) {
  char buffer[65536];
  for (;;) {
    ULONG got = 0;
    HRESULT hr = stream->Read(buffer, sizeof buffer, &got);
    if (got > 0) {
      if (got > max_bytes - body.size()) {
        too_large = true;
        return S_OK;
      }
      body.append(buffer, got);
    }
    if (FAILED(hr)) return hr;
    if (got == 0 || hr == S_FALSE) return S_OK;
  }
}

}  // namespace

Expected<std::string> transfer_url(const std::string& url, const FetchOptions& options) {
  Expected<std::string> result{std::string()};
  // The moniker service needs the component runtime on this thread; a
  // thread that already has it keeps its own apartment.
  const HRESULT initialised = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);

  BindWatch watch(options);
  IStream* stream = nullptr;
  HRESULT hr = E_FAIL;
  try {
    watch.start_watchdog();
    hr = URLOpenBlockingStreamA(nullptr, url.c_str(), &stream, 0, &watch);
  } catch (const std::system_error& error) {
    result = transfer_failure(FetchFailure::kOther, options, 0, 0,
                              std::string("cannot start the transfer: ") + error.what());
  }
  if (result) {
    std::string body;
    bool too_large = watch.aborted() == Abort::kTooLarge;
    if (SUCCEEDED(hr) && stream != nullptr && !too_large) {
      hr = read_stream(stream, options.max_bytes, body, too_large);
    }
    watch.stop_watchdog();
    const long http_status = watch.http_status();

    if (too_large) {
      result = transfer_failure(FetchFailure::kTooLarge, options, http_status, 0, "");
    } else if (watch.aborted() == Abort::kTimeout) {
      result = transfer_failure(FetchFailure::kTimeout, options, http_status,
                                std::max(watch.received(), body.size()), "");
    } else if (http_status >= 400) {
      result = transfer_failure(FetchFailure::kHttpStatus, options, http_status, 0, "");
    } else if (FAILED(hr) || stream == nullptr) {
      FetchFailure failure = FetchFailure::kOther;
      if (hr == INET_E_CANNOT_CONNECT) failure = FetchFailure::kConnect;
      if (hr == INET_E_CONNECTION_TIMEOUT) failure = FetchFailure::kTimeout;
      // A transfer that failed before any answer came could not reach the
      // server (the service reports a refused connection this way).
      if (hr == INET_E_DOWNLOAD_FAILURE && http_status == 0) {
        failure = FetchFailure::kConnect;
      }
      result = transfer_failure(failure, options, http_status, 0, transfer_error_text(hr));
    } else {
      result = std::move(body);
    }
  }
  watch.stop_watchdog();
  if (stream != nullptr) stream->Release();
  if (SUCCEEDED(initialised)) CoUninitialize();
  return result;
}

}  // namespace quorvel
