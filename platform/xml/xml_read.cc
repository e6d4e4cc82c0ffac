#include "platform/xml/xml_read.h"

#include <expat.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <exception>
#include <fstream>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "common/utf.h"
#include "platform/xml/xml_events.h"

namespace quorvel {
namespace {

// The text Expat reads: the source itself when it is UTF-8 or ISO-8859-1,
// else (UTF-16, UTF-32) the source converted to UTF-8, with whatever is not
// a character there (a lone surrogate) made a byte that is not UTF-8, so
// that Expat refuses it where it stands.
enum class Text { kUtf8, kLatin1 };

const char* source_name(XmlEncoding encoding) {
  switch (encoding) {
    case XmlEncoding::kUtf16Le:
    case XmlEncoding::kUtf16Be: return "UTF-16";
    case XmlEncoding::kUtf32Le:
    case XmlEncoding::kUtf32Be: return "UTF-32";
    case XmlEncoding::kLatin1: return "ISO-8859-1";
    default: return "UTF-8";
  }
}

// The character that starts at byte `at`: its code and its length in
// bytes; 0 when the bytes there are not a character (a broken or over-long
// UTF-8 sequence, a surrogate) or the text ends.
std::size_t decode_at(std::string_view text, Text encoding, std::size_t at, char32_t& code) {
  const auto byte = [&](std::size_t i) -> char32_t { return static_cast<unsigned char>(text[i]); };
  if (at >= text.size()) return 0;
  if (encoding == Text::kLatin1) {
    code = byte(at);
    return 1;
  }
  const Utf8Char decoded = decode_utf8(text, at);
  if (!decoded.valid()) return 0;
  code = decoded.code;
  return decoded.length;
}

// Writes `code` as UTF-8 at `out`; returns the end of what it wrote.
char* put_utf8(char* out, char32_t code) {
  if (code < 0x80) {
    *out++ = static_cast<char>(code);
  } else if (code < 0x800) {
    *out++ = static_cast<char>(0xC0 | (code >> 6));
    *out++ = static_cast<char>(0x80 | (code & 0x3F));
  } else if (code < 0x10000) {
    *out++ = static_cast<char>(0xE0 | (code >> 12));
    *out++ = static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    *out++ = static_cast<char>(0x80 | (code & 0x3F));
  } else {
    *out++ = static_cast<char>(0xF0 | (code >> 18));
    *out++ = static_cast<char>(0x80 | ((code >> 12) & 0x3F));
    *out++ = static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    *out++ = static_cast<char>(0x80 | (code & 0x3F));
  }
  return out;
}

// A text converted to UTF-8, in a buffer of its own. Allocated uninitialised
// to an upper bound of its size: the pages past what is written are never
// touched, so the bound costs no memory.
struct Converted {
  std::unique_ptr<char[]> buffer;
  std::size_t size = 0;
  std::string_view view() const { return {buffer.get(), size}; }
};

// UTF-16 or UTF-32 (either byte order) as UTF-8, the byte order mark kept;
// except that what is not a character becomes the byte 0xFF, which Expat
// refuses where it stands. A piece at a time, or
// whole. `ends`: the bytes are the source's last; when they are not, a
// high surrogate at their end is left for the bytes that follow, as is a
// unit cut off there.
class Utf8Converter {
 public:
  Utf8Converter(std::string_view bytes, XmlEncoding encoding, bool ends = true)
      : in_(reinterpret_cast<const unsigned char*>(bytes.data())),
        size_(bytes.size()),
        wide_(encoding == XmlEncoding::kUtf32Le || encoding == XmlEncoding::kUtf32Be),
        little_(encoding == XmlEncoding::kUtf16Le || encoding == XmlEncoding::kUtf32Le),
        ends_(ends),
        unit_(wide_ ? 4 : 2) {}

  // Bytes of UTF-8 that `units` units may give at most: a UTF-16 unit three
  // (a pair four for its two units), a UTF-32 unit four.
  std::size_t room_for(std::size_t units) const { return (wide_ ? 4 : 3) * units; }
  std::size_t units_left() const { return (size_ - at_) / unit_; }
  bool done() const { return at_ + unit_ > size_; }
  // The bytes converted so far.
  std::size_t converted() const { return at_; }

  // Converts up to `units` units to `out`; returns the end of what it
  // wrote. A surrogate pair is never split between two pieces.
  char* convert(std::size_t units, char* out) {
    const std::size_t end = std::min(size_, at_ + units * unit_);
    while (at_ + unit_ <= end) {
      // Little-endian UTF-16 (the saved form) below U+0080, four units at
      // a time.
      if (little_ && !wide_) {
        std::uint64_t four;
        while (at_ + 8 <= end &&
               (std::memcpy(&four, in_ + at_, 8), (four & 0xFF80FF80FF80FF80u) == 0)) {
          out[0] = static_cast<char>(four);
          out[1] = static_cast<char>(four >> 16);
          out[2] = static_cast<char>(four >> 32);
          out[3] = static_cast<char>(four >> 48);
          out += 4;
          at_ += 8;
        }
        if (at_ + unit_ > end) break;
      }
      char32_t code = read(at_);
      if (code < 0x80) {
        *out++ = static_cast<char>(code);
        at_ += unit_;
        continue;
      }
      if (!wide_ && code >= 0xD800 && code < 0xDC00) {
        if (at_ + 2 * unit_ <= size_) {
          if (at_ + 2 * unit_ > end) break;  // the pair goes into the next piece
          const Utf16Char decoded = decode_utf16(code, read(at_ + unit_));
          code = decoded.code;
          at_ += (decoded.units - 1) * unit_;
        } else if (!ends_) {
          break;  // its other half is in the bytes that follow
        }
      }
      at_ += unit_;
      if (code > 0x10FFFF || is_surrogate(code)) {
        *out++ = '\xFF';
      } else {
        out = put_utf8(out, code);
      }
    }
    return out;
  }

 private:
  char32_t read(std::size_t at) const {
    const unsigned char* p = in_ + at;
    if (!wide_) {
      return little_ ? char32_t{p[0]} | (char32_t{p[1]} << 8) : (char32_t{p[0]} << 8) | p[1];
    }
    return little_ ? char32_t{p[0]} | (char32_t{p[1]} << 8) | (char32_t{p[2]} << 16) |
                         (char32_t{p[3]} << 24)
                   : (char32_t{p[0]} << 24) | (char32_t{p[1]} << 16) | (char32_t{p[2]} << 8) |
                         p[3];
  }

