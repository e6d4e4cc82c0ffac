// Replays the fuzz target's saved inputs and the example devices: each must
// run through loading and restoring without breaking the device's rules.
#include <gtest/gtest.h>

#include <cstdint>

#include "support/test_util.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace quorvel {
namespace {

int replay(const std::string& bytes) {
  return LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
}

TEST(FuzzReplayTest, CorpusAndExamples) {
  std::size_t count = 0;
  for (const char* folder : {"tests/fuzz/corpus", "examples"}) {
    for (const auto& entry : std::filesystem::directory_iterator(testing::source_dir() / folder)) {
      if (!entry.is_regular_file()) continue;
      SCOPED_TRACE(entry.path().string());
      EXPECT_EQ(replay(testing::read_file(entry.path())), 0);
      ++count;
    }
  }
  EXPECT_GE(count, 2u);
}

}  // namespace
}  // namespace quorvel
