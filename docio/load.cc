#include "docio/load.h"

#include <filesystem>
#include <iostream>
#include <system_error>
#include <utility>

#include "docio/source.h"
#include "platform/os/console.h"
#include "platform/os/text_encoding.h"
#include "platform/os/url_fetch.h"

namespace quorvel {
namespace {

// Loads a named source on the URL and plain paths.
void load_named(InputDocument& document, const std::string& name) {
  const std::string shown = url_for_display(name);
  begin_load(document, shown);
  std::string bytes;
  Result read = read_named_source(name, bytes);
  if (!read) {
    fail_load(document, read.message() + "\n");
    return;
  }
  (void)load_from_bytes(document, bytes, shown);
}

}  // namespace

Result open_document_stream(const std::string& name, DocumentStream& stream) {
  stream = DocumentStream{};
  Result read;
  if (name.compare(0, 5, "http:") == 0) {
    stream.url = url_for_display(name);
    read = fetch_source(name, stream.bytes);
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
    read = read_file_source(full, stream.url, stream.bytes);
  }
  return read;
}

Result load_from_stream(InputDocument& document, const DocumentStream& stream) {
  (void)load_from_bytes(document, stream.bytes, stream.url);
  return check_load_result(document);
}

Result load_from_url(InputDocument& document, const std::string& name) {
  std::cerr << "Downloading XML document URL\n";
  load_named(document, name);
  return check_load_result(document);
}

Result load_from_file(InputDocument& document, const std::string& name) {
  load_named(document, name);
  return check_load_result(document);
}

Result check_load_result(const InputDocument& document) {
  const ParseError& error = document.parse_error;
  if (error.failed) {
    report_parse_error(error);
    return load_failure(error);
  }
  std::cerr << "XML document loaded successfully\n";
  return Result();
}

void report_parse_error(const ParseError& error) {
  std::cerr << utf8_to_console(mask_passwords(error.reason));
  if (error.line > 0) {
    std::cerr << "Error on line " << error.line << ", position " << error.linepos << " in \""
              << utf8_to_console(printable(mask_passwords(error.url))) << "\".\n";
  }
}

}  // namespace quorvel
