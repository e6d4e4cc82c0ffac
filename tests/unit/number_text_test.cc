// Numbers as mixer documents write and read them.
#include <gtest/gtest.h>

#include <limits>

#include "common/number_text.h"

namespace quorvel {
namespace {

TEST(NumberTextTest, WritesSignedDecimal) {
  EXPECT_EQ(int_text(0), "0");
  EXPECT_EQ(int_text(65535), "65535");
  EXPECT_EQ(int_text(static_cast<std::int32_t>(0xFFFF0000u)), "-65536");
  EXPECT_EQ(int_text(std::numeric_limits<std::int32_t>::min()), "-2147483648");
}

TEST(NumberTextTest, ReadsTheLeadingNumber) {
  EXPECT_EQ(parse_int_strict(" \t\n-65536"), -65536);
  EXPECT_EQ(parse_int_strict("+12abc"), 12);
  EXPECT_EQ(parse_int_strict("0x50030001"), 0);
  EXPECT_EQ(parse_int_strict("2147483647"), 2147483647);
  EXPECT_EQ(parse_int_strict("-2147483648"), std::numeric_limits<std::int32_t>::min());
  // Beyond the 32-bit range: saturated, however many digits.
  EXPECT_EQ(parse_int_strict("4294901760"), std::numeric_limits<std::int32_t>::max());
  EXPECT_EQ(parse_int_strict("-99999999999999999999999"), std::numeric_limits<std::int32_t>::min());
}

TEST(NumberTextTest, TextWithoutDigits) {
  for (const char* text : {"", " ", "-", "+", "abc", " - 1", "x1"}) {
    EXPECT_FALSE(parse_int_strict(text).has_value()) << text;
    EXPECT_EQ(parse_int(text), 0) << text;
  }
}

TEST(NumberTextTest, EveryWrittenValueReadsBack) {
  for (std::int64_t v = std::numeric_limits<std::int32_t>::min();
       v <= std::numeric_limits<std::int32_t>::max(); v += 65537 * 13) {
    auto value = static_cast<std::int32_t>(v);
    EXPECT_EQ(parse_int_strict(int_text(value)), value);
  }
}

}  // namespace
}  // namespace quorvel
