// The well-formedness check: a conforming XML parser (Expat) reads the
// source once more, so that what the DOM's parser lets through (duplicate
// attributes, references to entities that do not exist, a bare "&", "<" in
// an attribute value, characters XML does not allow, text that is not in
// its encoding, an undeclared namespace prefix, an XML declaration that is
// not at the start) is refused.
//
// The check reads nothing but the source: no external entity, no DTD. A
// document that declares entities is refused (the DOM would not expand
// them), so no entity is ever expanded either.
#pragma once

#include <pugixml.hpp>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/xml/text_position.h"
#include "platform/xml/xml_events.h"

namespace quorvel {

struct WellFormedness {
  bool well_formed = true;
  bool out_of_memory = false;  // not refused: there was no memory to tell
  std::string reason;     // a sentence ending with ".\n"; empty when well-formed
  TextPosition position;  // of the offending character, in characters of the source
};

// Checks `bytes` as a whole XML document in `encoding` (the encoding the
// DOM's parser read it in; a declaration in the document does not override
// it), with namespaces. The source checks below come first.
WellFormedness check_well_formed(std::string_view bytes, pugi::xml_encoding encoding);

// What is wrong with the source before any markup is read, as a conforming
// parser finds it (Expat for what it reads; UTF-32, which it does not, by
// the same rules):
//   - a compressed body (gzip and other common formats, by their magic);
//   - an encoding declared in the XML declaration that the bytes contradict
//     (a UTF-8 byte order mark or 8-bit text that declares UTF-16 or UTF-32,
//     UTF-16 or UTF-32 that declares an 8-bit encoding or the other byte
//     order), or one the program does not read (EBCDIC, a Windows code
//     page): at the declared name;
//   - US-ASCII declared over a byte beyond it;
//   - UTF-16 or UTF-32 that ends in the middle of a character: at the end;
//   - a NUL character, which XML never allows: where it stands;
//   - a byte order mark with nothing after it: no root element.
// `encoding` is the one the DOM's parser reads the source in (a byte order
// mark decides over it).
WellFormedness check_source(std::string_view bytes, pugi::xml_encoding encoding);

// One pass of the same parser over `bytes` (read in `encoding`, as by
// check_well_formed, after the source checks) that hands `handler` the
// document's nodes as the DOM's parser would make them. True when the
// document is well-formed and every node was handed over; false when it is
// not well-formed, there was no memory, the handler stopped, or the
// document holds what the pass does not turn into nodes (a document type
// declaration, namespaces, a declared ISO-8859-1 read in another
// encoding): the caller then learns why from parse_xml_document.
bool read_xml_nodes(std::string_view bytes, pugi::xml_encoding encoding,
                    XmlNodeHandler& handler);

// The bytes at the start of a source that the source checks and the choice
// of its encoding look at.
inline constexpr std::size_t kXmlSourceHead = 4096;

// A source read a piece at a time.
class XmlByteSource {
 public:
  virtual ~XmlByteSource() = default;
  // Reads up to `size` bytes into `out`: how many it read; 0 at the end, or
  // when it cannot be read.
  virtual std::size_t read(char* out, std::size_t size) = 0;
};

// The same pass over a source of `size` bytes that is never held whole:
// `head` is its first kXmlSourceHead bytes (all of them when it is shorter),
// read by the caller to choose `encoding`; `rest` gives the bytes after
// them, which are read, checked and parsed `piece` bytes at a time. The
// source checks run as on the whole source (those of its start on `head`,
// the scans piece by piece). False, besides, as soon as anything leaves a
// doubt: a source check that refuses, a source that gives fewer or more
// than `size` bytes (it changed while it was read), no memory. The caller
// then reads the source whole, which tells why.
bool read_xml_nodes(std::string_view head, XmlByteSource& rest, std::uint64_t size,
                    pugi::xml_encoding encoding, XmlNodeHandler& handler, std::size_t piece);

}  // namespace quorvel