  const unsigned char* in_;
  std::size_t size_;
  bool wide_;
  bool little_;
  bool ends_;
  std::size_t unit_;
  std::size_t at_ = 0;
};

Converted to_utf8(std::string_view bytes, XmlEncoding encoding) {
  Utf8Converter converter(bytes, encoding);
  const std::size_t units = converter.units_left();
  Converted out;
  out.buffer.reset(new char[converter.room_for(units) + 1]);
  out.size = static_cast<std::size_t>(converter.convert(units, out.buffer.get()) -
                                      out.buffer.get());
  return out;
}

bool xml_allows(char32_t code) {
  return code == 0x9 || code == 0xA || code == 0xD || (code >= 0x20 && code <= 0xD7FF) ||
         (code >= 0xE000 && code <= 0xFFFD) || (code >= 0x10000 && code <= 0x10FFFF);
}

bool name_character(char32_t code) {
  return (code >= 'a' && code <= 'z') || (code >= 'A' && code <= 'Z') ||
         (code >= '0' && code <= '9') || code == '.' || code == '-' || code == '_' ||
         code == ':' || code == '#' || code >= 0x80;
}

// The byte of the last character before `offset`, looked for in the last
// few hundred bytes, that is `wanted` with only characters `between`
// allows after it. None: npos.
template <typename Between>
std::size_t last_before(std::string_view text, Text encoding, std::size_t offset, char32_t wanted,
                        Between between) {
  std::size_t at = offset > 512 ? offset - 512 : 0;
  if (encoding == Text::kUtf8) {
    while (at < offset && (static_cast<unsigned char>(text[at]) & 0xC0) == 0x80) ++at;
  }
  std::size_t found = std::string_view::npos;
  while (at < offset) {
    char32_t code = 0;
    std::size_t length = decode_at(text, encoding, at, code);
    if (length == 0) {
      found = std::string_view::npos;
      ++at;
      continue;
    }
    if (code == wanted) {
      found = at;
    } else if (!between(code)) {
      found = std::string_view::npos;
    }
    at += length;
  }
  return found;
}

std::string hex_code(char32_t code) {
  char text[16];
  std::snprintf(text, sizeof text, "U+%04X", static_cast<unsigned>(code));
  return text;
}

bool predefined_entity(std::string_view name) {
  return name == "amp" || name == "lt" || name == "gt" || name == "quot" || name == "apos";
}

// A name as written: Expat gives a name in a namespace as URI, separator,
// local name and, when it has one, separator and prefix.
const char* written_name(const XML_Char* name, std::string& room) {
  const char* first = std::strchr(name, '\n');
  if (first == nullptr) return name;
  const char* second = std::strchr(first + 1, '\n');
  if (second == nullptr) {
    room.assign(first + 1);
  } else {
    room.assign(second + 1);
    room += ':';
    room.append(first + 1, second);
  }
  return room.c_str();
}

struct Check {
  XML_Parser parser = nullptr;
  std::string reason;            // set by a handler that stopped the parse
  XML_Index offset = -1;         // where, in the text Expat reads
  std::size_t then = 0;          // characters after `offset`
  bool in_declaration = false;   // `offset` is inside a declaration: show its "<"
  bool external_subset = false;  // the document names a DTD that is not read
  bool latin1 = false;           // Expat reads ISO-8859-1 (else UTF-8)
  // What has been read so far, for saying why the parser refused what
  // follows: where the last piece of the text it took ends, the names of
  // the elements open, and what the top level has had.
  XML_Index taken = 0;
  std::vector<std::string> open;
  bool root_seen = false;
  bool doctype_seen = false;
  XML_Index cdata_at = -1;  // the CDATA section open starts here
  bool in_doctype = false;  // inside the document type declaration
  bool out_of_memory = false;
};

// The text the parser has taken ends after its current event.
void taken_to_here(Check& check) {
  const XML_Index index = XML_GetCurrentByteIndex(check.parser);
  const int count = XML_GetCurrentByteCount(check.parser);
  if (index >= 0) check.taken = std::max(check.taken, index + std::max(count, 0));
}

void stop(Check& check, std::string reason, std::size_t then = 0) {
  if (!check.reason.empty()) return;
  check.reason = std::move(reason);
  check.offset = XML_GetCurrentByteIndex(check.parser);
  check.then = then;
  XML_StopParser(check.parser, XML_FALSE);
}

void XMLCALL on_entity_declaration(void* data, const XML_Char* name, int, const XML_Char*, int,
                                   const XML_Char*, const XML_Char*, const XML_Char*,
                                   const XML_Char*) {
  Check& check = *static_cast<Check*>(data);
  stop(check, std::string("The document declares the entity \"") + name +
                  "\"; only the entities XML itself defines are allowed.\n");
  // Expat reports the declaration where it has read it to.
  check.in_declaration = true;
}

// Called for a reference to an entity that is not declared where Expat
// does not count it an error: in a document whose DTD it has not read.
// The DTD is never read, and declarations are refused anyway, so the
// entity does not exist.
void XMLCALL on_skipped_entity(void* data, const XML_Char* name, int) {
  stop(*static_cast<Check*>(data),
       std::string("The entity \"&") + name + ";\" is not defined.\n");
}


// The length of the start tag at the head of `text`, up to its closing '>'
// (a '>' inside a quoted attribute value does not end it).
std::size_t start_tag_length(std::string_view text) {
  char quote = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (quote != 0) {
      if (c == quote) quote = 0;
    } else if (c == '"' || c == '\'') {
      quote = c;
    } else if (c == '>') {
      return i;
    }
  }
  return text.size();
}

// A start tag, in a document with a DTD that is not read: there Expat
// drops a reference to an undeclared entity in an attribute value without a
// word (it cannot report it as skipped). The tag's text is still in Expat's
// input (UTF-8 or ISO-8859-1, as given), complete and well-formed.
void check_tag_references(Check& check) {
  int offset = 0;
  int size = 0;
  const char* input = XML_GetInputContext(check.parser, &offset, &size);
  if (input == nullptr || offset < 0 || offset >= size) return;
  std::string_view rest(input + offset, static_cast<std::size_t>(size - offset));
  // A tag holds no "<" after its first: most have no "&" before the next
  // one, which two scans of the bytes tell.
  rest = rest.substr(0, rest.find('<', 1));
  if (rest.find('&') == std::string_view::npos) return;
  const std::string_view tag = rest.substr(0, start_tag_length(rest));
  std::size_t ampersand = tag.find('&');
  while (ampersand != std::string_view::npos) {
    const std::size_t end = tag.find(';', ampersand);
    const std::string_view name = tag.substr(ampersand + 1, end - ampersand - 1);
    if (!name.empty() && name[0] != '#' && !predefined_entity(name)) {
      std::size_t characters = 0;
      for (std::size_t i = 0; i < ampersand; ++i) {
        if (check.latin1 || (static_cast<unsigned char>(tag[i]) & 0xC0) != 0x80) ++characters;
      }
      stop(check, "The entity \"&" + std::string(name) + ";\" is not defined.\n", characters);
      return;
    }
    ampersand = tag.find('&', end);
  }
}

void XMLCALL on_doctype(void* data, const XML_Char*, const XML_Char* system_id, const XML_Char*,
                        int) {
  Check& check = *static_cast<Check*>(data);
  check.external_subset = system_id != nullptr;
  check.doctype_seen = true;
  check.in_doctype = true;
  taken_to_here(check);
}

void XMLCALL on_doctype_end(void* data) {
  Check& check = *static_cast<Check*>(data);
  check.in_doctype = false;
  taken_to_here(check);
}

void XMLCALL on_start_element(void* data, const XML_Char* name, const XML_Char**) {
  Check& check = *static_cast<Check*>(data);
  // Only a document that names a DTD needs its start tags looked at.
  if (check.external_subset) check_tag_references(check);
  check.root_seen = true;
  try {
    std::string room;
    check.open.emplace_back(written_name(name, room));
  } catch (const std::bad_alloc&) {
    check.out_of_memory = true;
    XML_StopParser(check.parser, XML_FALSE);
    return;
  }
  taken_to_here(check);
}

void XMLCALL on_end_element(void* data, const XML_Char*) {
  Check& check = *static_cast<Check*>(data);
  if (!check.open.empty()) check.open.pop_back();
  taken_to_here(check);
}

void XMLCALL on_characters(void* data, const XML_Char*, int) {
  taken_to_here(*static_cast<Check*>(data));
}

void XMLCALL on_comment(void* data, const XML_Char*) { taken_to_here(*static_cast<Check*>(data)); }

void XMLCALL on_instruction(void* data, const XML_Char*, const XML_Char*) {
  taken_to_here(*static_cast<Check*>(data));
}

void XMLCALL on_declaration(void* data, const XML_Char*, const XML_Char*, int) {
  taken_to_here(*static_cast<Check*>(data));
}

void XMLCALL on_cdata_start(void* data) {
  Check& check = *static_cast<Check*>(data);
  check.cdata_at = XML_GetCurrentByteIndex(check.parser);
  taken_to_here(check);
}

void XMLCALL on_cdata_end(void* data) {
  Check& check = *static_cast<Check*>(data);
  check.cdata_at = -1;
  taken_to_here(check);
}

void XMLCALL on_default(void* data, const XML_Char*, int) {
  taken_to_here(*static_cast<Check*>(data));
}

// Why Expat refused the text, as the loader says it.
std::string reason_for(XML_Error error, std::string_view text, Text encoding, const char* source,
                       std::size_t& offset) {
  switch (error) {
    case XML_ERROR_DUPLICATE_ATTRIBUTE: return "An attribute appears twice in the same tag.\n";
    case XML_ERROR_UNDEFINED_ENTITY: return "A reference names an entity that is not defined.\n";
    case XML_ERROR_UNBOUND_PREFIX:
      return "A namespace prefix is used without being declared.\n";
    case XML_ERROR_MISPLACED_XML_PI:
      return "The XML declaration must come first in the document.\n";
    case XML_ERROR_BAD_CHAR_REF:
      return "A character reference names a character that XML does not allow.\n";
    case XML_ERROR_INVALID_TOKEN: {
      char32_t code = 0;
      if (decode_at(text, encoding, offset, code) == 0) {
        return std::string("The text is not valid ") + source + " here.\n";
      }
      if (!xml_allows(code)) {
        return "The character " + hex_code(code) + " is not allowed in XML.\n";
      }
      if (code == '<') {
        return "A \"<\" cannot stand here (in text and attribute values it is written "
               "\"&lt;\").\n";
      }
      // The reference that ends, unfinished, here: an "&" with only name
      // characters after it.
      const std::size_t ampersand = last_before(text, encoding, offset, '&', name_character);
      if (ampersand != std::string_view::npos) {
        offset = ampersand;
        return "An \"&\" must begin a reference ending with \";\" (the character itself is "
               "written \"&amp;\").\n";
      }
      return "The markup here is not well-formed.\n";
    }
    default: {
      std::string said = XML_ErrorString(error) != nullptr ? XML_ErrorString(error) : "";
      if (said.empty()) return "The document is not well-formed.\n";
      said[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(said[0])));
      return said + ".\n";
    }
  }
}

