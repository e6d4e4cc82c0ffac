// Numbers as mixer documents write and read them.
#include <gtest/gtest.h>

#include <limits>
#include <optional>

#include "common/number_text.h"

namespace quorvel {
namespace {

constexpr std::int32_t kMin = std::numeric_limits<std::int32_t>::min();
constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();

TEST(NumberTextTest, WritesSignedDecimal) {
  EXPECT_EQ(int_text(0), "0");
  EXPECT_EQ(int_text(65535), "65535");
  EXPECT_EQ(int_text(static_cast<std::int32_t>(0xFFFF0000u)), "-65536");
  EXPECT_EQ(int_text(kMin), "-2147483648");
}

// A value to be written is a whole number, white space around it, and fits
// in 32 bits; the lenient reading of pairing keys takes the leading number
// of anything.
TEST(NumberTextTest, ValuesAreWholeNumbersOrNothingWhileKeysAreReadLeniently) {
  const struct {
    const char* text;
    std::optional<std::int32_t> strict;
    std::int32_t lenient;
  } cases[] = {
      {"0", 0, 0},
      {" \t\n-65536 \r\n", -65536, -65536},
      {"+12", 12, 12},
      {"007", 7, 7},
      {"2147483647", kMax, kMax},
      {"-2147483648", kMin, kMin},
      // Unsigned 32-bit quantities read as the same bits; the lenient
      // reading saturates.
      {"2147483648", kMin, kMax},
      {"4294901760", -65536, kMax},
      {"4294967295", -1, kMax},
      // More than 32 bits hold.
      {"4294967296", std::nullopt, kMax},
      {"-2147483649", std::nullopt, kMin},
      {"99999999999999999999999", std::nullopt, kMax},
      {"-99999999999999999999999", std::nullopt, kMin},
      // Something after the digits.
      {"0x10", std::nullopt, 0},
      {"1e400", std::nullopt, 1},
      {"1.5", std::nullopt, 1},
      {"5abc", std::nullopt, 5},
      {"+12abc", std::nullopt, 12},
      {"0x50030001", std::nullopt, 0},
      {"1 2", std::nullopt, 1},
      // No digits at all.
      {"", std::nullopt, 0},
      {" ", std::nullopt, 0},
      {"-", std::nullopt, 0},
      {"+", std::nullopt, 0},
      {"abc", std::nullopt, 0},
      {" - 1", std::nullopt, 0},
      {"x1", std::nullopt, 0},
      {"--1", std::nullopt, 0},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(parse_int_strict(c.text), c.strict) << '"' << c.text << '"';
    EXPECT_EQ(parse_int(c.text), c.lenient) << '"' << c.text << '"';
  }
}

// Counts and identifiers of a device file, written signed or unsigned.
TEST(NumberTextTest, UnsignedQuantitiesReadAsTheir32Bits) {
  const struct {
    const char* text;
    std::uint32_t bits;
  } cases[] = {
      {"0", 0},           {"-1", 0xFFFFFFFFu},           {"4294967295", 0xFFFFFFFFu},
      {"-65536", 0xFFFF0000u}, {"4294901760", 0xFFFF0000u}, {"2147483648", 0x80000000u},
      {"99999999999", 0xFFFFFFFFu}, {"-99999999999", 0x80000000u}, {" 12abc", 12},
      {"abc", 0},
  };
  for (const auto& c : cases) EXPECT_EQ(parse_uint32(c.text), c.bits) << c.text;
}

TEST(NumberTextTest, EveryWrittenValueReadsBack) {
  for (std::int64_t v = kMin; v <= kMax; v += 65537 * 13) {
    auto value = static_cast<std::int32_t>(v);
    EXPECT_EQ(parse_int_strict(int_text(value)), value);
    EXPECT_EQ(parse_int(int_text(value)), value);
  }
}

}  // namespace
}  // namespace quorvel
