// Loading a mixer document into the input document, on the three paths of a
// run: a stream opened on a full path or an "http:" name (-local), a name
// that may be a URL (-url), and a plain name. Every path ends in the same
// check, which writes "XML document loaded successfully\n" or the reason of
// the failure to the standard error stream and fails with the document's
// error code.
//
// Files: load.cc (the paths), source.cc (reading a source whole), parse.cc
// (parsing, with the checks of platform/xml/xml_parse.h).
//
// Loads are synchronous: when a load function returns, the document is
// complete (ready state 4), holding either the whole parsed tree or, after a
// failure, nothing at all, with the failure described in its parse_error.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "common/result.h"
#include "docio/input_document.h"
#include "platform/os/url_fetch.h"

namespace quorvel {

// What a failed load leaves in ParseError::errorCode (and in the failure's
// code); every one is negative.
inline constexpr std::int32_t kLoadErrorUnreadable = kFetchErrorUnreadable;  // no such source
inline constexpr std::int32_t kLoadErrorTimeout = kFetchErrorTimeout;        // no answer in time
inline constexpr std::int32_t kLoadErrorTooLarge = kFetchErrorTooLarge;      // over the size bound,
                                                                              // or no memory to parse
inline constexpr std::int32_t kLoadErrorSyntax = static_cast<std::int32_t>(0xC00CE500u);  // not well-formed
inline constexpr std::int32_t kLoadErrorStructure = static_cast<std::int32_t>(0xC00CE501u);  // not one root

// A source opened for the stream path: its content, read whole.
struct DocumentStream {
  std::string url;     // the full path or "http:" URL the stream was opened on (UTF-8),
                       // as messages show it (without a password)
  std::string bytes;   // the source's bytes, as stored
};

// Opens the stream path's source. A name that begins exactly "http:" is
// fetched as it is; any other name is made a full path against the current
// directory and read as a file. `name` is 8-bit text in the system code page.
// Writes nothing. A failure carries a kLoadError code and the reason as the
// loader reports it (ending with ".\n").
Result open_document_stream(const std::string& name, DocumentStream& stream);

// Loads the document from an opened stream, then checks the result.
Result load_from_stream(InputDocument& document, const DocumentStream& stream);

// Writes "Downloading XML document URL\n", loads the document from `name`
// (an http or https URL, otherwise a file path) and checks the result.
// `name` is UTF-8.
Result load_from_url(InputDocument& document, const std::string& name);

// Loads the document from `name` (an http or https URL, otherwise a file
// path) and checks the result. `name` is UTF-8.
Result load_from_file(InputDocument& document, const std::string& name);

// Returns once the document has reached ready state 4. Loads finish before
// their load function returns, so this never blocks.
void wait_until_loaded(const InputDocument& document);

// Writes the outcome of the finished load: the success line, or the parse
// error report. Fails with the parse error code and reason, or, writing
// nothing, when the document is not complete.
Result check_load_result(const InputDocument& document);

// Writes the reason, then, when the error has a line, the line report.
void report_parse_error(const ParseError& error);

// Parses `bytes` (UTF-8, UTF-16 or UTF-32 in either byte order with or
// without a byte order mark, or a declared ISO-8859-1) into the document,
// writing nothing. The document must be well-formed XML (as a conforming
// parser reads it, namespaces included) and hold exactly one root element,
// with nothing but comments and processing instructions after it. On failure the
// document is left empty and parse_error says where and why; `url` names the
// source in that report. Fails with the parse error code and reason.
Result load_from_bytes(InputDocument& document, std::string_view bytes, const std::string& url);

}  // namespace quorvel
