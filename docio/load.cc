#include "docio/load.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <filesystem>
#include <mutex>
#include <new>
#include <optional>
#include <system_error>
#include <thread>
#include <utility>

#include "docio/source.h"
#include "platform/os/console.h"
#include "platform/os/file_stamp.h"
#include "platform/os/text_encoding.h"
#include "platform/xml/xml_read.h"
#include "platform/os/url_fetch.h"

namespace quorvel {
namespace {

std::filesystem::path path_of(const std::string& name) {
  return std::filesystem::path(std::u8string(name.begin(), name.end()));
}

// What the progress of reading `name` is shown as.
std::string reading(const std::string& name) { return "reading " + quote_name(name); }

// Loads a named source on the URL and plain paths, telling `reporter` of
// its progress alone. A failure to read it leaves the document failed and
// unread.
void load_named(InputDocument& document, const std::string& name, Reporter& reporter) {
  const std::string shown = url_for_display(name);
  begin_load(document, shown);
  // A regular file is parsed as it is read; only one it leaves in doubt is
  // read again whole, which says why.
  if (!is_web_url(name)) {
    const std::filesystem::path path = path_of(name);
    std::error_code error;
    const std::uintmax_t size = std::filesystem::file_size(path, error);
    Progress progress(reporter, reading(shown), error ? 0 : size);
    if (load_file_in_pieces(document, path, 0, &progress)) return;
  }
  const Expected<std::string> read = read_named_source(name);
  if (!read) {
    fail_load(document, Error{read.message(), kLoadUnread});
    return;
  }
  parse_into(document, *read, shown);
}

// Whether `name` may be read ahead of the run: no web URL, and a regular
// file now, large enough to be worth a thread. Names under /dev and /proc
// are left to the run whatever they lead to: /dev/stdin and its kin stand
// for what the run was given, which is read once, in its turn. The file's
// stamp, taken before it is read, goes to `stamp`.
bool may_load_ahead(const std::string& name, std::optional<FileStamp>& stamp) {
  if (name.empty() || is_web_url(name)) return false;
  const std::filesystem::path path = path_of(name);
  std::error_code error;
  const std::filesystem::path full = std::filesystem::absolute(path, error).lexically_normal();
  if (error) return false;
  const std::u8string full_text = full.generic_u8string();
  for (const std::u8string_view system_folder : {u8"/dev/", u8"/proc/"}) {
    if (full_text.starts_with(system_folder)) return false;
  }
  stamp = regular_file_stamp(path);
  return stamp && stamp->size >= PreparedLoad::kMinBytes;
}

}  // namespace

// The progress of a load ahead, kept for the run's thread, which shows it
// while it waits for the load; a load says nothing else.
class ProgressRelay final : public Reporter {
 public:
  void error(std::string_view) override {}
  void note(std::string_view) override {}
  void status(std::string_view) override {}
  void text(std::string_view) override {}
  void progress(std::string_view, std::uint64_t done, std::uint64_t total) override {
    done_.store(done, std::memory_order_relaxed);
    total_.store(total, std::memory_order_relaxed);
  }
  std::uint64_t done() const { return done_.load(std::memory_order_relaxed); }
  std::uint64_t total() const { return total_.load(std::memory_order_relaxed); }

 private:
  std::atomic<std::uint64_t> done_{0};
  std::atomic<std::uint64_t> total_{0};
};

// The load begun ahead, on a thread of its own (std::thread, as the
// program already links it: std::future would add its own machinery to
// every run's start-up). What the load throws is carried, not raised.
struct PreparedLoad::Pending {
  std::string name;
  std::optional<FileStamp> stamp;  // the file's, before it was read
  InputDocument document;
  std::exception_ptr failure;
  ProgressRelay relay;
  std::mutex mutex;
  std::condition_variable ended;
  bool finished = false;  // under mutex
  std::thread thread;

