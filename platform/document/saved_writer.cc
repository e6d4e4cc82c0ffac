#include "platform/document/saved_writer.h"

#include <algorithm>
#include <charconv>

#include "common/utf.h"
#include "platform/document/document_format.h"

namespace quorvel {

// The layout: a node that is
// not text begins a line, indented by its depth, unless it comes right
// after text; an element without children is written "<name ... />"; an
// end tag begins a line unless it comes right after text.

SavedDocumentWriter::SavedDocumentWriter(std::string& out, SavedEncoding encoding)
    : out_(out), utf8_(encoding == SavedEncoding::kUtf8), used_(out.size()) {
  if (utf8_) return;
  char* to = room(2);
  to[0] = '\xFF';
  to[1] = '\xFE';
  used_ += 2;
}

char* SavedDocumentWriter::room(std::size_t bytes) {
  if (out_.size() - used_ < bytes) {
    constexpr std::size_t kAhead = 64 * 1024;
    out_.resize(std::max(used_ + bytes, out_.size() + kAhead));
  }
  return out_.data() + used_;
}

void SavedDocumentWriter::put_ascii(char c) {
  if (utf8_) {
    *room(1) = c;
    ++used_;
    return;
  }
  char* to = room(2);
  to[0] = c;
  to[1] = '\0';
  used_ += 2;
}

void SavedDocumentWriter::put_ascii(std::string_view ascii) {
  if (utf8_) {
    ascii.copy(room(ascii.size()), ascii.size());
    used_ += ascii.size();
    return;
  }
  char* to = room(2 * ascii.size());
  for (char c : ascii) {
    *to++ = c;
    *to++ = '\0';
  }
  used_ += 2 * ascii.size();
}

// UTF-8 as UTF-16, or as it is (the texts the writer is given are
// holdable_text's, valid UTF-8): a byte that begins no complete sequence is
// dropped, and in UTF-16 a four-byte sequence becomes a surrogate pair.
void SavedDocumentWriter::put_utf8(std::string_view utf8) {
  if (utf8_) {
    char* const start = room(utf8.size());
    char* to = start;
    for (std::size_t at = 0; at < utf8.size();) {
      if (static_cast<unsigned char>(utf8[at]) < 0x80) {
        *to++ = utf8[at++];
        continue;
      }
      const Utf8Char decoded = decode_utf8(utf8, at);
      if (!decoded.complete) {
        ++at;
        continue;
      }
      to = std::copy_n(utf8.data() + at, decoded.length, to);
      at += decoded.length;
    }
    used_ += static_cast<std::size_t>(to - start);
    return;
  }
  // Every byte gives at most one unit of two bytes.
  char* const start = room(2 * utf8.size());
  char* to = start;
  auto unit = [&to](std::uint32_t value) {
    *to++ = static_cast<char>(value & 0xFF);
    *to++ = static_cast<char>((value >> 8) & 0xFF);
  };
  for (std::size_t at = 0; at < utf8.size();) {
    const char c = utf8[at];
    if (static_cast<unsigned char>(c) < 0x80) {
      *to++ = c;
      *to++ = '\0';
      ++at;
      continue;
    }
    const Utf8Char decoded = decode_utf8(utf8, at);
    if (!decoded.complete) {
      ++at;
      continue;
    }
    if (decoded.length == 4) {
      unit(0xD800 + ((decoded.code - 0x10000) >> 10));
      unit(0xDC00 + ((decoded.code - 0x10000) & 0x3FF));
    } else {
      unit(decoded.code);
    }
    at += decoded.length;
  }
  used_ += static_cast<std::size_t>(to - start);
}

// Text escaped where XML needs it: "&", "<" and ">" as references,
// control characters other than tab and line ends as "&#NN;". In an
// attribute value: "&", "<" and '"' as references, every control character
// as "&#NN;", ">" as it is.
void SavedDocumentWriter::put_escaped(std::string_view utf8, bool in_attribute) {
  std::size_t run = 0;
  for (std::size_t i = 0; i < utf8.size(); ++i) {
    const auto c = static_cast<unsigned char>(utf8[i]);
    const bool special =
        in_attribute
            ? (c == '&' || c == '<' || c == '"' || c < 0x20)
            : (c == '&' || c == '<' || c == '>' || (c < 0x20 && c != '\t' && c != '\n' && c != '\r'));
    if (!special) continue;
    put_utf8(utf8.substr(run, i - run));
    run = i + 1;
    switch (c) {
      case '&': put_ascii("&amp;"); break;
      case '<': put_ascii("&lt;"); break;
      case '>': put_ascii("&gt;"); break;
      case '"': put_ascii("&quot;"); break;
      default: {
        const char reference[] = {'&', '#', static_cast<char>('0' + c / 10),
                                  static_cast<char>('0' + c % 10), ';'};
        put_ascii(std::string_view(reference, sizeof reference));
      }
    }
  }
  put_utf8(utf8.substr(run));
}

void SavedDocumentWriter::line_break_and_indent(std::size_t depth) {
  if (newline_) put_ascii('\n');
  if (indent_) {
    for (std::size_t i = 0; i < depth; ++i) put_ascii('\t');
  }
}

void SavedDocumentWriter::open_parent() {
  if (!tag_open_) return;
  put_ascii('>');
  tag_open_ = false;
}

void SavedDocumentWriter::top_level(std::string_view markup) {
  line_break_and_indent(0);
  put_utf8(markup);
  newline_ = indent_ = true;
}

void SavedDocumentWriter::prolog() {
  top_level(utf8_ ? doc::kDeclarationMarkupUtf8 : doc::kDeclarationMarkup);
  top_level(doc::kCommentMarkup);
  top_level(doc::kDoctypeMarkup);
}

void SavedDocumentWriter::start(const char* name) {
  open_parent();
  line_break_and_indent(open_.size());
  put_ascii('<');
  put_utf8(name);
  open_.push_back(name);
  tag_open_ = true;
  newline_ = indent_ = true;
}

void SavedDocumentWriter::attribute(const char* name, std::int32_t value) {
  char digits[16];
  const auto written = std::to_chars(digits, digits + sizeof digits, value);
  put_ascii(' ');
  put_ascii(name);
  put_ascii("=\"");
  put_ascii(std::string_view(digits, static_cast<std::size_t>(written.ptr - digits)));
  put_ascii('"');
}

void SavedDocumentWriter::attribute(const char* name, std::string_view utf8) {
  put_ascii(' ');
  put_ascii(name);
  put_ascii("=\"");
  put_escaped(utf8.substr(0, utf8.find('\0')), true);
  put_ascii('"');
}

void SavedDocumentWriter::text(std::string_view utf8) {
  open_parent();
  put_escaped(utf8.substr(0, utf8.find('\0')));
  newline_ = indent_ = false;
}

void SavedDocumentWriter::cdata(std::string_view utf8) {
  open_parent();
  utf8 = utf8.substr(0, utf8.find('\0'));
  // "]]>" cannot stand in a section: the ">" goes into the next one.
  do {
    const std::size_t end = utf8.find("]]>");
    const std::size_t length = end == std::string_view::npos ? utf8.size() : end + 2;
    put_ascii("<![CDATA[");
    put_utf8(utf8.substr(0, length));
    put_ascii("]]>");
    utf8.remove_prefix(length);
  } while (!utf8.empty());
  newline_ = indent_ = false;
}

void SavedDocumentWriter::end() {
  const char* name = open_.back();
  open_.pop_back();
  if (tag_open_) {
    put_ascii(" />");
    tag_open_ = false;
  } else {
    line_break_and_indent(open_.size());
    put_ascii("</");
    put_utf8(name);
    put_ascii('>');
  }
  newline_ = indent_ = true;
}

void SavedDocumentWriter::finish() {
  if (newline_) put_ascii('\n');
  out_.resize(used_);
}

}  // namespace quorvel
