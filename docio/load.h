// Loading a mixer document into the input document, on the three paths of a
// run: a stream opened on a full path or an "http:" name (-local), a name
// that may be a URL (-url), and a plain name. Every path ends in the same
// check, which reports "XML document loaded successfully\n" or the reason of
// the failure (Reporter::text) and fails with that reason.
//
// Files: load.cc (the paths, and a plain file's load begun ahead of time),
// source.cc (reading a source whole), parse.cc (parsing, with the checks of
// platform/document/document_parse.h, of bytes held whole or of a regular
// file as it is read).
//
// Loads are synchronous: when a load function returns, the document is
// complete, holding either the whole parsed tree or, after a failure,
// nothing at all, with the failure described in its verdict.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

#include "common/report.h"
#include "common/result.h"
#include "docio/input_document.h"

namespace quorvel {

// A source opened for the stream path: its content, read whole.
struct DocumentStream {
  std::string url;     // the full path or "http:" URL the stream was opened on (UTF-8),
                       // as messages show it (without its user information)
  std::string bytes;   // the source's bytes, as stored
};

// Opens the stream path's source. A name that begins exactly "http:" is
// fetched as it is; any other name is made a full path against the current
// directory and read as a file. `name` is 8-bit text in the system code page.
// Writes nothing. A failure says why in one sentence, as the loader reports
// it.
Result open_document_stream(const std::string& name, DocumentStream& stream);

// Loads the document from an opened stream, then checks the result.
Result load_from_stream(InputDocument& document, const DocumentStream& stream,
                        Reporter& reporter);

// Writes "Downloading XML document URL\n", loads the document from `name`
// (an http or https URL, otherwise a file path) and checks the result.
// `name` is UTF-8.
Result load_from_url(InputDocument& document, const std::string& name, Reporter& reporter);

// The load of a plain file begun on a thread of its own before the run
// needs it (while the mixer is being opened), so that reading and parsing
// the document overlaps that work. Loading writes nothing: every message
// is written by load_from_file when the run comes to its load step. The
// destructor waits for a load still running; none is ever left behind.
class PreparedLoad {
 public:
  PreparedLoad();  // nothing begun
  PreparedLoad(PreparedLoad&&) noexcept;
  PreparedLoad& operator=(PreparedLoad&&) = delete;
  ~PreparedLoad();

  // The smallest file loaded ahead. Below it a thread costs more than the
  // overlap gains: a restore from a 6 KB document ran about 0.1 ms slower
  // with it, one from 0.3 MB about 1 ms faster.
  static constexpr std::uintmax_t kMinBytes = 64 * 1024;

  // Begins loading `name` (UTF-8) as load_from_file would. Only a name that
  // is no web URL and names a regular file of at least kMinBytes now is
  // loaded ahead: a FIFO or a device (anything under /dev or /proc
  // included, such as /dev/stdin) would be consumed by an early read, and a
  // URL is fetched when the run gets to it. Nothing is begun for those, nor
  // when no thread is to be had.
  static PreparedLoad begin(const std::string& name);

  bool begun() const { return pending_ != nullptr; }

  // Fills `document` with the load begun for `name` (once it has finished)
  // and returns true. False when none was begun for that name, when the
  // load ahead did not get as far as its verdict on the document (it could
  // not read the file, ran out of memory, or threw), or when the file has
  // changed since, or another has taken its name (FileStamp,
  // platform/os/file_stamp.h: the file, its size, its times of last change
  // and of last write differ). The caller
  // then loads the document itself, which gives what a load at that point
  // gives. While it waits, `reporter` is told how far the load has got.
  bool take(const std::string& name, InputDocument& document, Reporter& reporter);

 private:
  struct Pending;  // the load and its thread (load.cc)
  std::unique_ptr<Pending> pending_;
};

// Loads the document from `name` (an http or https URL, otherwise a file
// path) and checks the result. `name` is UTF-8. With `prepared`, a load of
// the same name already begun is taken rather than done again; the
// messages and the result are those of loading here.
Result load_from_file(InputDocument& document, const std::string& name, Reporter& reporter,
                      PreparedLoad* prepared = nullptr);

// Reports the outcome of the finished load: the success line, or the parse
// error report. Fails with the reason of the load's verdict (of no kind:
// the caller's kinds are its own).
Result check_load_result(const InputDocument& document, Reporter& reporter);

// Reports a failed load: its reason, then, when the error has a line, the
// line report.
void report_parse_error(const InputDocument& document, Reporter& reporter);

// Parses `bytes` (UTF-8, UTF-16 or UTF-32 in either byte order with or
// without a byte order mark, or a declared ISO-8859-1) into the document,
// writing nothing. The document must be well-formed XML (as a conforming
// parser reads it, namespaces included) and hold exactly one root element,
// with nothing but comments and processing instructions after it. On failure the
// document is left empty and its verdict says where and why; `url` names the
// source in that report. Fails with the parse error's reason.
Result load_from_bytes(InputDocument& document, std::string_view bytes, const std::string& url);
// The same, its verdict left in the document's parse error alone.
void parse_into(InputDocument& document, std::string_view bytes, const std::string& url);

// Parses the regular file at `path` into the document as it is read,
// `piece` bytes at a time (0: as kXmlFilePiece says, xml_read.h), so that the file's bytes
// are never held beside the document, and writes nothing. The parse error
// is left as it is. True when the document was read; false when `path` is
// no regular file or cannot be opened, or anything on the way leaves a
// doubt (a source that is refused, a file that changes while it is read,
// no memory): the document is then empty, and the caller reads the file
// whole and parses it with load_from_bytes, which says why. The bytes read
// are counted on `progress`, where one is given.
bool load_file_in_pieces(InputDocument& document, const std::filesystem::path& path,
                         std::size_t piece = 0, Progress* progress = nullptr);

}  // namespace quorvel
