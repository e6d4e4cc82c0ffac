#include "platform/xml/text_position.h"

#include <limits>

#include "common/utf.h"

namespace quorvel {
namespace {

// The parser converts the source to UTF-8 and reports offsets into that
// conversion. The source is decoded here the same way (the same encoding,
// the same treatment of broken sequences), counting for each character the
// bytes it takes in the conversion, so that an offset maps back to the
// character of the source it came from.

class SourceDecoder {
 public:
  SourceDecoder(std::string_view bytes, XmlEncoding encoding)
      : bytes_(bytes), encoding_(encoding) {}

  // The byte of the source where the next character starts.
  std::size_t at() const { return at_; }

  // The next character and the number of bytes it takes in the parser's
  // UTF-8 text (0 for an encoding error the parser drops). False at the end.
  bool next(char32_t& ch, std::size_t& converted) {
    switch (encoding_) {
      case XmlEncoding::kUtf16Le:
      case XmlEncoding::kUtf16Be:
        return next_utf16(ch, converted);
      case XmlEncoding::kUtf32Le:
      case XmlEncoding::kUtf32Be:
        return next_utf32(ch, converted);
      case XmlEncoding::kLatin1:
        if (at_ >= bytes_.size()) return false;
        ch = byte(at_++);
        converted = utf8_length(ch);
        return true;
      default:
        return next_utf8(ch, converted);
    }
  }

 private:
  static std::size_t utf8_length(char32_t ch) {
    return ch < 0x80 ? 1 : ch < 0x800 ? 2 : ch < 0x10000 ? 3 : 4;
  }

  char32_t byte(std::size_t at) const { return static_cast<unsigned char>(bytes_[at]); }

  // UTF-8 is parsed as it is stored: a character is a lead byte with the
  // continuation bytes that follow it.
  bool next_utf8(char32_t& ch, std::size_t& converted) {
    const Utf8Char decoded = decode_utf8(bytes_, at_);
    if (decoded.length == 0) return false;
    at_ += decoded.length;
    converted = decoded.length;
    // Anything that is not a complete, shortest-form sequence stands for no
    // character the parser would act on.
    const bool shortest = decoded.length == 1 || decoded.code >= 0x80;
    ch = decoded.complete && shortest ? decoded.code : 0xFFFD;
    return true;
  }

  char32_t unit16(std::size_t at) const {
    return encoding_ == XmlEncoding::kUtf16Le ? byte(at) | (byte(at + 1) << 8)
                                                : (byte(at) << 8) | byte(at + 1);
  }

  bool next_utf16(char32_t& ch, std::size_t& converted) {
    if (at_ + 2 > bytes_.size()) return false;
    const char32_t trail = at_ + 4 <= bytes_.size() ? unit16(at_ + 2) : 0;
    const Utf16Char decoded = decode_utf16(unit16(at_), trail);
    at_ += 2 * decoded.units;
    if (is_surrogate(decoded.code)) {
      ch = 0xFFFD;  // an unpaired surrogate, which the parser drops
      converted = 0;
      return true;
    }
    ch = decoded.code;
    converted = utf8_length(ch);
    return true;
  }

  bool next_utf32(char32_t& ch, std::size_t& converted) {
    if (at_ + 4 > bytes_.size()) return false;
    if (encoding_ == XmlEncoding::kUtf32Le) {
      ch = byte(at_) | (byte(at_ + 1) << 8) | (byte(at_ + 2) << 16) | (byte(at_ + 3) << 24);
    } else {
      ch = (byte(at_) << 24) | (byte(at_ + 1) << 16) | (byte(at_ + 2) << 8) | byte(at_ + 3);
    }
    at_ += 4;
    converted = utf8_length(ch);
    return true;
  }

  std::string_view bytes_;
  XmlEncoding encoding_;
  std::size_t at_ = 0;
};

// Lines and positions, character by character: CR LF, CR and LF each end a
// line.
class LineCounter {
 public:
  const TextPosition& here() const { return here_; }
  void pass(char32_t ch) {
    if (ch == '\r' || (ch == '\n' && !after_cr_)) {
      here_.line = step(here_.line);
      here_.column = 1;
    } else if (ch != '\n') {
      here_.column = step(here_.column);
    }
    after_cr_ = ch == '\r';
  }

 private:
  static std::int32_t step(std::int32_t value) {
    return value < std::numeric_limits<std::int32_t>::max() ? value + 1 : value;
  }
  TextPosition here_{1, 1};
  bool after_cr_ = false;
};

}  // namespace

TextPosition locate_source(std::string_view bytes, XmlEncoding encoding,
                           std::size_t offset, std::size_t then) {
  SourceDecoder decoder(bytes, encoding);
  LineCounter counter;
  bool first = true;
  char32_t ch = 0;
  std::size_t converted = 0;
  for (;;) {
    const std::size_t start = decoder.at();
    if (!decoder.next(ch, converted)) break;
    if (first && ch == 0xFEFF) {
      first = false;
      continue;
    }
    first = false;
    if (start >= offset) {
      if (then == 0) break;
      --then;
    }
    counter.pass(ch);
  }
  return counter.here();
}

TextPosition locate(std::string_view bytes, XmlEncoding encoding, std::size_t offset) {
  SourceDecoder decoder(bytes, encoding);
  LineCounter counter;
  std::size_t converted_at = 0;
  bool first = true;
  char32_t ch = 0;
  std::size_t converted = 0;
  while (decoder.next(ch, converted)) {
    if (first && ch == 0xFEFF) {
      first = false;
      converted_at += converted;
      continue;
    }
    first = false;
    if (converted_at >= offset) return counter.here();
    counter.pass(ch);
    converted_at += converted;
  }
  return counter.here();
}

}  // namespace quorvel
