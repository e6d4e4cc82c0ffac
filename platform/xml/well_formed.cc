#include "platform/xml/well_formed.h"

#include <expat.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
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

const char* source_name(pugi::xml_encoding encoding) {
  switch (encoding) {
    case pugi::encoding_utf16_le:
    case pugi::encoding_utf16_be: return "UTF-16";
    case pugi::encoding_utf32_le:
    case pugi::encoding_utf32_be: return "UTF-32";
    case pugi::encoding_latin1: return "ISO-8859-1";
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
// as the DOM's parser converts it, except that what is not a character
// becomes the byte 0xFF (which the parser drops). A piece at a time, or
// whole. `ends`: the bytes are the source's last; when they are not, a
// high surrogate at their end is left for the bytes that follow, as is a
// unit cut off there.
class Utf8Converter {
 public:
  Utf8Converter(std::string_view bytes, pugi::xml_encoding encoding, bool ends = true)
      : in_(reinterpret_cast<const unsigned char*>(bytes.data())),
        size_(bytes.size()),
        wide_(encoding == pugi::encoding_utf32_le || encoding == pugi::encoding_utf32_be),
        little_(encoding == pugi::encoding_utf16_le || encoding == pugi::encoding_utf32_le),
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

Converted to_utf8(std::string_view bytes, pugi::xml_encoding encoding) {
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

struct Check {
  XML_Parser parser = nullptr;
  std::string reason;            // set by a handler that stopped the parse
  XML_Index offset = -1;         // where, in the text Expat reads
  std::size_t then = 0;          // characters after `offset`
  bool in_declaration = false;   // `offset` is inside a declaration: show its "<"
  bool external_subset = false;  // the document names a DTD that is not read
  bool latin1 = false;           // Expat reads ISO-8859-1 (else UTF-8)
};

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
void XMLCALL on_start_element(void* data, const XML_Char*, const XML_Char**) {
  Check& check = *static_cast<Check*>(data);
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

// Only a document that names a DTD needs its start tags looked at.
void XMLCALL on_doctype(void* data, const XML_Char*, const XML_Char* system_id, const XML_Char*,
                        int) {
  Check& check = *static_cast<Check*>(data);
  check.external_subset = system_id != nullptr;
  if (check.external_subset) XML_SetStartElementHandler(check.parser, on_start_element);
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
  XML_SetStartDoctypeDeclHandler(parser, on_doctype);
  XML_SetParamEntityParsing(parser, XML_PARAM_ENTITY_PARSING_NEVER);
  return parser;
}

bool converted_to_utf8(pugi::xml_encoding encoding) {
  return encoding == pugi::encoding_utf16_le || encoding == pugi::encoding_utf16_be ||
         encoding == pugi::encoding_utf32_le || encoding == pugi::encoding_utf32_be;
}

// Feeds the source to `parser` a piece at a time into Expat's own buffer
// (converted to UTF-8 on the way where it must be): no copy of the whole
// text is made, in Expat or here. The pieces are at least a sixteenth of
// the source, so that Expat, which reads a token that spans pieces again
// with each, reads no token more than sixteen times; a small source goes
// in one piece of its own size. Whether Expat took it all.
bool parse_in_pieces(XML_Parser parser, std::string_view bytes, pugi::xml_encoding encoding) {
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

// Whether Expat takes the source as well-formed.
bool well_formed_in_pieces(std::string_view bytes, pugi::xml_encoding encoding, Text text) {
  Check check;
  ParserHolder holder{make_parser(text, check)};
  if (holder.parser == nullptr) return false;
  return parse_in_pieces(holder.parser, bytes, encoding);
}

// --- One pass for the nodes ---------------------------------------------------

// Expat's events turned into the nodes the DOM would hold (xml_events.h).
// A document with what this pass does not turn into nodes exactly as the
// DOM's parser would (a document type declaration with an internal subset,
// namespace declarations or names in a namespace, a processing
// instruction with a CR in it, a declared ISO-8859-1 read as UTF-8) stops
// it, as does a handler that stops, and whatever the check refuses (a
// reference to an entity that does not exist).
struct NodeReader {
  XML_Parser parser = nullptr;
  XmlNodeHandler* handler = nullptr;
  std::string text;          // the run of text being gathered
  bool text_counts = false;  // the run is more than white space in the source
  bool in_cdata = false;
  bool stopped = false;
  bool latin1 = false;
  bool external_subset = false;  // the document names a DTD that is not read
};

void halt(NodeReader& reader) {
  if (reader.stopped) return;
  reader.stopped = true;
  XML_StopParser(reader.parser, XML_FALSE);
}

bool xml_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

// The run of text gathered so far becomes a node, unless the source had
// only white space there (the DOM's parser keeps no such node).
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
  NodeReader& reader = *static_cast<NodeReader*>(data);
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
}

// Names with the namespace separator are in a namespace: the DOM keeps
// them as written, which this pass does not see.
bool plain_name(const XML_Char* name) { return std::strchr(name, '\n') == nullptr; }

void XMLCALL node_start(void* data, const XML_Char* name, const XML_Char** attributes) {
  NodeReader& reader = *static_cast<NodeReader*>(data);
  if (!flush_text(reader)) return;
  bool plain = plain_name(name);
  for (const XML_Char** a = attributes; plain && *a != nullptr; a += 2) plain = plain_name(*a);
  if (!plain) {
    halt(reader);
    return;
  }
  if (reader.external_subset) {
    // A reference to an entity that does not exist, which Expat drops
    // from an attribute value without a word there: as the check does.
    Check check;
    check.parser = reader.parser;
    check.latin1 = reader.latin1;
    on_start_element(&check, name, attributes);
    if (!check.reason.empty()) {
      reader.stopped = true;
      return;
    }
  }
  if (!reader.handler->start_element(name, attributes)) halt(reader);
}

void XMLCALL node_end(void* data, const XML_Char*) {
  NodeReader& reader = *static_cast<NodeReader*>(data);
  if (!flush_text(reader)) return;
  if (!reader.handler->end_element()) halt(reader);
}

void XMLCALL node_start_cdata(void* data) {
  NodeReader& reader = *static_cast<NodeReader*>(data);
  if (!flush_text(reader)) return;
  reader.in_cdata = true;
}

void XMLCALL node_end_cdata(void* data) {
  NodeReader& reader = *static_cast<NodeReader*>(data);
  if (reader.stopped) return;
  reader.in_cdata = false;
  const bool taken = reader.handler->text(reader.text, true);
  reader.text.clear();
  if (!taken) halt(reader);
}

void XMLCALL node_comment(void* data, const XML_Char* value) {
  NodeReader& reader = *static_cast<NodeReader*>(data);
  if (!flush_text(reader)) return;
  if (!reader.handler->comment(value)) halt(reader);
}

void XMLCALL node_instruction(void* data, const XML_Char* target, const XML_Char* value) {
  NodeReader& reader = *static_cast<NodeReader*>(data);
  if (!flush_text(reader)) return;
  // The DOM's parser keeps a CR in an instruction, which Expat makes LF.
  int offset = 0;
  int available = 0;
  const char* input = XML_GetInputContext(reader.parser, &offset, &available);
  const int count = XML_GetCurrentByteCount(reader.parser);
  if (input == nullptr || offset < 0 || count < 0 || offset + count > available ||
      std::memchr(input + offset, '\r', static_cast<std::size_t>(count)) != nullptr) {
    halt(reader);
    return;
  }
  if (!reader.handler->processing_instruction(target, value)) halt(reader);
}

bool names_latin1(const XML_Char* encoding) {
  if (encoding == nullptr) return false;
  const std::string name = [&] {
    std::string out(encoding);
    for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return out;
  }();
  return name == "ISO-8859-1" || name == "LATIN1";
}

void XMLCALL node_declaration(void* data, const XML_Char* version, const XML_Char* encoding,
                              int standalone) {
  NodeReader& reader = *static_cast<NodeReader*>(data);
  if (reader.stopped) return;
  // Read as UTF-8 while the DOM's parser would read it as ISO-8859-1.
  if (version == nullptr || (!reader.latin1 && names_latin1(encoding)) ||
      !reader.handler->declaration(version, encoding, standalone)) {
    halt(reader);
  }
}

// The document type declaration, as the DOM keeps it: its text as
// written, found in Expat's input from its "<!DOCTYPE" to its ">". One
// with an internal subset, whose declarations Expat would apply (default
// attribute values, their normalisation) and the DOM would not, stops the
// pass.
void XMLCALL node_doctype(void* data, const XML_Char*, const XML_Char* system_id,
                          const XML_Char*, int internal_subset) {
  NodeReader& reader = *static_cast<NodeReader*>(data);
  if (reader.stopped) return;
  reader.external_subset = system_id != nullptr;
  int offset = 0;
  int size = 0;
  const char* input = XML_GetInputContext(reader.parser, &offset, &size);
  if (internal_subset != 0 || input == nullptr || offset < 0 || offset > size) {
    halt(reader);
    return;
  }
  const std::string_view context(input, static_cast<std::size_t>(size));
  const std::size_t start = context.rfind("<!DOCTYPE", static_cast<std::size_t>(offset));
  if (start == std::string_view::npos) {
    halt(reader);
    return;
  }
  std::size_t at = start + 9;
  while (at < context.size() && xml_space(context[at])) ++at;
  const std::size_t end = at + start_tag_length(context.substr(at));
  if (end >= context.size() || !reader.handler->doctype(context.substr(at, end - at))) {
    halt(reader);
  }
}

void XMLCALL node_skipped_entity(void* data, const XML_Char*, int) {
  halt(*static_cast<NodeReader*>(data));
}

void XMLCALL node_namespace(void* data, const XML_Char*, const XML_Char*) {
  halt(*static_cast<NodeReader*>(data));
}

// --- The source before its markup ------------------------------------------

// How the source is written: as its byte order mark says, else as its
// first bytes show it the way the DOM's parser looks at them, else in the
// encoding the DOM's parser reads it in.
struct SourceForm {
  std::size_t unit = 1;     // bytes per code unit: 1 (8-bit), 2 (UTF-16), 4 (UTF-32)
  bool big_endian = false;
  std::size_t bom = 0;      // bytes of the byte order mark
  pugi::xml_encoding encoding = pugi::encoding_utf8;  // for positions
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

SourceForm source_form(std::string_view bytes, pugi::xml_encoding encoding) {
  auto starts = [&](std::string_view prefix) { return bytes.substr(0, prefix.size()) == prefix; };
  using namespace std::string_view_literals;
  if (starts("\x00\x00\xFE\xFF"sv)) return {4, true, 4, pugi::encoding_utf32_be};
  if (starts("\xFF\xFE\x00\x00"sv)) return {4, false, 4, pugi::encoding_utf32_le};
  if (starts("\xFE\xFF"sv)) return {2, true, 2, pugi::encoding_utf16_be};
  if (starts("\xFF\xFE"sv)) return {2, false, 2, pugi::encoding_utf16_le};
  if (starts("\xEF\xBB\xBF"sv)) return {1, false, 3, pugi::encoding_utf8};
  if (bytes.size() >= 4) {
    if (starts("\x00\x00\x00<"sv)) return {4, true, 0, pugi::encoding_utf32_be};
    if (starts("<\x00\x00\x00"sv)) return {4, false, 0, pugi::encoding_utf32_le};
    if (starts("\x00<"sv)) {
      return utf16_shaped(bytes, 0) ? SourceForm{2, true, 0, pugi::encoding_utf16_be} : SourceForm{};
    }
    if (starts("<\x00"sv)) {
      return utf16_shaped(bytes, 1) ? SourceForm{2, false, 0, pugi::encoding_utf16_le} : SourceForm{};
    }
  }
  switch (encoding) {
    case pugi::encoding_utf16_be: return {2, true, 0, encoding};
    case pugi::encoding_utf16_le: return {2, false, 0, encoding};
    case pugi::encoding_utf32_be: return {4, true, 0, encoding};
    case pugi::encoding_utf32_le: return {4, false, 0, encoding};
    case pugi::encoding_latin1: return {1, false, 0, encoding};
    default: return {1, false, 0, pugi::encoding_utf8};
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
// letter case; "latin1" is the DOM's parser's other name for ISO-8859-1),
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
// (and the DOM's parser would take for the end of the text); for US-ASCII,
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

WellFormedness check_source(std::string_view bytes, pugi::xml_encoding encoding) {
  WellFormedness result;
  const SourceForm form = source_form(bytes, encoding);
  bool ascii = false;
  std::optional<SourceRefusal> refusal = check_source_start(bytes, bytes.size(), form, ascii);
  if (!refusal) {
    refusal = scan_source(bytes.substr(form.bom), form, ascii);
    if (refusal) refusal->at += form.bom;
  }
  if (!refusal) return result;
  result.well_formed = false;
  result.reason = std::move(refusal->reason);
  result.position = locate_source(bytes, form.encoding, refusal->at);
  return result;
}

WellFormedness check_well_formed(std::string_view bytes, pugi::xml_encoding encoding) {
  const Text text_encoding = encoding == pugi::encoding_latin1 ? Text::kLatin1 : Text::kUtf8;
  WellFormedness result = check_source(bytes, encoding);
  if (!result.well_formed) return result;
  if (well_formed_in_pieces(bytes, encoding, text_encoding)) return result;

  // Refused (or no memory to tell): read again whole, the way that finds
  // where and why.
  Converted converted;
  std::string_view text = bytes;
  if (converted_to_utf8(encoding)) {
    converted = to_utf8(bytes, encoding);
    text = converted.view();
  }
  Check check;
  ParserHolder holder{make_parser(text_encoding, check)};
  if (holder.parser == nullptr) {
    result.well_formed = false;
    result.out_of_memory = true;
    result.reason = "Not enough memory to check the document.\n";
    return result;
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
  if (status == XML_STATUS_OK) return result;

  result.well_formed = false;
  std::size_t offset = 0;
  std::size_t then = 0;
  if (!check.reason.empty()) {
    result.reason = check.reason;
    offset = check.offset < 0 ? 0 : static_cast<std::size_t>(check.offset);
    then = check.then;
    if (check.in_declaration) {
      const std::size_t start =
          last_before(text, text_encoding, offset, '<', [](char32_t code) { return code != '>'; });
      if (start != std::string_view::npos) offset = start;
    }
  } else if (XML_GetErrorCode(holder.parser) == XML_ERROR_NO_MEMORY) {
    result.out_of_memory = true;
    result.reason = "Not enough memory to check the document.\n";
    return result;
  } else {
    const XML_Index index = XML_GetCurrentByteIndex(holder.parser);
    offset = index < 0 ? text.size() : static_cast<std::size_t>(index);
    result.reason = reason_for(XML_GetErrorCode(holder.parser), text, text_encoding,
                               source_name(encoding), offset);
  }
  if (text.data() == bytes.data()) {
    result.position = locate_source(bytes, encoding, offset, then);
  } else {
    // The offset is into the UTF-8 conversion, which the DOM's parser
    // counts in as well (up to the first thing that is not a character,
    // where Expat stops at the latest).
    for (; then > 0 && offset < text.size(); --then) {
      do {
        ++offset;
      } while (offset < text.size() && (static_cast<unsigned char>(text[offset]) & 0xC0) == 0x80);
    }
    result.position = locate(bytes, encoding, offset, Anchor::kAt);
  }
  return result;
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
  XML_SetStartDoctypeDeclHandler(parser, node_doctype);
  XML_SetSkippedEntityHandler(parser, node_skipped_entity);
  XML_SetStartNamespaceDeclHandler(parser, node_namespace);
  return parser;
}

// The bytes of a source read in pieces: its head first, then what `rest`
// gives, exactly `size` bytes in all.
class SourceBytes {
 public:
  SourceBytes(std::string_view head, XmlByteSource& rest, std::uint64_t size)
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
      const std::size_t read = rest_.read(out + got, size - got);
      if (read == 0) return false;
      got += read;
    }
    left_ -= size;
    if (left_ > 0) return true;
    char extra = 0;
    return head_.empty() && rest_.read(&extra, 1) == 0;
  }

 private:
  std::string_view head_;
  XmlByteSource& rest_;
  std::uint64_t left_;
};

}  // namespace

bool read_xml_nodes(std::string_view bytes, pugi::xml_encoding encoding,
                    XmlNodeHandler& handler) {
  if (!check_source(bytes, encoding).well_formed) return false;
  NodeReader reader;
  ParserHolder holder{make_node_parser(reader, handler, encoding == pugi::encoding_latin1)};
  if (holder.parser == nullptr) return false;
  return parse_in_pieces(holder.parser, bytes, encoding) && !reader.stopped;
}

bool read_xml_nodes(std::string_view head, XmlByteSource& rest, std::uint64_t size,
                    pugi::xml_encoding encoding, XmlNodeHandler& handler, std::size_t piece) {
  if (head.size() > size || head.size() < std::min<std::uint64_t>(size, kXmlSourceHead)) {
    return false;
  }
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
  ParserHolder holder{make_node_parser(reader, handler, encoding == pugi::encoding_latin1)};
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
      if (XML_ParseBuffer(holder.parser, static_cast<int>(size_now), last) != XML_STATUS_OK ||
          reader.stopped) {
        return false;
      }
      if (last) return true;
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
    if (XML_ParseBuffer(holder.parser, written, last) != XML_STATUS_OK || reader.stopped) {
      return false;
    }
    if (last) return true;
    carried = bytes.size() - converter.converted();
    std::memmove(raw.get(), raw.get() + converter.converted(), carried);
  }
}

}  // namespace quorvel
