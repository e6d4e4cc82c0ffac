// Reading a document's source into the document model: one pass of the
// conforming parser (Expat) that checks it and fills the model as it goes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "platform/document/document_model.h"
#include "platform/xml/text_position.h"
#include "platform/xml/xml_read.h"

namespace quorvel {

// Parses `bytes` (UTF-8, UTF-16 or UTF-32 in either byte order with or
// without a byte order mark, or a declared ISO-8859-1) into `document`. The
// document must be well-formed XML (namespaces included) with exactly one
// root element and nothing but comments and processing instructions after
// it. On failure the document is left empty and the error says why (of
// kind kXmlSyntax, kXmlStructure or kXmlNoMemory, xml_read.h) and where, in
// characters of the source.
Result parse_document(std::string_view bytes, Document& document);

// The same parse of the regular file at `path` as it is read (read_xml_file,
// xml_read.h: `piece` bytes at a time, 0 as kXmlFilePiece says), so that
// its bytes are never held beside the document. True when the document was
// read; false when `path` is no regular file or cannot be opened, or on any
// failure, the document then empty: the caller reads the file whole and
// parses it with parse_document, which says why (and reads what changed
// meanwhile as it now is). The bytes read are counted on `progress`, where
// one is given.
bool read_document(const std::filesystem::path& path, Document& document, std::size_t piece = 0,
                   Progress* progress = nullptr);

}  // namespace quorvel
