// Replays the fuzz targets' saved inputs and the example devices: each must
// run through both targets without breaking a rule.
#include <gtest/gtest.h>

#include <cstdint>

#include "fuzz/fuzz_targets.h"
#include "support/test_util.h"

namespace quorvel {
namespace {

TEST(FuzzReplayTest, CorpusAndExamples) {
  std::size_t count = 0;
  for (const char* folder : {"tests/fuzz/corpus", "examples"}) {
    for (const auto& entry : std::filesystem::directory_iterator(testing::source_dir() / folder)) {
      if (!entry.is_regular_file()) continue;
      SCOPED_TRACE(entry.path().string());
      const std::string bytes = testing::read_file(entry.path());
      const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.data());
      EXPECT_EQ(fuzz_restore(data, bytes.size()), 0);
      EXPECT_EQ(fuzz_device_file(data, bytes.size()), 0);
      ++count;
    }
  }
  EXPECT_GE(count, 2u);
}

}  // namespace
}  // namespace quorvel
