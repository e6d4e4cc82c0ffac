// Parsing a source into the input document: its bytes held whole, or a
// regular file as it is read.
#include <algorithm>
#include <cstdint>
#include <fstream>
#include <istream>
#include <limits>
#include <new>
#include <string>
#include <system_error>

#include "docio/load.h"
#include "platform/document/document_parse.h"

namespace quorvel {
namespace {

// The bytes of a file after its head, from the one handle it was opened
// with.
class FileBytes final : public XmlByteSource {
 public:
  explicit FileBytes(std::istream& in) : in_(in) {}
  std::size_t read(char* out, std::size_t size) override {
    const std::streamsize got = in_.rdbuf()->sgetn(out, static_cast<std::streamsize>(size));
    return got > 0 ? static_cast<std::size_t>(got) : 0;
  }

 private:
  std::istream& in_;
};

// The parse of load_file_in_pieces: whether the document was read.
bool parse_file_in_pieces(const std::filesystem::path& path, std::size_t piece,
                          Document& document) {
  std::error_code error;
  if (!std::filesystem::is_regular_file(path, error)) return false;
  try {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    // The size of what this handle reads, whatever the name leads to by now.
    const std::streamoff end = in.rdbuf()->pubseekoff(0, std::ios::end);
    if (end < 0 || in.rdbuf()->pubseekpos(0) != std::streampos(0)) return false;
    const auto size = static_cast<std::uint64_t>(end);
    FileBytes rest(in);
    std::string head(static_cast<std::size_t>(std::min<std::uint64_t>(size, kXmlSourceHead)),
                     '\0');
    for (std::size_t got = 0; got < head.size();) {
      const std::size_t read = rest.read(head.data() + got, head.size() - got);
      if (read == 0) return false;  // shorter than it was a moment ago
      got += read;
    }
    if (piece == 0) {
      piece = static_cast<std::size_t>(std::min<std::uint64_t>(
          std::max<std::uint64_t>(kFilePiece, size / 16), std::numeric_limits<std::size_t>::max()));
    }
    return read_document(head, rest, size, document, piece);
  } catch (const std::bad_alloc&) {
    return false;
  }
}

}  // namespace

Result load_from_bytes(InputDocument& document, std::string_view bytes, const std::string& url) {
  begin_load(document, url);
  XmlParseOutcome parsed = parse_document(bytes, document.document);
  if (parsed.problem != XmlProblem::kNone) {
    fail_load(document, parsed.reason, parsed.position.line, parsed.position.column);
    document.parse_error.no_memory = parsed.problem == XmlProblem::kNoMemory;
    return load_failure(document.parse_error);
  }
  return Result();
}

bool load_file_in_pieces(InputDocument& document, const std::filesystem::path& path,
                         std::size_t piece) {
  if (parse_file_in_pieces(path, piece, document.document)) return true;
  document.document.reset();
  return false;
}

}  // namespace quorvel
