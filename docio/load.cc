#include "docio/load.h"

#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <limits>
#include <system_error>

#include "platform/text_encoding.h"
#include "platform/url_fetch.h"
#include "platform/xml_dom.h"

namespace quorvel {

namespace {

constexpr int kReadyStateLoading = 1;

// ---------------------------------------------------------------------------
// Reading a source whole.

struct SourceBytes {
  Status status = kOk;
  std::string bytes;
  std::string reason;  // set when status is not kOk
};

std::string seconds_text(long seconds) {
  return std::to_string(seconds) + (seconds == 1 ? " second" : " seconds");
}

SourceBytes fetch_source(const std::string& url) {
  FetchOptions options = fetch_options_from_environment();
  FetchResult fetched = fetch_url(url, options);
  SourceBytes source;
  std::string what = "Cannot download \"" + url + "\": ";
  switch (fetched.failure) {
    case FetchFailure::kNone:
      source.bytes = std::move(fetched.body);
      return source;
    case FetchFailure::kConnect:
      source.status = kLoadErrorUnreadable;
      source.reason = what + "could not connect to the server.\n";
      break;
    case FetchFailure::kTimeout:
      source.status = kLoadErrorTimeout;
      source.reason =
          what + "no answer from the server within " + seconds_text(options.timeout_seconds) + ".\n";
      break;
    case FetchFailure::kTooLarge:
      source.status = kLoadErrorTooLarge;
      source.reason =
          what + "the document is larger than " + std::to_string(options.max_bytes) + " bytes.\n";
      break;
    case FetchFailure::kHttpStatus:
      source.status = kLoadErrorUnreadable;
      source.reason =
          what + "the server answered with HTTP status " + std::to_string(fetched.http_status) + ".\n";
      break;
    case FetchFailure::kOther:
      source.status = kLoadErrorUnreadable;
      source.reason = what + fetched.detail + ".\n";
      break;
  }
  return source;
}

// Reads the file at `path`; `shown` is how the reason names it (UTF-8).
SourceBytes read_file_source(const std::filesystem::path& path, const std::string& shown) {
  SourceBytes source;
  std::string what = "Cannot read \"" + shown + "\": ";
  auto fail = [&](Status status, const std::string& why) {
    source.status = status;
    source.reason = what + why + ".\n";
    return source;
  };
  std::error_code error;
  std::filesystem::file_status status = std::filesystem::status(path, error);
  if (error) return fail(kLoadErrorUnreadable, error.message());
  if (std::filesystem::is_directory(status)) {
    return fail(kLoadErrorUnreadable, std::make_error_code(std::errc::is_a_directory).message());
  }
  if (std::filesystem::is_regular_file(status)) {
    std::uintmax_t size = std::filesystem::file_size(path, error);
    if (!error && size > kMaxDocumentBytes) {
      return fail(kLoadErrorTooLarge,
                  "the file is larger than " + std::to_string(kMaxDocumentBytes) + " bytes");
    }
  }
  errno = 0;
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    int code = errno != 0 ? errno : EIO;
    return fail(kLoadErrorUnreadable, std::error_code(code, std::generic_category()).message());
  }
  // Read in pieces up to one byte past the bound, so that a file that grows,
  // or one whose size is not known in advance, is still refused.
  char buffer[65536];
  while (in) {
    in.read(buffer, sizeof buffer);
    std::size_t got = static_cast<std::size_t>(in.gcount());
    if (got > kMaxDocumentBytes - source.bytes.size()) {
      source.bytes.clear();
      return fail(kLoadErrorTooLarge,
                  "the file is larger than " + std::to_string(kMaxDocumentBytes) + " bytes");
    }
    source.bytes.append(buffer, got);
  }
  if (in.bad()) {
    source.bytes.clear();
    return fail(kLoadErrorUnreadable, std::make_error_code(std::errc::io_error).message());
  }
  return source;
}

// The URL and plain paths: a web URL is fetched, anything else is a file
// path as the file system resolves it.
SourceBytes read_named_source(const std::string& name) {
  if (is_web_url(name)) return fetch_source(name);
  std::u8string utf8_name(name.begin(), name.end());
  return read_file_source(std::filesystem::path(utf8_name), name);
}

// ---------------------------------------------------------------------------
// Line and position of a parser offset, in characters of the source.
//
// The parser converts the source to UTF-8 and reports offsets into that
// conversion. The source is decoded here the same way (the same encoding,
// the same treatment of broken sequences), counting for each character the
// bytes it takes in the conversion, so that an offset maps back to the
// character of the source it came from.

class SourceDecoder {
 public:
  SourceDecoder(std::string_view bytes, pugi::xml_encoding encoding)
      : bytes_(bytes), encoding_(encoding) {}