// Frees the parser on every way out.
struct ParserHolder {
  XML_Parser parser;
  ~ParserHolder() {
    if (parser != nullptr) XML_ParserFree(parser);
  }
};

// A parser with namespaces on (names come back as URI, separator, local
// name) and the check's handlers; null when there is no memory for one.
XML_Parser make_parser(Text encoding, Check& check) {
  XML_Parser parser =
      XML_ParserCreateNS(encoding == Text::kLatin1 ? "ISO-8859-1" : "UTF-8", '\n');
  if (parser == nullptr) return nullptr;
  check.parser = parser;
  check.latin1 = encoding == Text::kLatin1;
  XML_SetUserData(parser, &check);
  XML_SetEntityDeclHandler(parser, on_entity_declaration);
  XML_SetSkippedEntityHandler(parser, on_skipped_entity);
  XML_SetDoctypeDeclHandler(parser, on_doctype, on_doctype_end);
  XML_SetElementHandler(parser, on_start_element, on_end_element);
  XML_SetCharacterDataHandler(parser, on_characters);
  XML_SetCommentHandler(parser, on_comment);
  XML_SetProcessingInstructionHandler(parser, on_instruction);
  XML_SetXmlDeclHandler(parser, on_declaration);
  XML_SetCdataSectionHandler(parser, on_cdata_start, on_cdata_end);
  XML_SetDefaultHandlerExpand(parser, on_default);
  XML_SetParamEntityParsing(parser, XML_PARAM_ENTITY_PARSING_NEVER);
  XML_SetReturnNSTriplet(parser, XML_TRUE);
  return parser;
}

bool converted_to_utf8(XmlEncoding encoding) {
  return encoding == XmlEncoding::kUtf16Le || encoding == XmlEncoding::kUtf16Be ||
         encoding == XmlEncoding::kUtf32Le || encoding == XmlEncoding::kUtf32Be;
}

// Feeds the source to `parser` a piece at a time into Expat's own buffer
// (converted to UTF-8 on the way where it must be): no copy of the whole
// text is made, in Expat or here. The pieces are at least a sixteenth of
// the source, so that Expat, which reads a token that spans pieces again
// with each, reads no token more than sixteen times; a small source goes
// in one piece of its own size. Whether Expat took it all.
bool parse_in_pieces(XML_Parser parser, std::string_view bytes, XmlEncoding encoding) {
  constexpr std::size_t kSmallestPiece = std::size_t{1} << 20;
  const std::size_t piece =
      std::min(std::max(kSmallestPiece, bytes.size() / 16 + 1), std::max<std::size_t>(bytes.size(), 1));
  if (!converted_to_utf8(encoding)) {
    std::size_t at = 0;
    do {
      const std::size_t size = std::min(piece, bytes.size() - at);
      void* buffer = XML_GetBuffer(parser, static_cast<int>(size));
      if (buffer == nullptr) return false;
      if (size > 0) std::memcpy(buffer, bytes.data() + at, size);
      at += size;
      if (XML_ParseBuffer(parser, static_cast<int>(size), at == bytes.size()) != XML_STATUS_OK) {
        return false;
      }
    } while (at < bytes.size());
    return true;
  }
  Utf8Converter converter(bytes, encoding);
  const std::size_t units =
      bytes.size() <= kSmallestPiece ? converter.units_left() + 1 : piece / 4 + 1;
  do {
    const std::size_t room = converter.room_for(units);
    auto* buffer = static_cast<char*>(XML_GetBuffer(parser, static_cast<int>(room)));
    if (buffer == nullptr) return false;
    const std::size_t size = static_cast<std::size_t>(converter.convert(units, buffer) - buffer);
    if (XML_ParseBuffer(parser, static_cast<int>(size), converter.done()) != XML_STATUS_OK) {
      return false;
    }
  } while (!converter.done());
  return true;
}

// --- One pass for the nodes ---------------------------------------------------

// Expat's events turned into the document's nodes (xml_events.h). A
// document that declares an entity stops it (the check refuses it), as does
// a reference to an entity that does not exist, and a handler that stops.
struct NodeReader {
  XML_Parser parser = nullptr;
  XmlNodeHandler* handler = nullptr;
  std::string text;          // the run of text being gathered
  bool text_counts = false;  // the run is more than white space in the source
  bool in_cdata = false;
  bool stopped = false;
  bool latin1 = false;
  bool external_subset = false;  // the document names a DTD that is not read
  // Namespace declarations of the start tag to come, as attributes
  // ("xmlns" or "xmlns:prefix", the URI).
  std::vector<std::pair<std::string, std::string>> declarations;
  // Where the document type declaration starts in the text Expat reads.
  XML_Index doctype_at = -1;
  // Room for names and attributes as written.
  std::vector<std::string> names;
  std::vector<const char*> attributes;
  // What a handler threw: it cannot pass through the parser, so the pass
  // stops and it is thrown again once the parser has returned.
  std::exception_ptr failure;
};

void halt(NodeReader& reader) {
  if (reader.stopped) return;
  reader.stopped = true;
  XML_StopParser(reader.parser, XML_FALSE);
}

// Runs the body of one of the parser's handlers. What it throws cannot pass
// through the parser: it stops the pass, and is thrown again once the
// parser has returned.
template <typename Body>
void guarded(void* data, Body body) {
  NodeReader& reader = *static_cast<NodeReader*>(data);
  try {
    body(reader);
  } catch (...) {
    reader.failure = std::current_exception();
    halt(reader);
  }
}

bool xml_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

// The run of text gathered so far becomes a node, unless the source had
// only white space there (such a run is no node).
bool flush_text(NodeReader& reader) {
  if (reader.stopped) return false;
  if (!reader.text.empty()) {
    const bool counts = reader.text_counts;
    reader.text_counts = false;
    if (counts && !reader.handler->text(reader.text, false)) {
      reader.text.clear();
      halt(reader);
      return false;
    }
    reader.text.clear();
  }
  return true;
}

void XMLCALL node_characters(void* data, const XML_Char* s, int length) {
  guarded(data, [&](NodeReader& reader) {
    if (reader.stopped) return;
    const std::size_t size = static_cast<std::size_t>(length);
    reader.text.append(s, size);
    if (reader.text_counts || reader.in_cdata) return;
    for (std::size_t i = 0; i < size; ++i) {
      if (!xml_space(s[i])) {
        reader.text_counts = true;
        return;
      }
    }
    // White space: as the source has it, or from a reference (which counts
    // as text), or a CR LF made LF. Only the source tells.
    if (XML_GetCurrentByteCount(reader.parser) == length) return;
    int offset = 0;
    int available = 0;
    const char* input = XML_GetInputContext(reader.parser, &offset, &available);
    if (input == nullptr || offset < 0 || offset >= available || input[offset] == '&') {
      reader.text_counts = true;
    }
  });
}

void XMLCALL node_namespace(void* data, const XML_Char* prefix, const XML_Char* uri) {
  guarded(data, [&](NodeReader& reader) {
    reader.declarations.emplace_back(prefix != nullptr ? std::string("xmlns:") + prefix : "xmlns",
                                     uri != nullptr ? uri : "");
  });
}

// The names of the attributes of the start tag Expat is at, in the order
// written; empty when its text is not at hand.
std::vector<std::string_view> written_order(XML_Parser parser) {
  std::vector<std::string_view> order;
  int offset = 0;
  int size = 0;
  const char* input = XML_GetInputContext(parser, &offset, &size);
  if (input == nullptr || offset < 0 || offset >= size) return order;
  const std::string_view tag(input + offset, static_cast<std::size_t>(size - offset));
  std::size_t at = 1;
  while (at < tag.size() && !xml_space(tag[at]) && tag[at] != '>' && tag[at] != '/') ++at;
  for (;;) {
    while (at < tag.size() && xml_space(tag[at])) ++at;
    if (at >= tag.size() || tag[at] == '>' || tag[at] == '/') return order;
    const std::size_t name = at;
    while (at < tag.size() && !xml_space(tag[at]) && tag[at] != '=') ++at;
    order.push_back(tag.substr(name, at - name));
    at = tag.find_first_of("\"'", at);
    if (at == std::string_view::npos) return {};
    at = tag.find(tag[at], at + 1);
    if (at == std::string_view::npos) return {};
    ++at;
  }
}

