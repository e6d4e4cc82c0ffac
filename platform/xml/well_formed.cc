#include "platform/xml/well_formed.h"

#include <expat.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "common/utf.h"

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
// whole.
class Utf8Converter {
 public:
  Utf8Converter(std::string_view bytes, pugi::xml_encoding encoding)
      : in_(reinterpret_cast<const unsigned char*>(bytes.data())),
        size_(bytes.size()),
        wide_(encoding == pugi::encoding_utf32_le || encoding == pugi::encoding_utf32_be),
        little_(encoding == pugi::encoding_utf16_le || encoding == pugi::encoding_utf32_le),
        unit_(wide_ ? 4 : 2) {}

  // Bytes of UTF-8 that `units` units may give at most: a UTF-16 unit three
  // (a pair four for its two units), a UTF-32 unit four.
  std::size_t room_for(std::size_t units) const { return (wide_ ? 4 : 3) * units; }
  std::size_t units_left() const { return (size_ - at_) / unit_; }
  bool done() const { return at_ + unit_ > size_; }

  // Converts up to `units` units to `out`; returns the end of what it
  // wrote. A surrogate pair is never split between two pieces.
  char* convert(std::size_t units, char* out) {
    const std::size_t end = std::min(size_, at_ + units * unit_);
    while (at_ + unit_ <= end) {
      char32_t code = read(at_);
      if (code < 0x80) {
        *out++ = static_cast<char>(code);
        at_ += unit_;
        continue;
      }
      if (!wide_ && code >= 0xD800 && code < 0xDC00 && at_ + 2 * unit_ <= size_) {
        if (at_ + 2 * unit_ > end) break;  // the pair goes into the next piece
        const Utf16Char decoded = decode_utf16(code, read(at_ + unit_));
        code = decoded.code;
        at_ += (decoded.units - 1) * unit_;
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
  const std::string_view rest(input + offset, static_cast<std::size_t>(size - offset));
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

// Whether Expat takes the source as well-formed, read a piece at a time
// into Expat's own buffer (converted to UTF-8 on the way where it must
// be): no copy of the whole text is made, in Expat or here. The pieces are
// at least a sixteenth of the source, so that Expat, which reads a token
// that spans pieces again with each, reads no token more than sixteen
// times.
bool well_formed_in_pieces(std::string_view bytes, pugi::xml_encoding encoding, Text text) {
  Check check;
  ParserHolder holder{make_parser(text, check)};
  if (holder.parser == nullptr) return false;
  constexpr std::size_t kSmallestPiece = std::size_t{1} << 20;
  const std::size_t piece = std::max(kSmallestPiece, bytes.size() / 16 + 1);
  if (!converted_to_utf8(encoding)) {
    std::size_t at = 0;
    do {
      const std::size_t size = std::min(piece, bytes.size() - at);
      void* buffer = XML_GetBuffer(holder.parser, static_cast<int>(size));
      if (buffer == nullptr) return false;
      std::memcpy(buffer, bytes.data() + at, size);
      at += size;
      if (XML_ParseBuffer(holder.parser, static_cast<int>(size), at == bytes.size()) !=
          XML_STATUS_OK) {
        return false;
      }
    } while (at < bytes.size());
    return true;
  }
  Utf8Converter converter(bytes, encoding);
  const std::size_t units = piece / 4 + 1;
  do {
    const std::size_t room = converter.room_for(units);
    auto* buffer = static_cast<char*>(XML_GetBuffer(holder.parser, static_cast<int>(room)));
    if (buffer == nullptr) return false;
    const std::size_t size = static_cast<std::size_t>(converter.convert(units, buffer) - buffer);
    if (XML_ParseBuffer(holder.parser, static_cast<int>(size), converter.done()) !=
        XML_STATUS_OK) {
      return false;
    }
  } while (!converter.done());
  return true;
}

}  // namespace

WellFormedness check_well_formed(std::string_view bytes, pugi::xml_encoding encoding) {
  const Text text_encoding = encoding == pugi::encoding_latin1 ? Text::kLatin1 : Text::kUtf8;
  WellFormedness result;
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

}  // namespace quorvel
