// Writing a document in the saved-file format node by node: UTF-16 LE with
// a byte order mark (or, asked for, UTF-8 without one, its declaration
// saying so), indented with tabs, text escaped where XML needs it.
// Every saved document is written by it, straight from the mixer's parts
// (document_writer.h).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/document/document_sink.h"

namespace quorvel {

// The encoding a document is saved in.
enum class SavedEncoding {
  kUtf16,  // UTF-16 LE with a byte order mark: every saved document unless asked
  kUtf8,   // UTF-8, declared so: text that diff, grep and git read as text
};

class SavedDocumentWriter final : public DocumentSink {
 public:
  // Appends to `out`, starting with the byte order mark (UTF-16). Reserve
  // room in `out` beforehand to keep it from being copied as it grows.
  explicit SavedDocumentWriter(std::string& out, SavedEncoding encoding = SavedEncoding::kUtf16);

  void prolog() override;
  void start(const char* name) override;
  void attribute(const char* name, std::int32_t value) override;
  void attribute(const char* name, std::string_view utf8) override;
  void text(std::string_view utf8) override;
  void cdata(std::string_view utf8) override;
  void end() override;
  // `out` then holds exactly what was written.
  void finish() override;

 private:
  // A node outside the root element, given as its markup.
  void top_level(std::string_view markup);
  // Room for `bytes` more at out_[used_]: the string grows a little ahead
  // of what is written, so that room reserved but never written is never
  // touched.
  char* room(std::size_t bytes);
  void put_ascii(std::string_view ascii);
  void put_ascii(char c);
  void put_utf8(std::string_view utf8);
  void put_escaped(std::string_view utf8, bool in_attribute = false);
  void open_parent();
  void line_break_and_indent(std::size_t depth);

  std::string& out_;
  const bool utf8_;                // UTF-8 rather than UTF-16
  std::size_t used_ = 0;           // bytes of out_ written
  std::vector<const char*> open_;  // the names of the elements open
  bool tag_open_ = false;          // the last start tag awaits its ">"
  bool newline_ = false;           // what comes next begins a line
  bool indent_ = true;             // ... and is indented
};

}  // namespace quorvel