void XMLCALL node_start(void* data, const XML_Char* name, const XML_Char** attributes) {
  guarded(data, [&](NodeReader& reader) {
    if (!flush_text(reader)) return;
    if (reader.external_subset) {
      // A reference to an entity that does not exist, which Expat drops
      // from an attribute value without a word there: as the check does.
      Check check;
      check.parser = reader.parser;
      check.latin1 = reader.latin1;
      check_tag_references(check);
      if (!check.reason.empty()) {
        halt(reader);
        return;
      }
    }
    // Only the attributes written: those a declaration in the document type
    // adds are not in the document.
    const int specified = XML_GetSpecifiedAttributeCount(reader.parser);
    const std::size_t count = specified < 0 ? 0 : static_cast<std::size_t>(specified) / 2;
    const std::size_t total = count + reader.declarations.size();
    reader.names.resize(total + 1);
    reader.attributes.clear();
    const char* element = written_name(name, reader.names[total]);
    auto add = [&](std::size_t i, const char* attribute, const char* value) {
      reader.attributes.push_back(written_name(attribute, reader.names[i]));
      reader.attributes.push_back(value);
    };
    if (reader.declarations.empty()) {
      for (std::size_t i = 0; i < count; ++i) add(i, attributes[2 * i], attributes[2 * i + 1]);
    } else {
      // Namespace declarations come apart from the other attributes: they
      // are put back where the tag has them.
      std::vector<bool> placed(total, false);
      std::size_t next = 0;
      for (std::string_view wanted : written_order(reader.parser)) {
        for (std::size_t j = 0; j < total; ++j) {
          if (placed[j]) continue;
          const bool declaration = j >= count;
          const char* attribute_name =
              declaration ? reader.declarations[j - count].first.c_str() : attributes[2 * j];
          std::string room;
          if (written_name(attribute_name, room) != wanted) continue;
          placed[j] = true;
          add(next++, attribute_name,
              declaration ? reader.declarations[j - count].second.c_str() : attributes[2 * j + 1]);
          break;
        }
      }
      for (std::size_t j = 0; j < total; ++j) {
        if (placed[j]) continue;
        const bool declaration = j >= count;
        add(next++, declaration ? reader.declarations[j - count].first.c_str() : attributes[2 * j],
            declaration ? reader.declarations[j - count].second.c_str() : attributes[2 * j + 1]);
      }
    }
    reader.attributes.push_back(nullptr);
    const bool taken = reader.handler->start_element(element, reader.attributes.data());
    reader.declarations.clear();
    if (!taken) halt(reader);
  });
}

void XMLCALL node_end(void* data, const XML_Char*) {
  guarded(data, [&](NodeReader& reader) {
    if (!flush_text(reader)) return;
    if (!reader.handler->end_element()) halt(reader);
  });
}

void XMLCALL node_start_cdata(void* data) {
  guarded(data, [&](NodeReader& reader) {
    if (!flush_text(reader)) return;
    reader.in_cdata = true;
  });
}

void XMLCALL node_end_cdata(void* data) {
  guarded(data, [&](NodeReader& reader) {
    if (reader.stopped) return;
    reader.in_cdata = false;
    const bool taken = reader.handler->text(reader.text, true);
    reader.text.clear();
    if (!taken) halt(reader);
  });
}

void XMLCALL node_comment(void* data, const XML_Char* value) {
  guarded(data, [&](NodeReader& reader) {
    if (!flush_text(reader)) return;
    if (!reader.handler->comment(value)) halt(reader);
  });
}

void XMLCALL node_instruction(void* data, const XML_Char* target, const XML_Char* value) {
  guarded(data, [&](NodeReader& reader) {
    if (!flush_text(reader)) return;
    if (!reader.handler->processing_instruction(target, value)) halt(reader);
  });
}

void XMLCALL node_declaration(void* data, const XML_Char* version, const XML_Char* encoding, int standalone) {
  guarded(data, [&](NodeReader& reader) {
    if (reader.stopped) return;
    // A text declaration (no version) is for external entities, never read.
    if (version == nullptr || !reader.handler->declaration(version, encoding, standalone)) {
      halt(reader);
    }
  });
}

// The document type declaration's text as written, from Expat's input
// between `start` (its "<!DOCTYPE") and the ">" at or after the event; ""
// when that is not at hand.
std::string_view doctype_text(XML_Parser parser, XML_Index start) {
  int offset = 0;
  int size = 0;
  const char* input = XML_GetInputContext(parser, &offset, &size);
  const XML_Index base = XML_GetCurrentByteIndex(parser) - offset;
  if (input == nullptr || offset < 0 || offset > size || start < base) return {};
  const std::string_view context(input, static_cast<std::size_t>(size));
  std::size_t at = static_cast<std::size_t>(start - base) + 9;
  while (at < context.size() && xml_space(context[at])) ++at;
  const std::size_t end = context.find('>', std::max(at, static_cast<std::size_t>(offset)));
  if (end == std::string_view::npos) return {};
  return context.substr(at, end - at);
}

void XMLCALL node_doctype(void* data, const XML_Char*, const XML_Char* system_id, const XML_Char*, int internal_subset) {
  guarded(data, [&](NodeReader& reader) {
    if (reader.stopped) return;
    reader.external_subset = system_id != nullptr;
    int offset = 0;
    int size = 0;
    const char* input = XML_GetInputContext(reader.parser, &offset, &size);
    if (input != nullptr && offset >= 0 && offset <= size) {
      const std::size_t start = std::string_view(input, static_cast<std::size_t>(size))
                                    .rfind("<!DOCTYPE", static_cast<std::size_t>(offset));
      if (start != std::string_view::npos) {
        reader.doctype_at = XML_GetCurrentByteIndex(reader.parser) - offset +
                            static_cast<XML_Index>(start);
      }
    }
    // One with an internal subset is handed over at its end.
    if (internal_subset != 0) return;
    if (!reader.handler->doctype(doctype_text(reader.parser, reader.doctype_at))) halt(reader);
  });
}

void XMLCALL node_doctype_end(void* data) {
  guarded(data, [&](NodeReader& reader) {
    if (reader.stopped) return;
    const std::string_view text = doctype_text(reader.parser, reader.doctype_at);
    // Without an internal subset it has been handed over already.
    if (text.find('[') == std::string_view::npos) return;
    if (!reader.handler->doctype(text)) halt(reader);
  });
}

void XMLCALL node_skipped_entity(void* data, const XML_Char*, int) {
  halt(*static_cast<NodeReader*>(data));
}

void XMLCALL node_entity_declaration(void* data, const XML_Char*, int, const XML_Char*, int,
                                     const XML_Char*, const XML_Char*, const XML_Char*,
                                     const XML_Char*) {
  halt(*static_cast<NodeReader*>(data));
}

// --- The source before its markup ------------------------------------------

// How the source is written: as its byte order mark says, else as its
// first bytes show it, else in the encoding it is read in
// (detect_xml_encoding).
struct SourceForm {
  std::size_t unit = 1;     // bytes per code unit: 1 (8-bit), 2 (UTF-16), 4 (UTF-32)
  bool big_endian = false;
  std::size_t bom = 0;      // bytes of the byte order mark
  XmlEncoding encoding = XmlEncoding::kUtf8;  // for positions
};

// Whether text that starts with "<" and a zero byte (or the other way
// round) is UTF-16: another zero byte on the same side of a unit soon
// after. A lone zero byte before or after a "<" is a NUL in 8-bit text.
bool utf16_shaped(std::string_view bytes, std::size_t side) {
  int zeros = 0;
  for (std::size_t at = side; at < std::min<std::size_t>(bytes.size(), 64); at += 2) {
    if (bytes[at] == '\0') ++zeros;
  }
  return zeros >= 2;
}

