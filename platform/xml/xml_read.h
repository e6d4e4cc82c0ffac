// Reading XML with the conforming parser (Expat): which encoding a source
// is in, what is wrong with it before its markup, one pass over it that
// hands over its nodes (read_xml_nodes), and, when a source is refused,
// why and where (diagnose_xml).
//
// Nothing is read but the source: no external entity, no DTD. A document
// that declares entities is refused, so no entity is ever expanded either.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <istream>
#include <string>
#include <string_view>

#include "common/report.h"
#include "common/result.h"
#include "platform/xml/text_position.h"
#include "platform/xml/xml_encoding.h"
#include "platform/xml/xml_events.h"

namespace quorvel {

// The encoding of a source, from its first bytes (`head`, up to
// kXmlSourceHead of them): its byte order mark; else UTF-16 or UTF-32 by
// where its zero bytes stand; else ISO-8859-1 where its XML declaration
// names it ("ISO-8859-1" or "latin1", in any letter case); else UTF-8.
XmlEncoding detect_xml_encoding(std::string_view head);

// The bytes at the start of a source that the source checks and the choice
// of its encoding look at.
inline constexpr std::size_t kXmlSourceHead = 4096;

// The kinds of a source's fault (Error::kind). Its message is one sentence
// ending with "."; its line and column are those of the offending
// character, in characters of the source (line 0: none).
inline constexpr int kXmlSyntax = 1;     // not well-formed
inline constexpr int kXmlStructure = 2;  // well-formed markup, but not one root element
inline constexpr int kXmlNoMemory = 3;   // no memory to tell: nothing is known against it

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
Result check_source(std::string_view bytes, XmlEncoding encoding);

// Why `bytes`, read in `encoding`, is not a document: the source checks,
// then the parser's first refusal, said as the loader says it, at the
// character where it stands. Succeeds when the parser takes it.
Result diagnose_xml(std::string_view bytes, XmlEncoding encoding);

// One pass of the parser over `bytes` (read in `encoding`, after the
// source checks) that hands `handler` the document's nodes. True when the
// document is well-formed and every node was handed over; false when it is
// not, there was no memory, or the handler stopped: diagnose_xml then says
// why, if the source is at fault.
bool read_xml_nodes(std::string_view bytes, XmlEncoding encoding, XmlNodeHandler& handler);

// The bytes a source read in pieces is read in at a time by default: this
// many, or a sixteenth of the source when that is more, so that the parser
// reads a token that spans pieces (it reads one again with each) at most
// sixteen times.
inline constexpr std::size_t kXmlFilePiece = std::size_t{1} << 20;

// The same pass over the `size` bytes `in` holds from where it stands,
// never held whole: they are read, checked and parsed `piece` bytes at a
// time (0: as kXmlFilePiece says), the encoding told from the first
// kXmlSourceHead of them. The source checks run as on the whole source
// (those of its start on its head, the scans piece by piece). False,
// besides, as soon as anything leaves a doubt: a source check that refuses,
// a stream that gives fewer or more than `size` bytes (it changed while it
// was read), no memory. The caller then reads the source whole, which tells
// why. The bytes read so far are counted on `progress`, where one is given.
bool read_xml_nodes(std::istream& in, std::uint64_t size, XmlNodeHandler& handler,
                    std::size_t piece = 0, Progress* progress = nullptr);

// The same over the regular file at `path`, its size taken from the handle
// that reads it (whatever the name leads to by then). False also when
// `path` is no regular file or cannot be opened.
bool read_xml_file(const std::filesystem::path& path, XmlNodeHandler& handler,
                   std::size_t piece = 0, Progress* progress = nullptr);

}  // namespace quorvel
