// Line and position of a parser offset, in characters of the source.
#pragma once

#include <pugixml.hpp>

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace quorvel {

struct TextPosition {
  std::int32_t line = 0;  // 0: no position
  std::int32_t column = 0;
};

// Which character an offset stands for.
enum class Anchor {
  kAt,               // the character at the offset
  kOpeningBracket,   // the last "<" at or before the offset: the start of its markup
  kNextNonSpace,     // the first character at or after the offset that is not white space
};

// Line and position (both from 1) of the character at the parser offset
// `offset` into the parser's UTF-8 conversion of `bytes` (parsed as
// `encoding`), chosen by `anchor`; the end of the source when the offset lies
// beyond it. A byte order mark is not a character of the first line. CR LF,
// CR and LF each end a line.
TextPosition locate(std::string_view bytes, pugi::xml_encoding encoding, std::size_t offset,
                    Anchor anchor);

// Line and position of the first character that starts at or after byte
// `offset` of the source `bytes` itself, or of the character `then`
// characters after it; the end of the source when that lies beyond it.
// Counted as locate counts.
TextPosition locate_source(std::string_view bytes, pugi::xml_encoding encoding,
                           std::size_t offset, std::size_t then = 0);

}  // namespace quorvel
