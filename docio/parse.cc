// Parsing a source into the input document: its bytes held whole, or a
// regular file as it is read.
#include <string>

#include "docio/load.h"
#include "platform/document/document_parse.h"

namespace quorvel {
void parse_into(InputDocument& document, std::string_view bytes, const std::string& url) {
  begin_load(document, url);
  if (Result parsed = parse_document(bytes, document.document); !parsed) {
    fail_load(document, parsed.error());
  }
}

Result load_from_bytes(InputDocument& document, std::string_view bytes, const std::string& url) {
  parse_into(document, bytes, url);
  if (!document.verdict) return Result::failure(document.verdict.message());
  return Result();
}

bool load_file_in_pieces(InputDocument& document, const std::filesystem::path& path,
                         std::size_t piece, Progress* progress) {
  return read_document(path, document.document, piece, progress);
}

}  // namespace quorvel