  ~Pending() {
    if (thread.joinable()) thread.join();
  }
};

PreparedLoad::PreparedLoad() = default;
PreparedLoad::PreparedLoad(PreparedLoad&&) noexcept = default;
PreparedLoad::~PreparedLoad() = default;

PreparedLoad PreparedLoad::begin(const std::string& name) {
  PreparedLoad prepared;
  std::optional<FileStamp> stamp;
  if (!may_load_ahead(name, stamp)) return prepared;
  try {
    auto pending = std::make_unique<Pending>();
    pending->name = name;
    pending->stamp = stamp;
    Pending* load = pending.get();
    pending->thread = std::thread([load] {
      try {
        load_named(load->document, load->name, load->relay);
      } catch (...) {
        load->failure = std::current_exception();
      }
      const std::lock_guard<std::mutex> lock(load->mutex);
      load->finished = true;
      load->ended.notify_one();
    });
    prepared.pending_ = std::move(pending);
  } catch (const std::system_error&) {
    // No thread to be had: the run loads the document in its turn.
  } catch (const std::bad_alloc&) {
    // Nor memory for its state: the same.
  }
  return prepared;
}

bool PreparedLoad::take(const std::string& name, InputDocument& document, Reporter& reporter) {
  if (!pending_ || name != pending_->name) return false;
  const std::unique_ptr<Pending> load = std::move(pending_);
  {
    // The wait shows how far the load has got, once it has said how far
    // it has to go.
    std::unique_lock<std::mutex> lock(load->mutex);
    std::optional<Progress> progress;
    while (!load->ended.wait_for(lock, std::chrono::milliseconds(100),
                                 [&] { return load->finished; })) {
      if (!progress && load->relay.total() > 0) {
        progress.emplace(reporter, reading(url_for_display(name)), load->relay.total());
      }
      if (progress) progress->reach(load->relay.done());
    }
  }
  load->thread.join();
  // Whatever stopped the load ahead short of its verdict (memory, above
  // all, taken while the mixer was being opened beside it) is met again,
  // or not, by the load the caller now does.
  const int failed = load->document.verdict.kind();
  if (load->failure || failed == kLoadUnread || failed == kXmlNoMemory) return false;
  // A file written since it was read ahead (the run may have waited for
  // the mixer a while), or another file put in its place, even one of the
  // same size and time of last write (cp -p, rsync -t), is read again, as
  // it is now.
  if (regular_file_stamp(path_of(name)) != load->stamp) return false;
  document.document = std::move(load->document.document);
  document.url = std::move(load->document.url);
  document.verdict = std::move(load->document.verdict);
  return true;
}

Result open_document_stream(const std::string& name, DocumentStream& stream) {
  stream = DocumentStream{};
  Expected<std::string> read = std::string();
  if (name.compare(0, 5, "http:") == 0) {
    stream.url = url_for_display(name);
    read = fetch_source(name);
  } else {
    std::error_code error;
    std::filesystem::path full =
        std::filesystem::absolute(path_from_utf8(system_to_utf8(name)), error);
    if (name.empty()) error = std::make_error_code(std::errc::no_such_file_or_directory);
    if (error) {
      stream.url = system_to_utf8(name);
      return Result::failure("Cannot read \"" + printable(stream.url) + "\": " +
                             error.message() + ".");
    }
    const std::u8string full_text = full.u8string();
    stream.url.assign(full_text.begin(), full_text.end());
    read = read_file_source(full, stream.url);
  }
  if (!read) return Result::failure_of(read);
  stream.bytes = std::move(read).value();
  return Result();
}

Result load_from_stream(InputDocument& document, const DocumentStream& stream,
                        Reporter& reporter) {
  parse_into(document, stream.bytes, stream.url);
  return check_load_result(document, reporter);
}

Result load_from_url(InputDocument& document, const std::string& name, Reporter& reporter) {
  reporter.text("Downloading XML document URL\n");
  load_named(document, name, reporter);
  return check_load_result(document, reporter);
}

Result load_from_file(InputDocument& document, const std::string& name, Reporter& reporter,
                      PreparedLoad* prepared) {
  if (prepared == nullptr || !prepared->take(name, document, reporter)) {
    load_named(document, name, reporter);
  }
  return check_load_result(document, reporter);
}

Result check_load_result(const InputDocument& document, Reporter& reporter) {
  if (!document.verdict) {
    report_parse_error(document, reporter);
    return Result::failure(document.verdict.message());
  }
  reporter.text("XML document loaded successfully\n");
  return Result();
}

void report_parse_error(const InputDocument& document, Reporter& reporter) {
  reporter.text(mask_passwords(reported_reason(document)));
  const Error& error = document.verdict.error();
  if (error.line > 0) {
    reporter.text("Error on line " + std::to_string(error.line) + ", position " +
                  std::to_string(error.column) + " in \"" +
                  printable(mask_passwords(document.url)) + "\".\n");
  }
}

}  // namespace quorvel