SourceForm source_form(std::string_view bytes, XmlEncoding encoding) {
  auto starts = [&](std::string_view prefix) { return bytes.substr(0, prefix.size()) == prefix; };
  using namespace std::string_view_literals;
  if (starts("\x00\x00\xFE\xFF"sv)) return {4, true, 4, XmlEncoding::kUtf32Be};
  if (starts("\xFF\xFE\x00\x00"sv)) return {4, false, 4, XmlEncoding::kUtf32Le};
  if (starts("\xFE\xFF"sv)) return {2, true, 2, XmlEncoding::kUtf16Be};
  if (starts("\xFF\xFE"sv)) return {2, false, 2, XmlEncoding::kUtf16Le};
  if (starts("\xEF\xBB\xBF"sv)) return {1, false, 3, XmlEncoding::kUtf8};
  if (bytes.size() >= 4) {
    if (starts("\x00\x00\x00<"sv)) return {4, true, 0, XmlEncoding::kUtf32Be};
    if (starts("<\x00\x00\x00"sv)) return {4, false, 0, XmlEncoding::kUtf32Le};
    if (starts("\x00<"sv)) {
      return utf16_shaped(bytes, 0) ? SourceForm{2, true, 0, XmlEncoding::kUtf16Be} : SourceForm{};
    }
    if (starts("<\x00"sv)) {
      return utf16_shaped(bytes, 1) ? SourceForm{2, false, 0, XmlEncoding::kUtf16Le} : SourceForm{};
    }
  }
  switch (encoding) {
    case XmlEncoding::kUtf16Be: return {2, true, 0, encoding};
    case XmlEncoding::kUtf16Le: return {2, false, 0, encoding};
    case XmlEncoding::kUtf32Be: return {4, true, 0, encoding};
    case XmlEncoding::kUtf32Le: return {4, false, 0, encoding};
    case XmlEncoding::kLatin1: return {1, false, 0, encoding};
    default: return {1, false, 0, XmlEncoding::kUtf8};
  }
}

char32_t code_unit(std::string_view bytes, const SourceForm& form, std::size_t at) {
  char32_t value = 0;
  for (std::size_t i = 0; i < form.unit; ++i) {
    const char32_t b = static_cast<unsigned char>(bytes[at + i]);
    value |= form.big_endian ? b << (8 * (form.unit - 1 - i)) : b << (8 * i);
  }
  return value;
}

std::string upper(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return out;
}

// The encoding the XML declaration names, and the byte where the name
// starts; nothing when there is no declaration naming one (or it is too
// malformed to tell: the parsers say what is wrong with it).
struct Declared {
  std::string name;
  std::size_t at = 0;
};

std::optional<Declared> declared_encoding(std::string_view bytes, const SourceForm& form) {
  // The first characters, as ASCII (anything else as \x01), with the byte
  // each starts at.
  std::string head;
  std::vector<std::size_t> where;
  for (std::size_t at = form.bom; at + form.unit <= bytes.size() && head.size() < 512;
       at += form.unit) {
    const char32_t code = code_unit(bytes, form, at);
    head += code < 0x80 ? static_cast<char>(code) : '\x01';
    where.push_back(at);
    if (head.size() >= 2 && head.compare(head.size() - 2, 2, "?>") == 0) break;
  }
  auto space = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  if (head.size() < 6 || head.compare(0, 5, "<?xml") != 0 || !space(head[5])) return std::nullopt;
  const std::size_t end = head.find("?>");
  if (end == std::string::npos) return std::nullopt;
  std::size_t key = head.find("encoding", 5);
  if (key == std::string::npos || key >= end || !space(head[key - 1])) return std::nullopt;
  std::size_t i = key + 8;
  while (i < end && space(head[i])) ++i;
  if (i >= end || head[i] != '=') return std::nullopt;
  ++i;
  while (i < end && space(head[i])) ++i;
  if (i >= end || (head[i] != '"' && head[i] != '\'')) return std::nullopt;
  const std::size_t close = head.find(head[i], i + 1);
  if (close == std::string::npos || close > end || close == i + 1) return std::nullopt;
  // A name as XML writes one (a letter, then letters, digits, ".", "_",
  // "-"); anything else makes the declaration itself malformed.
  const std::string name = head.substr(i + 1, close - i - 1);
  if (!std::isalpha(static_cast<unsigned char>(name[0])) ||
      name.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789._-") !=
          std::string::npos) {
    return std::nullopt;
  }
  return Declared{name, where[i + 1]};
}

// The encodings the program reads, as a declaration names them (in any
// letter case; "latin1" is another name of ISO-8859-1),
// with the forms of source each may be declared in: those Expat accepts it
// over (an 8-bit one over a UTF-8 byte order mark too), and the same rules
// for UTF-32, which Expat does not read.
bool declaration_fits(const std::string& name, const SourceForm& form) {
  const bool eight_bit =
      name == "UTF-8" || name == "US-ASCII" || name == "ISO-8859-1" || name == "LATIN1";
  if (form.unit == 1) return eight_bit;
  const std::string order = form.big_endian ? "BE" : "LE";
  if (form.unit == 2) return name == "UTF-16" || name == "UTF-16" + order;
  return name == "UTF-32" || name == "UTF-32" + order;
}

bool encoding_known(const std::string& name) {
  for (const char* known : {"UTF-8", "US-ASCII", "ISO-8859-1", "LATIN1", "UTF-16", "UTF-16LE",
                            "UTF-16BE", "UTF-32", "UTF-32LE", "UTF-32BE"}) {
    if (name == known) return true;
  }
  return false;
}

std::string form_name(const SourceForm& form) {
  if (form.unit == 1) return form.bom > 0 ? "UTF-8, by its byte order mark" : "8-bit text";
  std::string name = form.unit == 2 ? "UTF-16" : "UTF-32";
  name += form.big_endian ? ", big-endian" : ", little-endian";
  if (form.bom > 0) name += ", by its byte order mark";
  return name;
}

// Where the first code unit 0 of `text` (units of `Unit` bytes, 2 or 4)
// starts; the end of its last whole unit when there is none. A unit is 0
// when all its bytes are, whatever their order. Eight bytes at a time: a
// word has a zero lane when subtracting 1 from every lane borrows into a
// lane's top bit that was clear.
template <std::size_t Unit>
std::size_t first_zero_unit(std::string_view text) {
  constexpr std::uint64_t kOnes = Unit == 2 ? 0x0001000100010001u : 0x0000000100000001u;
  constexpr std::uint64_t kTops = kOnes << (8 * Unit - 1);
  const std::size_t whole = text.size() - text.size() % Unit;
  std::size_t at = 0;
  for (; at + 8 <= whole; at += 8) {
    std::uint64_t word;
    std::memcpy(&word, text.data() + at, 8);
    if (((word - kOnes) & ~word & kTops) != 0) break;
  }
  for (; at < whole; at += Unit) {
    bool zero = true;
    for (std::size_t i = 0; i < Unit; ++i) zero = zero && text[at + i] == '\0';
    if (zero) return at;
  }
  return whole;
}

std::size_t nul_unit(std::string_view text, const SourceForm& form) {
  if (form.unit == 1) return std::min(text.find('\0'), text.size());
  return form.unit == 2 ? first_zero_unit<2>(text) : first_zero_unit<4>(text);
}

// Compressed formats, by the bytes they start with.
const char* compression(std::string_view bytes) {
  using namespace std::string_view_literals;
  const struct {
    std::string_view magic;
    const char* name;
  } formats[] = {
      {"\x1F\x8B"sv, "gzip"},
      {"\xFD" "7zXZ\x00"sv, "xz"},
      {"\x28\xB5\x2F\xFD"sv, "zstd"},
      {"BZh"sv, "bzip2"},
      {"PK\x03\x04"sv, "zip"},
  };
  for (const auto& format : formats) {
    if (bytes.substr(0, format.magic.size()) == format.magic) return format.name;
  }
  return nullptr;
}

}  // namespace

namespace {

// A source refused before its markup is read: why, and the byte it stands
// at.
struct SourceRefusal {
  std::string reason;
  std::size_t at = 0;
};

// The checks that look at the source's start alone (`head`: its first
// kXmlSourceHead bytes, or all it has) and its size in bytes.
std::optional<SourceRefusal> check_source_start(std::string_view head, std::uint64_t size,
                                                const SourceForm& form, bool& ascii) {
  static_assert(kXmlSourceHead >= 4 + 4 * 512, "the declaration is looked for in the head");
  ascii = false;
  if (const char* format = compression(head)) {
    return SourceRefusal{std::string("The document is compressed (") + format +
                             "); only uncompressed XML is read.\n",
                         0};
  }
  if (size == form.bom && form.bom > 0) {
    return SourceRefusal{"The document has no root element.\n", 0};
  }
  const std::optional<Declared> declared = declared_encoding(head, form);
  const std::string name = declared ? upper(declared->name) : std::string();
  if (declared && !encoding_known(name)) {
    return SourceRefusal{"The document declares the encoding \"" + declared->name +
                             "\", which is not read here (UTF-8, UTF-16, UTF-32, ISO-8859-1 and "
                             "US-ASCII are).\n",
                         declared->at};
  }
  if (declared && !declaration_fits(name, form)) {
    return SourceRefusal{"The document declares the encoding \"" + declared->name +
                             "\", but it is written in " + form_name(form) + ".\n",
                         declared->at};
  }
  const std::size_t partial = static_cast<std::size_t>((size - form.bom) % form.unit);
  if (partial != 0) {
    return SourceRefusal{std::string("The document ends in the middle of a character (") +
                             (form.unit == 2 ? "UTF-16" : "UTF-32") +
                             " text is a whole number of " + std::to_string(form.unit) +
                             "-byte units).\n",
                         static_cast<std::size_t>(size - partial)};
  }
  ascii = name == "US-ASCII";
  return std::nullopt;
}

// The scan of `text`, the source from its byte order mark on or any stretch
// of it after that which starts at a unit: a NUL, which XML never allows
// (and a C string would take for the end of the text); for US-ASCII,
// a byte beyond it. A unit cut off at the end is not looked at.
std::optional<SourceRefusal> scan_source(std::string_view text, const SourceForm& form,
                                         bool ascii) {
  const std::size_t nul = nul_unit(text, form);
  if (ascii) {
    const auto beyond =
        std::find_if(text.begin(), text.end(), [](char c) { return (c & 0x80) != 0; });
    const std::size_t high = static_cast<std::size_t>(beyond - text.begin());
    if (high < nul) return SourceRefusal{"The text is not valid US-ASCII here.\n", high};
  }
  if (nul + form.unit <= text.size()) {
    return SourceRefusal{"The character U+0000 is not allowed in XML.\n", nul};
  }
  return std::nullopt;
}

}  // namespace

