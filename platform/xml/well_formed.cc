#include "platform/xml/well_formed.h"

#include <expat.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <memory>
#include <string>

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
  const char32_t lead = byte(at);
  const std::size_t length = lead < 0x80 ? 1 : lead < 0xC2 ? 0 : lead < 0xE0 ? 2
                             : lead < 0xF0 ? 3 : lead < 0xF5 ? 4 : 0;
  if (length == 0 || at + length > text.size()) return 0;
  code = length == 1 ? lead : lead & (0x7F >> length);
  for (std::size_t i = 1; i < length; ++i) {
    if ((byte(at + i) & 0xC0) != 0x80) return 0;
    code = (code << 6) | (byte(at + i) & 0x3F);
  }
  const char32_t smallest[] = {0, 0, 0x80, 0x800, 0x10000};
  if (code < smallest[length] || code > 0x10FFFF || (code >= 0xD800 && code < 0xE000)) return 0;
  return length;
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
// becomes the byte 0xFF (which the parser drops).
Converted to_utf8(std::string_view bytes, pugi::xml_encoding encoding) {
  const bool wide = encoding == pugi::encoding_utf32_le || encoding == pugi::encoding_utf32_be;
  const bool little = encoding == pugi::encoding_utf16_le || encoding == pugi::encoding_utf32_le;
  const std::size_t unit = wide ? 4 : 2;
  const auto* in = reinterpret_cast<const unsigned char*>(bytes.data());
  auto read = [&](std::size_t at) -> char32_t {
    if (!wide) {
      return little ? char32_t{in[at]} | (char32_t{in[at + 1]} << 8)
                    : (char32_t{in[at]} << 8) | char32_t{in[at + 1]};
    }
    return little ? char32_t{in[at]} | (char32_t{in[at + 1]} << 8) |
                        (char32_t{in[at + 2]} << 16) | (char32_t{in[at + 3]} << 24)
                  : (char32_t{in[at]} << 24) | (char32_t{in[at + 1]} << 16) |
                        (char32_t{in[at + 2]} << 8) | char32_t{in[at + 3]};
  };
  // A UTF-16 unit gives at most three bytes (a pair four for its two
  // units), a UTF-32 unit at most four.
  const std::size_t units = bytes.size() / unit;
  Converted out;
  out.buffer.reset(new char[wide ? 4 * units + 1 : 3 * units + 1]);
  char* at_out = out.buffer.get();
  for (std::size_t at = 0; at + unit <= bytes.size(); at += unit) {
    char32_t code = read(at);
    if (code < 0x80) {
      *at_out++ = static_cast<char>(code);
      continue;
    }
    if (!wide && code >= 0xD800 && code < 0xDC00 && at + 2 * unit <= bytes.size()) {
      const char32_t trail = read(at + unit);
      if (trail >= 0xDC00 && trail < 0xE000) {
        code = 0x10000 + ((code & 0x3FF) << 10) + (trail & 0x3FF);
        at += unit;
      }
    }
    if (code > 0x10FFFF || (code >= 0xD800 && code < 0xE000)) {
      *at_out++ = '\xFF';
    } else {
      at_out = put_utf8(at_out, code);
    }
  }
  out.size = static_cast<std::size_t>(at_out - out.buffer.get());
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
  const std::string_view tag = rest.substr(0, rest.find('>'));
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

}  // namespace

WellFormedness check_well_formed(std::string_view bytes, pugi::xml_encoding encoding) {
  const Text text_encoding = encoding == pugi::encoding_latin1 ? Text::kLatin1 : Text::kUtf8;
  Converted converted;
  std::string_view text = bytes;
  if (encoding == pugi::encoding_utf16_le || encoding == pugi::encoding_utf16_be ||
      encoding == pugi::encoding_utf32_le || encoding == pugi::encoding_utf32_be) {
    converted = to_utf8(bytes, encoding);
    text = converted.view();
  }

  WellFormedness result;
  // Namespaces on; names come back as URI, separator, local name.
  ParserHolder holder{
      XML_ParserCreateNS(text_encoding == Text::kLatin1 ? "ISO-8859-1" : "UTF-8", '\n')};
  if (holder.parser == nullptr) {
    result.well_formed = false;
    result.reason = "Not enough memory to check the document.\n";
    return result;
  }
  Check check;
  check.parser = holder.parser;
  check.latin1 = text_encoding == Text::kLatin1;
  XML_SetUserData(holder.parser, &check);
  XML_SetEntityDeclHandler(holder.parser, on_entity_declaration);
  XML_SetSkippedEntityHandler(holder.parser, on_skipped_entity);
  XML_SetStartDoctypeDeclHandler(holder.parser, on_doctype);
  XML_SetParamEntityParsing(holder.parser, XML_PARAM_ENTITY_PARSING_NEVER);

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
