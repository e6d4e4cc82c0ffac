// Parsing a source into the input document: its bytes held whole, or a
// regular file as it is read.
#include <string>

#include "docio/load.h"
#include "platform/document/document_parse.h"

namespace quorvel {
void parse_into(InputDocument& document, std::string_view bytes, const std::string& url) {
  begin_load(document, url);
  const Result parsed = parse_document(bytes, document.document);
  if (!parsed) {
    const Error& error = parsed.error();
    fail_load(document, error.message + "\n", error.line, error.column);
    document.parse_error.no_memory = error.kind == kXmlNoMemory;
  }
}

Result load_from_bytes(InputDocument& document, std::string_view bytes, const std::string& url) {
  parse_into(document, bytes, url);
  if (document.parse_error.failed) return load_failure(document.parse_error);
  return Result();
}

bool load_file_in_pieces(InputDocument& document, const std::filesystem::path& path,
                         std::size_t piece, Progress* progress) {
  return read_document(path, document.document, piece, progress);
}

}  // namespace quorvel