namespace {

// --- Why markup is refused ------------------------------------------------------

// The reasons for markup that cannot be read at all, each said of the
// construct it stands in.
constexpr const char* kUnrecognised = "The markup here is not recognised.\n";
constexpr const char* kBadInstruction =
    "The XML declaration or a processing instruction is malformed.\n";
constexpr const char* kBadComment = "A comment is malformed.\n";
constexpr const char* kBadCdata = "A CDATA section is malformed.\n";
constexpr const char* kBadDoctype = "The document type declaration is malformed.\n";
constexpr const char* kBadStartTag = "A start tag is malformed.\n";
constexpr const char* kBadAttribute = "An attribute is malformed.\n";
constexpr const char* kBadEndTag = "An end tag is malformed.\n";
constexpr const char* kMismatch =
    "An end tag does not match the start tag, or an element is not closed.\n";

// A construct's verdict: null when it is made as markup of its kind must
// be (what else is wrong with it the parser's own error says), else why,
// and the offset in the text where it stands.
struct Markup {
  const char* reason = nullptr;
  std::size_t at = 0;
};

bool markup_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }
bool name_start(char c) {
  const auto u = static_cast<unsigned char>(c);
  return u >= 0x80 || std::isalpha(u) != 0 || c == '_' || c == ':';
}
bool name_part(char c) {
  return name_start(c) || std::isdigit(static_cast<unsigned char>(c)) != 0 || c == '-' ||
         c == '.';
}

// The character at `at` of `text`; '\0' past its end.
char at_or_end(std::string_view text, std::size_t at) { return at < text.size() ? text[at] : '\0'; }

// Where a construct that runs to the end of the text is refused: at its
// last character.
std::size_t at_end(std::string_view text) { return text.empty() ? 0 : text.size() - 1; }

// The attributes of a start tag (or the pseudo-attributes of the XML
// declaration, `closing` '?' there) from `at`, up to the tag's end.
Markup scan_attributes(std::string_view t, std::size_t at, char closing) {
  for (;;) {
    while (markup_space(at_or_end(t, at))) ++at;
    const char c = at_or_end(t, at);
    if (name_start(c)) {
      while (name_part(at_or_end(t, at))) ++at;
      char after = at_or_end(t, at);
      ++at;
      if (markup_space(after)) {
        while (markup_space(at_or_end(t, at))) ++at;
        after = at_or_end(t, at);
        ++at;
      }
      if (after != '=') return {kBadAttribute, at};
      while (markup_space(at_or_end(t, at))) ++at;
      const char quote = at_or_end(t, at);
      if (quote != '"' && quote != '\'') return {kBadAttribute, at};
      const std::size_t value = at + 1;
      const std::size_t end = t.find(quote, value);
      if (end == std::string_view::npos) return {kBadAttribute, value};
      at = end + 1;
      if (name_start(at_or_end(t, at))) return {kBadAttribute, at};
    } else if (c == closing) {
      ++at;
      if (at_or_end(t, at) == '>') return {};
      return {kBadStartTag, std::min(at, at_end(t))};
    } else if (c == '>' && closing == '/') {
      return {};
    } else {
      return {kBadStartTag, std::min(at, at_end(t))};
    }
  }
}

// How many characters of `word` `text` starts with.
std::size_t matched(std::string_view word, std::string_view text) {
  std::size_t k = 0;
  while (k < word.size() && k < text.size() && word[k] == text[k]) ++k;
  return k;
}

// The construct that starts with the "<" at `lt`, inside the element named
// `open` (none at the top level).
Markup scan_markup(std::string_view t, std::size_t lt, const std::string* open) {
  std::size_t at = lt + 1;
  const char c = at_or_end(t, at);
  if (name_start(c)) {
    while (name_part(at_or_end(t, at))) ++at;
    const char after = at_or_end(t, at);
    if (after == '>') return {};
    if (markup_space(after)) return scan_attributes(t, at + 1, '/');
    if (after == '/') {
      return at_or_end(t, at + 1) == '>' ? Markup{} : Markup{kBadStartTag, std::min(at + 1, at_end(t))};
    }
    return {kBadStartTag, std::min(at + 1, at_end(t))};
  }
  if (c == '/') {
    const std::size_t mark = at + 1;
    if (open == nullptr) return {kMismatch, mark};
    // The local name as written, against the end tag's.
    at = mark;
    std::size_t k = 0;
    while (name_part(at_or_end(t, at))) {
      if (k >= open->size() || t[at] != (*open)[k]) return {kMismatch, mark};
      ++at;
      ++k;
    }
    if (k < open->size()) return {kMismatch, mark};
    while (markup_space(at_or_end(t, at))) ++at;
    if (at_or_end(t, at) != '>') return {kBadEndTag, std::min(at, at_end(t))};
    return {};
  }
  if (c == '?') {
    ++at;
    if (!name_start(at_or_end(t, at))) return {kBadInstruction, at};
    const std::size_t target = at;
    while (name_part(at_or_end(t, at))) ++at;
    if (at >= t.size()) return {kBadInstruction, at_end(t)};
    const std::string_view name = t.substr(target, at - target);
    const bool declaration = name.size() == 3 && (name[0] | ' ') == 'x' &&
                             (name[1] | ' ') == 'm' && (name[2] | ' ') == 'l';
    if (declaration && open != nullptr) return {kBadInstruction, at};
    const char after = t[at];
    if (after == '?') return at_or_end(t, at + 1) == '>' ? Markup{} : Markup{kBadInstruction, at + 1};
    if (!markup_space(after)) return {kBadInstruction, at + 1};
    const std::size_t end = t.find("?>", at);
    if (end == std::string_view::npos) return {kBadInstruction, at_end(t)};
    // The declaration's pseudo-attributes as a start tag's, a value running
    // on to its closing quote wherever that is.
    if (declaration) return scan_attributes(t, at + 1, '?');
    return {};
  }
  if (c == '!') {
    const std::string_view rest = t.substr(at + 1);
    if (rest.substr(0, 1) == "-") {
      if (rest.substr(0, 2) != "--") return {kBadComment, at + 2};
      // Refused at the start of its text.
      if (t.find("-->", at + 3) == std::string_view::npos) return {kBadComment, at + 3};
      return {};
    }
    if (rest.substr(0, 1) == "[") {
      const std::size_t k = matched("[CDATA[", rest);
      if (k < 7) return {kBadCdata, at + 1 + k};
      if (t.find("]]>", at + 8) == std::string_view::npos) return {kBadCdata, at + 8};
      return {};
    }
    if (rest.substr(0, 1) == "D") {
      const std::size_t k = matched("DOCTYPE", rest);
      if (k < 7) return {kUnrecognised, at + 1};
      if (open != nullptr) return {kBadDoctype, lt};
      // Up to its ">", past quoted text and an internal subset.
      int depth = 0;
      char quote = 0;
      for (std::size_t i = at + 8; i < t.size(); ++i) {
        const char d = t[i];
        if (quote != 0) {
          if (d == quote) quote = 0;
        } else if (d == '"' || d == '\'') {
          quote = d;
        } else if (d == '<') {
          // Only a declaration, comment or instruction may open inside it.
          const char next = at_or_end(t, i + 1);
          if (next != '!' && next != '?') return {kBadDoctype, i};
          ++depth;
        } else if (d == '[') {
          ++depth;
        } else if ((d == ']' || d == '>') && depth > 0) {
          --depth;
        } else if (d == '>') {
          return {};
        }
      }
      return {kBadDoctype, at_end(t)};
    }
    return {kUnrecognised, at + 1};
  }
  return {kUnrecognised, at};
}