  // The next character and the number of bytes it takes in the parser's
  // UTF-8 text (0 for an encoding error the parser drops). False at the end.
  bool next(char32_t& ch, std::size_t& converted) {
    switch (encoding_) {
      case pugi::encoding_utf16_le:
      case pugi::encoding_utf16_be:
        return next_utf16(ch, converted);
      case pugi::encoding_utf32_le:
      case pugi::encoding_utf32_be:
        return next_utf32(ch, converted);
      case pugi::encoding_latin1:
        if (at_ >= bytes_.size()) return false;
        ch = byte(at_++);
        converted = utf8_length(ch);
        return true;
      default:
        return next_utf8(ch, converted);
    }
  }

 private:
  static std::size_t utf8_length(char32_t ch) {
    return ch < 0x80 ? 1 : ch < 0x800 ? 2 : ch < 0x10000 ? 3 : 4;
  }

  char32_t byte(std::size_t at) const { return static_cast<unsigned char>(bytes_[at]); }

  // UTF-8 is parsed as it is stored: a character is a lead byte with the
  // continuation bytes that follow it.
  bool next_utf8(char32_t& ch, std::size_t& converted) {
    if (at_ >= bytes_.size()) return false;
    std::size_t start = at_;
    char32_t lead = byte(at_++);
    converted = 1;
    if (lead < 0x80) {
      ch = lead;
      return true;
    }
    // Anything that is not a complete, shortest-form sequence stands for no
    // character the parser would act on.
    ch = 0xFFFD;
    if (lead < 0xC0 || lead >= 0xF8) return true;
    std::size_t extra = lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : 1;
    char32_t value = lead & (0x3F >> extra);
    for (; extra > 0 && at_ < bytes_.size() && (byte(at_) & 0xC0) == 0x80; --extra) {
      value = (value << 6) | (byte(at_++) & 0x3F);
    }
    converted = at_ - start;
    if (extra == 0 && value >= 0x80) ch = value;
    return true;
  }

  char32_t unit16(std::size_t at) const {
    return encoding_ == pugi::encoding_utf16_le ? byte(at) | (byte(at + 1) << 8)
                                                : (byte(at) << 8) | byte(at + 1);
  }

  bool next_utf16(char32_t& ch, std::size_t& converted) {
    if (at_ + 2 > bytes_.size()) return false;
    char32_t lead = unit16(at_);
    at_ += 2;
    if (lead < 0xD800 || lead >= 0xE000) {
      ch = lead;
      converted = utf8_length(ch);
      return true;
    }
    if (lead < 0xDC00 && at_ + 2 <= bytes_.size()) {
      char32_t trail = unit16(at_);
      if (trail >= 0xDC00 && trail < 0xE000) {
        at_ += 2;
        ch = 0x10000 + ((lead & 0x3FF) << 10) + (trail & 0x3FF);
        converted = 4;
        return true;
      }
    }
    ch = 0xFFFD;  // an unpaired surrogate, which the parser drops
    converted = 0;
    return true;
  }

  bool next_utf32(char32_t& ch, std::size_t& converted) {
    if (at_ + 4 > bytes_.size()) return false;
    if (encoding_ == pugi::encoding_utf32_le) {
      ch = byte(at_) | (byte(at_ + 1) << 8) | (byte(at_ + 2) << 16) | (byte(at_ + 3) << 24);
    } else {
      ch = (byte(at_) << 24) | (byte(at_ + 1) << 16) | (byte(at_ + 2) << 8) | byte(at_ + 3);
    }
    at_ += 4;
    converted = utf8_length(ch);
    return true;
  }

