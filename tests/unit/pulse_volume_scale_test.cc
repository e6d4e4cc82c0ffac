// The sound server's volume on the document's scale: both directions at the
// points the rule is about, and the round trips over the first three times
// full volume and at the server's top.
#include <gtest/gtest.h>

#include <cstdint>
#include <optional>

#include "platform/pulse/pulse_volume_scale.h"

namespace quorvel::pulse {
namespace {

TEST(PulseVolumeScaleTest, RawToDocumentAndBack) {
  struct Case {
    std::uint32_t raw;
    std::int32_t document;
    std::uint32_t back;  // the raw value the document value writes
  } cases[] = {
      {0, 0, 0},
      {1, 0, 0},  // k * 65536 + 1: one raw step lower
      {2, 1, 2},
      {32768, 32767, 32768},  // 50 %
      {65535, 65534, 65535},
      {65536, 65535, 65536},  // 100 %: a document's full volume
      {65537, 65535, 65536},  // k * 65536 + 1 again
      {65538, 65536, 65538},
      {98304, 98302, 98304},  // 150 %
      {131073, 131070, 131072},
      {0x7FFFFFFFu, 2147450879, 0x7FFFFFFFu},  // the most the server holds
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.raw);
    EXPECT_EQ(document_of_raw(c.raw), c.document);
    EXPECT_EQ(raw_of_document(c.document), std::optional<std::uint32_t>(c.back));
  }
  EXPECT_EQ(kDocumentTop, 2147450879);
}

TEST(PulseVolumeScaleTest, ValuesTheServerCannotHoldHaveNoRawValue) {
  for (std::int32_t value : {-1, -65535, kDocumentTop + 1, INT32_MAX}) {
    EXPECT_EQ(raw_of_document(value), std::nullopt) << value;
  }
}

// Every document value comes back as itself; every raw value too, except
// k * 65536 + 1, one raw step lower.
TEST(PulseVolumeScaleTest, RoundTripsAreExactButForOneRawValueInEach65536) {
  const auto check_raw = [](std::uint32_t raw) {
    const std::uint32_t expected = raw % 65536 == 1 ? raw - 1 : raw;
    ASSERT_EQ(raw_of_document(document_of_raw(raw)), std::optional<std::uint32_t>(expected))
        << raw;
  };
  const auto check_document = [](std::int32_t value) {
    const std::optional<std::uint32_t> raw = raw_of_document(value);
    ASSERT_TRUE(raw.has_value()) << value;
    ASSERT_EQ(document_of_raw(*raw), value);
  };
  for (std::uint32_t raw = 0; raw <= 3 * 65536; ++raw) check_raw(raw);
  for (std::uint32_t raw = 0x7FFFFFFFu - 3 * 65536; raw != 0x80000000u; ++raw) check_raw(raw);
  for (std::int32_t value = 0; value <= 3 * 65535; ++value) check_document(value);
  for (std::int32_t value = kDocumentTop - 3 * 65535; value <= kDocumentTop; ++value) {
    check_document(value);
  }
}

}  // namespace
}  // namespace quorvel::pulse