// What the parser refused, said as the loader says it: `at` is where the
// construct the parser did not take begins (past the text it took), `open`
// the elements open there.
struct Refusal {
  std::string reason;
  std::size_t at = 0;
  bool structure = false;
};

std::optional<Refusal> refuse_construct(std::string_view t, const Check& check,
                                        XML_Error error) {
  // Inside a document type declaration only the parser's own error says
  // what is wrong.
  if (check.in_doctype) return std::nullopt;
  // A CDATA section left open is the construct refused.
  std::size_t at = check.cdata_at >= 0 ? static_cast<std::size_t>(check.cdata_at)
                   : check.taken < 0   ? 0
                                       : static_cast<std::size_t>(check.taken);
  if (at == 0 && t.substr(0, 3) == "\xEF\xBB\xBF") at = 3;  // a byte order mark
  while (at < t.size() && markup_space(t[at])) ++at;
  const bool top = check.open.empty();
  if (at >= t.size()) {
    if (error != XML_ERROR_NO_ELEMENTS && error != XML_ERROR_UNCLOSED_TOKEN &&
        error != XML_ERROR_PARTIAL_CHAR) {
      return std::nullopt;
    }
    if (!top) return Refusal{kMismatch, at_end(t)};
    if (!check.root_seen) return Refusal{"The document has no root element.\n", t.size(), true};
    return std::nullopt;
  }
  if (t[at] != '<') {
    if (!top) return std::nullopt;  // text, which only the parser's own error says more of
    return Refusal{check.root_seen ? "Text is not allowed after the root element.\n"
                                   : "Text is not allowed before the root element.\n",
                   at, true};
  }
  const Markup markup = scan_markup(t, at, top ? nullptr : &check.open.back());
  if (markup.reason != nullptr) return Refusal{markup.reason, markup.at};
  if (!top) return std::nullopt;
  const std::string_view rest = t.substr(at);
  if (rest.substr(0, 9) == "<![CDATA[") {
    return Refusal{"A CDATA section is not allowed outside the root element.\n", at, true};
  }
  if (rest.substr(0, 9) == "<!DOCTYPE") {
    if (check.root_seen) {
      return Refusal{"The document type declaration must come before the root element.\n", at,
                     true};
    }
    if (check.doctype_seen) {
      return Refusal{"Only one document type declaration is allowed.\n", at, true};
    }
    return std::nullopt;
  }
  if (rest.size() > 1 && name_start(rest[1]) && check.root_seen) {
    return Refusal{"Only one root element is allowed.\n", at, true};
  }
  return std::nullopt;
}

}  // namespace

XmlEncoding detect_xml_encoding(std::string_view head) {
  if (head.size() < 4) return XmlEncoding::kUtf8;
  auto b = [&](std::size_t i) { return static_cast<unsigned char>(head[i]); };
  // A byte order mark.
  if (b(0) == 0 && b(1) == 0 && b(2) == 0xFE && b(3) == 0xFF) return XmlEncoding::kUtf32Be;
  if (b(0) == 0xFF && b(1) == 0xFE && b(2) == 0 && b(3) == 0) return XmlEncoding::kUtf32Le;
  if (b(0) == 0xFE && b(1) == 0xFF) return XmlEncoding::kUtf16Be;
  if (b(0) == 0xFF && b(1) == 0xFE) return XmlEncoding::kUtf16Le;
  if (b(0) == 0xEF && b(1) == 0xBB && b(2) == 0xBF) return XmlEncoding::kUtf8;
  // UTF-16 below U+0100 (white space first, say): a zero byte in every
  // unit, on the same side.
  if (b(0) != 0 && b(1) == 0 && b(2) != 0 && b(3) == 0) return XmlEncoding::kUtf16Le;
  if (b(0) == 0 && b(1) != 0 && b(2) == 0 && b(3) != 0) return XmlEncoding::kUtf16Be;
  // A "<" in UTF-32 or UTF-16.
  if (b(0) == 0 && b(1) == 0 && b(2) == 0 && b(3) == '<') return XmlEncoding::kUtf32Be;
  if (b(0) == '<' && b(1) == 0 && b(2) == 0 && b(3) == 0) return XmlEncoding::kUtf32Le;
  if (b(0) == 0 && b(1) == '<') return XmlEncoding::kUtf16Be;
  if (b(0) == '<' && b(1) == 0) return XmlEncoding::kUtf16Le;
  if (head.substr(0, 4) == "<?xm") {
    if (const std::optional<Declared> declared = declared_encoding(head, SourceForm{})) {
      const std::string name = upper(declared->name);
      if (name == "ISO-8859-1" || name == "LATIN1") return XmlEncoding::kLatin1;
    }
  }
  return XmlEncoding::kUtf8;
}

namespace {

// A source's fault of `kind`: `reason`, a sentence ending with ".\n", said
// without its line end, at `position`.
Error source_fault(std::string reason, int kind, TextPosition position = {}) {
  if (!reason.empty() && reason.back() == '\n') reason.pop_back();
  return Error{std::move(reason), kind, position.line, position.column};
}

}  // namespace

Result check_source(std::string_view bytes, XmlEncoding encoding) {
  const SourceForm form = source_form(bytes, encoding);
  bool ascii = false;
  std::optional<SourceRefusal> refusal = check_source_start(bytes, bytes.size(), form, ascii);
  if (!refusal) {
    refusal = scan_source(bytes.substr(form.bom), form, ascii);
    if (refusal) refusal->at += form.bom;
  }
  if (!refusal) return Result();
  return source_fault(std::move(refusal->reason), kXmlSyntax,
                      locate_source(bytes, form.encoding, refusal->at));
}

Result diagnose_xml(std::string_view bytes, XmlEncoding encoding) {
  const Text text_encoding = encoding == XmlEncoding::kLatin1 ? Text::kLatin1 : Text::kUtf8;
  if (Result checked = check_source(bytes, encoding); !checked) return checked;

  // Read whole, the way that finds where and why.
  Converted converted;
  std::string_view text = bytes;
  if (converted_to_utf8(encoding)) {
    converted = to_utf8(bytes, encoding);
    text = converted.view();
  }
  Check check;
  ParserHolder holder{make_parser(text_encoding, check)};
  if (holder.parser == nullptr) {
    return source_fault("Not enough memory to check the document.", kXmlNoMemory);
  }

  // Expat takes lengths as int: the text goes in pieces.
  constexpr std::size_t kPiece = std::size_t{1} << 24;
  XML_Status status = XML_STATUS_OK;
  std::size_t at = 0;
  do {
    const std::size_t size = std::min(kPiece, text.size() - at);
    const bool last = at + size == text.size();
    status = XML_Parse(holder.parser, text.data() + at, static_cast<int>(size), last);
    at += size;
  } while (status == XML_STATUS_OK && at < text.size());
  if (status == XML_STATUS_OK) return Result();

  std::string reason;
  int kind = kXmlSyntax;
  std::size_t offset = 0;
  std::size_t then = 0;
  const XML_Error error = XML_GetErrorCode(holder.parser);
  std::optional<Refusal> refused;
  if (check.reason.empty() && error != XML_ERROR_NO_MEMORY && !check.out_of_memory) {
    refused = refuse_construct(text, check, error);
  }
  if (refused) {
    reason = std::move(refused->reason);
    if (refused->structure) kind = kXmlStructure;
    offset = refused->at;
  } else if (!check.reason.empty()) {
    reason = check.reason;
    offset = check.offset < 0 ? 0 : static_cast<std::size_t>(check.offset);
    then = check.then;
    if (check.in_declaration) {
      const std::size_t start =
          last_before(text, text_encoding, offset, '<', [](char32_t code) { return code != '>'; });
      if (start != std::string_view::npos) offset = start;
    }
  } else if (error == XML_ERROR_NO_MEMORY || check.out_of_memory) {
    return source_fault("Not enough memory to check the document.", kXmlNoMemory);
  } else {
    const XML_Index index = XML_GetCurrentByteIndex(holder.parser);
    offset = index < 0 ? text.size() : static_cast<std::size_t>(index);
    reason = reason_for(error, text, text_encoding, source_name(encoding), offset);
  }
  if (text.data() == bytes.data()) {
    return source_fault(std::move(reason), kind, locate_source(bytes, encoding, offset, then));
  } else {
    // The offset is into the UTF-8 conversion, which positions are counted
    // in as well (up to the first thing that is not a character, where
    // Expat stops at the latest).
    for (; then > 0 && offset < text.size(); --then) {
      do {
        ++offset;
      } while (offset < text.size() && (static_cast<unsigned char>(text[offset]) & 0xC0) == 0x80);
    }
    return source_fault(std::move(reason), kind, locate(bytes, encoding, offset));
  }
}