  std::string_view bytes_;
  pugi::xml_encoding encoding_;
  std::size_t at_ = 0;
};

struct TextPosition {
  std::int32_t line = 0;  // 0: no position
  std::int32_t column = 0;
};

// Which character an offset stands for.
enum class Anchor {
  kAt,               // the character at the offset
  kOpeningBracket,   // the last "<" at or before the offset: the start of its markup
  kNextNonSpace,     // the first character at or after the offset that is not white space
};

bool is_xml_space(char32_t ch) { return ch == ' ' || ch == '\t' || ch == '\r' || ch == '\n'; }

// Line and position (both from 1) of the character at the parser offset
// `offset`, chosen by `anchor`; the end of the source when the offset lies
// beyond it. A byte order mark is not a character of the first line. CR LF,
// CR and LF each end a line.
TextPosition locate(std::string_view bytes, pugi::xml_encoding encoding, std::size_t offset,
                    Anchor anchor) {
  SourceDecoder decoder(bytes, encoding);
  TextPosition here{1, 1};
  TextPosition bracket{};
  std::size_t converted_at = 0;
  bool first = true;
  bool after_cr = false;
  char32_t ch = 0;
  std::size_t converted = 0;
  auto step = [](std::int32_t value) {
    return value < std::numeric_limits<std::int32_t>::max() ? value + 1 : value;
  };
  while (decoder.next(ch, converted)) {
    if (first && ch == 0xFEFF) {
      first = false;
      converted_at += converted;
      continue;
    }
    first = false;
    if (converted_at >= offset) {
      if (anchor == Anchor::kAt) return here;
      if (anchor == Anchor::kOpeningBracket) return ch == '<' || bracket.line == 0 ? here : bracket;
      if (!is_xml_space(ch)) return here;
    }
    if (ch == '<') bracket = here;
    if (ch == '\r' || (ch == '\n' && !after_cr)) {
      here.line = step(here.line);
      here.column = 1;
    } else if (ch != '\n') {
      here.column = step(here.column);
    }
    after_cr = ch == '\r';
    converted_at += converted;
  }
  return anchor == Anchor::kOpeningBracket && bracket.line != 0 ? bracket : here;
}

// ---------------------------------------------------------------------------
// Parsing.

// The encoding to parse with. The parser recognises byte order marks, a
// document that starts with "<" in any of its encodings, and a declared
// ISO-8859-1. A UTF-16 document without a byte order mark that starts with
// anything else (white space, say) is recognised here by its zero bytes.
pugi::xml_encoding choose_encoding(std::string_view bytes) {
  if (bytes.size() < 4) return pugi::encoding_auto;
  auto b = [&](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
  bool has_bom = (b(0) == 0xEF && b(1) == 0xBB && b(2) == 0xBF) || (b(0) == 0xFF && b(1) == 0xFE) ||
                 (b(0) == 0xFE && b(1) == 0xFF) ||
                 (b(0) == 0 && b(1) == 0 && b(2) == 0xFE && b(3) == 0xFF);
  if (has_bom) return pugi::encoding_auto;
  if (b(0) != 0 && b(1) == 0 && b(2) != 0 && b(3) == 0) return pugi::encoding_utf16_le;
  if (b(0) == 0 && b(1) != 0 && b(2) == 0 && b(3) != 0) return pugi::encoding_utf16_be;
  return pugi::encoding_auto;
}

const char* syntax_reason(pugi::xml_parse_status status) {
  switch (status) {
    case pugi::status_out_of_memory: return "Not enough memory to load the document.\n";
    case pugi::status_unrecognized_tag: return "The markup here is not recognised.\n";
    case pugi::status_bad_pi:
      return "The XML declaration or a processing instruction is malformed.\n";
    case pugi::status_bad_comment: return "A comment is malformed.\n";
    case pugi::status_bad_cdata: return "A CDATA section is malformed.\n";
    case pugi::status_bad_doctype: return "The document type declaration is malformed.\n";
    case pugi::status_bad_pcdata: return "Text is malformed.\n";
    case pugi::status_bad_start_element: return "A start tag is malformed.\n";
    case pugi::status_bad_attribute: return "An attribute is malformed.\n";
    case pugi::status_bad_end_element: return "An end tag is malformed.\n";
    case pugi::status_end_element_mismatch:
      return "An end tag does not match the start tag, or an element is not closed.\n";
    case pugi::status_no_document_element: return "The document has no root element.\n";
    default: return "The document cannot be parsed.\n";
  }
}

struct StructureProblem {
  const char* reason = nullptr;  // null: the top level is as it should be
  std::ptrdiff_t offset = -1;    // parser offset of the offending node; -1: unknown
  Anchor anchor = Anchor::kOpeningBracket;
};

// The top level must be: an optional XML declaration first, then comments
// and processing instructions with at most one document type declaration,
// then the one root element, then only comments and processing instructions.
// The parser keeps top-level text (it runs in fragment mode for that) and
// further elements without complaint; they are refused here.
StructureProblem check_top_level(const pugi::xml_document& dom) {
  bool first = true;
  bool seen_doctype = false;
  bool seen_root = false;
  for (pugi::xml_node node = dom.first_child(); node; node = node.next_sibling()) {
    const char* reason = nullptr;
    Anchor anchor = Anchor::kOpeningBracket;
    switch (node.type()) {
      case pugi::node_declaration:
        if (!first) reason = "The XML declaration must come first in the document.\n";
        break;
      case pugi::node_doctype:
        if (seen_root) {
          reason = "The document type declaration must come before the root element.\n";
        } else if (seen_doctype) {
          reason = "Only one document type declaration is allowed.\n";
        }
        seen_doctype = true;
        break;
      case pugi::node_element:
        if (seen_root) reason = "Only one root element is allowed.\n";
        seen_root = true;
        break;
      case pugi::node_pcdata:
        reason = seen_root ? "Text is not allowed after the root element.\n"
                           : "Text is not allowed before the root element.\n";
        anchor = Anchor::kNextNonSpace;
        break;
      case pugi::node_cdata:
        reason = "A CDATA section is not allowed outside the root element.\n";
        break;
      default:
        break;
    }
    first = false;
    if (reason != nullptr) return {reason, node.offset_debug(), anchor};
  }
  // No root: the error stands at the end of the source.
  if (!seen_root) {
    return {"The document has no root element.\n",
            std::numeric_limits<std::ptrdiff_t>::max(), Anchor::kAt};
  }
  return {};
}

void fail_load(InputDocument& document, Status code, std::string reason, TextPosition position) {
  document.dom.reset();
  document.parse_error.errorCode = code;
  document.parse_error.reason = std::move(reason);
  document.parse_error.line = position.line;
  document.parse_error.linepos = position.column;
  document.ready_state = kReadyStateComplete;
}

void begin_load(InputDocument& document, const std::string& url) {
  document.ready_state = kReadyStateLoading;
  document.dom.reset();
  document.parse_error = ParseError{};
  document.parse_error.url = url;
}

// Loads a named source on the URL and plain paths.
void load_named(InputDocument& document, const std::string& name) {
  begin_load(document, name);
  SourceBytes source = read_named_source(name);
  if (source.status != kOk) {
    fail_load(document, source.status, std::move(source.reason), TextPosition{});
    return;
  }
  load_from_bytes(document, source.bytes, name);
}

}  // namespace

Status load_from_bytes(InputDocument& document, std::string_view bytes, const std::string& url) {
  begin_load(document, url);
  pugi::xml_encoding encoding = choose_encoding(bytes);
  pugi::xml_parse_result result = document.dom.load_buffer(
      bytes.data(), bytes.size(), kParseOptions | pugi::parse_fragment, encoding);
  if (!result) {
    TextPosition position;
    if (result.status != pugi::status_out_of_memory &&
        result.status != pugi::status_internal_error) {
      position = locate(bytes, result.encoding, static_cast<std::size_t>(result.offset), Anchor::kAt);
    }
    fail_load(document, kLoadErrorSyntax, syntax_reason(result.status), position);
    return document.parse_error.errorCode;
  }
  StructureProblem problem = check_top_level(document.dom);
  if (problem.reason != nullptr) {
    TextPosition position;
    if (problem.offset >= 0) {
      position = locate(bytes, result.encoding, static_cast<std::size_t>(problem.offset),
                        problem.anchor);
    }
    fail_load(document, kLoadErrorStructure, problem.reason, position);
    return document.parse_error.errorCode;
  }
  document.ready_state = kReadyStateComplete;
  return kOk;
}

Status open_document_stream(const std::string& name, DocumentStream& stream) {
  stream = DocumentStream{};
  SourceBytes source;
  if (name.compare(0, 5, "http:") == 0) {
    stream.url = name;
    source = fetch_source(name);
  } else {
    std::error_code error;
    std::filesystem::path full = std::filesystem::absolute(path_from_utf8(system_to_utf8(name)), error);
    if (name.empty()) error = std::make_error_code(std::errc::no_such_file_or_directory);
    if (error) {
      stream.url = system_to_utf8(name);
      stream.reason = "Cannot read \"" + stream.url + "\": " + error.message() + ".\n";
      return kLoadErrorUnreadable;
    }
    const std::u8string full_text = full.u8string();
    stream.url.assign(full_text.begin(), full_text.end());
    source = read_file_source(full, stream.url);
  }
  if (source.status != kOk) {
    stream.reason = std::move(source.reason);
    return source.status;
  }
  stream.bytes = std::move(source.bytes);
  return kOk;
}

Status load_from_stream(InputDocument& document, const DocumentStream& stream) {
  load_from_bytes(document, stream.bytes, stream.url);
  wait_until_loaded(document);
  return check_load_result(document);
}

Status load_from_url(InputDocument& document, const std::string& name) {
  std::cerr << "Downloading XML document URL\n";
  load_named(document, name);
  wait_until_loaded(document);
  return check_load_result(document);
}

Status load_from_file(InputDocument& document, const std::string& name) {
  load_named(document, name);
  return check_load_result(document);
}

void wait_until_loaded(const InputDocument&) {
  // Every load completes before its load function returns, so the document
  // is at ready state 4 here already; there is nothing to wait for and no
  // queue to drain.
}

Status check_load_result(const InputDocument& document) {
  if (document.ready_state != kReadyStateComplete) return kFail;
  Status code = document.parse_error.errorCode;
  if (code != 0) {
    report_parse_error(document.parse_error);
  } else {
    std::cerr << "XML document loaded successfully\n";
  }
  return code;
}

void report_parse_error(const ParseError& error) {
  std::cerr << utf8_to_console(error.reason);
  if (error.line > 0) {
    std::cerr << "Error on line " << error.line << ", position " << error.linepos << " in \""
              << utf8_to_console(error.url) << "\".\n";
  }
}

}  // namespace quorvel
