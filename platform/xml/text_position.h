// Line and position of an offset of the parser, in characters of the source.
#pragma once

#include "platform/xml/xml_encoding.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace quorvel {

struct TextPosition {
  std::int32_t line = 0;  // 0: no position
  std::int32_t column = 0;
};

// Line and position (both from 1) of the character at `offset` into the
// UTF-8 conversion of `bytes` (read as `encoding`; for UTF-8 and ISO-8859-1
// sources, the source itself); the end of the source when the offset lies
// beyond it. A byte order mark is not a character of the first line. CR LF,
// CR and LF each end a line.
TextPosition locate(std::string_view bytes, XmlEncoding encoding, std::size_t offset);

// Line and position of the first character that starts at or after byte
// `offset` of the source `bytes` itself, or of the character `then`
// characters after it; the end of the source when that lies beyond it.
// Counted as locate counts.
TextPosition locate_source(std::string_view bytes, XmlEncoding encoding,
                           std::size_t offset, std::size_t then = 0);

}  // namespace quorvel