namespace {

// A parser whose events become `reader`'s nodes; null when there is no
// memory for one.
XML_Parser make_node_parser(NodeReader& reader, XmlNodeHandler& handler, bool latin1) {
  XML_Parser parser = XML_ParserCreateNS(latin1 ? "ISO-8859-1" : "UTF-8", '\n');
  if (parser == nullptr) return nullptr;
  reader.parser = parser;
  reader.handler = &handler;
  reader.latin1 = latin1;
  XML_SetUserData(parser, &reader);
  XML_SetParamEntityParsing(parser, XML_PARAM_ENTITY_PARSING_NEVER);
  XML_SetElementHandler(parser, node_start, node_end);
  XML_SetCharacterDataHandler(parser, node_characters);
  XML_SetCdataSectionHandler(parser, node_start_cdata, node_end_cdata);
  XML_SetCommentHandler(parser, node_comment);
  XML_SetProcessingInstructionHandler(parser, node_instruction);
  XML_SetXmlDeclHandler(parser, node_declaration);
  XML_SetDoctypeDeclHandler(parser, node_doctype, node_doctype_end);
  XML_SetSkippedEntityHandler(parser, node_skipped_entity);
  XML_SetEntityDeclHandler(parser, node_entity_declaration);
  XML_SetStartNamespaceDeclHandler(parser, node_namespace);
  XML_SetReturnNSTriplet(parser, XML_TRUE);
  return parser;
}

// Up to `size` bytes of `in` into `out`: how many it read; 0 at the end, or
// when it cannot be read.
std::size_t read_some(std::istream& in, char* out, std::size_t size) {
  const std::streamsize got = in.rdbuf()->sgetn(out, static_cast<std::streamsize>(size));
  return got > 0 ? static_cast<std::size_t>(got) : 0;
}

// The bytes of a source read in pieces: its head first, then what `rest`
// gives, exactly `size` bytes in all.
class SourceBytes {
 public:
  SourceBytes(std::string_view head, std::istream& rest, std::uint64_t size)
      : head_(head), rest_(rest), left_(size) {}

  std::uint64_t left() const { return left_; }

  // Fills `out` with the next `size` bytes (no more than are left); false
  // when the source gives fewer, or, once it has given them all, more: it
  // changed while it was read.
  bool next(char* out, std::size_t size) {
    const std::size_t from_head = std::min(size, head_.size());
    if (from_head > 0) std::memcpy(out, head_.data(), from_head);
    head_.remove_prefix(from_head);
    for (std::size_t got = from_head; got < size;) {
      const std::size_t read = read_some(rest_, out + got, size - got);
      if (read == 0) return false;
      got += read;
    }
    left_ -= size;
    if (left_ > 0) return true;
    char extra = 0;
    return head_.empty() && read_some(rest_, &extra, 1) == 0;
  }

 private:
  std::string_view head_;
  std::istream& rest_;
  std::uint64_t left_;
};

}  // namespace

bool read_xml_nodes(std::string_view bytes, XmlEncoding encoding,
                    XmlNodeHandler& handler) {
  if (!check_source(bytes, encoding)) return false;
  NodeReader reader;
  ParserHolder holder{make_node_parser(reader, handler, encoding == XmlEncoding::kLatin1)};
  if (holder.parser == nullptr) return false;
  const bool read = parse_in_pieces(holder.parser, bytes, encoding) && !reader.stopped;
  if (reader.failure) std::rethrow_exception(reader.failure);
  return read;
}

bool read_xml_nodes(std::istream& rest, std::uint64_t size, XmlNodeHandler& handler,
                    std::size_t piece, Progress* progress) {
  std::string head_bytes(static_cast<std::size_t>(std::min<std::uint64_t>(size, kXmlSourceHead)),
                         '\0');
  for (std::size_t got = 0; got < head_bytes.size();) {
    const std::size_t read = read_some(rest, head_bytes.data() + got, head_bytes.size() - got);
    if (read == 0) return false;  // shorter than it was said to be
    got += read;
  }
  const std::string_view head = head_bytes;
  if (piece == 0) {
    piece = static_cast<std::size_t>(
        std::min<std::uint64_t>(std::max<std::uint64_t>(kXmlFilePiece, size / 16), SIZE_MAX));
  }
  const XmlEncoding encoding = detect_xml_encoding(head);
  const SourceForm form = source_form(head, encoding);
  // The units the parser is fed must be those the source checks count in.
  if (form.encoding != encoding) return false;
  const bool converted = converted_to_utf8(encoding);
  bool ascii = false;
  if (check_source_start(head, size, form, ascii)) return false;
  // A piece holds the byte order mark whole; Expat takes lengths as int,
  // three bytes of UTF-8 for each two of UTF-16.
  piece = std::clamp<std::size_t>(piece, 8, std::size_t{1} << 28);

  NodeReader reader;
  ParserHolder holder{make_node_parser(reader, handler, encoding == XmlEncoding::kLatin1)};
  if (holder.parser == nullptr) return false;
  SourceBytes source(head, rest, size);
  std::size_t skip = form.bom;  // not scanned: the byte order mark

  if (!converted) {
    // Read straight into Expat's buffer.
    for (;;) {
      const auto size_now = static_cast<std::size_t>(std::min<std::uint64_t>(piece, source.left()));
      char* buffer = static_cast<char*>(XML_GetBuffer(holder.parser, static_cast<int>(size_now)));
      if (buffer == nullptr && size_now > 0) return false;
      if (!source.next(buffer, size_now)) return false;
      if (scan_source(std::string_view(buffer, size_now).substr(std::min(skip, size_now)), form,
                      ascii)) {
        return false;
      }
      skip = 0;
      const bool last = source.left() == 0;
      const XML_Status status = XML_ParseBuffer(holder.parser, static_cast<int>(size_now), last);
      if (reader.failure) std::rethrow_exception(reader.failure);
      if (status != XML_STATUS_OK || reader.stopped) return false;
      if (last) return true;
      if (progress != nullptr) progress->reach(size - source.left());
    }
  }

  // UTF-16 or UTF-32: each piece converted into Expat's buffer; what the
  // converter leaves at a piece's end (a unit cut off, a high surrogate
  // whose pair is in the next piece) goes before the next piece's bytes.
  std::unique_ptr<char[]> raw(new char[piece + 8]);
  std::size_t carried = 0;
  for (;;) {
    const auto size_now = static_cast<std::size_t>(std::min<std::uint64_t>(piece, source.left()));
    if (!source.next(raw.get() + carried, size_now)) return false;
    const std::string_view bytes(raw.get(), carried + size_now);
    if (scan_source(bytes.substr(std::min(skip, bytes.size())), form, ascii)) return false;
    skip = 0;
    const bool last = source.left() == 0;
    Utf8Converter converter(bytes, encoding, last);
    const std::size_t units = converter.units_left();
    const auto room = static_cast<int>(converter.room_for(units));
    auto* buffer = static_cast<char*>(XML_GetBuffer(holder.parser, room));
    if (buffer == nullptr && units > 0) return false;
    const auto written = static_cast<int>(converter.convert(units, buffer) - buffer);
    const XML_Status status = XML_ParseBuffer(holder.parser, written, last);
    if (reader.failure) std::rethrow_exception(reader.failure);
    if (status != XML_STATUS_OK || reader.stopped) return false;
    if (last) return true;
    if (progress != nullptr) progress->reach(size - source.left());
    carried = bytes.size() - converter.converted();
    std::memmove(raw.get(), raw.get() + converter.converted(), carried);
  }
}

bool read_xml_file(const std::filesystem::path& path, XmlNodeHandler& handler,
                   std::size_t piece, Progress* progress) {
  std::error_code error;
  if (!std::filesystem::is_regular_file(path, error)) return false;
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  // The size of what this handle reads, whatever the name leads to by now.
  const std::streamoff end = in.rdbuf()->pubseekoff(0, std::ios::end);
  if (end < 0 || in.rdbuf()->pubseekpos(0) != std::streampos(0)) return false;
  return read_xml_nodes(in, static_cast<std::uint64_t>(end), handler, piece, progress);
}

}  // namespace quorvel
