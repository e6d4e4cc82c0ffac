// The lock of a file that is replaced whole, on every platform: two locks
// of one file exclude each other (also within one process: each is its own
// open file), the file can be replaced while it is locked (a rename on
// POSIX, ReplaceFileW on Windows), and a lock waited for while the file was
// replaced ends up on the new file.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "platform/os/file_lock.h"
#include "platform/os/file_replace.h"
#include "support/test_util.h"

namespace quorvel {
namespace {

using testing::read_file;
using testing::TempDir;
using testing::write_file;

FileLock::Wait for_at_most(std::chrono::milliseconds timeout) {
  FileLock::Wait wait;
  wait.timeout = timeout;
  return wait;
}

TEST(FileLockTest, ALockedFileIsReplacedAndAWaitingLockMovesToTheNewFile) {
  TempDir dir;
  const std::filesystem::path device = dir / "device.xml";
  write_file(device, "old");
  FileLock held;
  ASSERT_TRUE(testing::succeeded(held.acquire(device, for_at_most(std::chrono::milliseconds(0)))));
  FileLock other;
  const Result refused = other.acquire(device, for_at_most(std::chrono::milliseconds(0)));
  EXPECT_FALSE(refused);
  EXPECT_EQ(refused.kind(), kLockErrorTimedOut);
  // A lock held does not keep a reader out.
  EXPECT_EQ(read_file(device), "old");

  Result waited;
  bool told = false;
  std::thread waiter([&] {
    FileLock::Wait wait = for_at_most(std::chrono::seconds(30));
    wait.on_held = [&] { told = true; };
    waited = other.acquire(device, wait);
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  // The holder replaces the file it has locked, then lets go.
  ASSERT_TRUE(testing::succeeded(write_file_atomically(device, "new")));
  EXPECT_EQ(read_file(device), "new");
  held.release();
  waiter.join();
  ASSERT_TRUE(testing::succeeded(waited));
  EXPECT_TRUE(told);
  // The waiter holds the lock of the file the name leads to now.
  FileLock third;
  EXPECT_EQ(third.acquire(device, for_at_most(std::chrono::milliseconds(0))).kind(),
            kLockErrorTimedOut);
  other.release();
  EXPECT_TRUE(testing::succeeded(third.acquire(device, for_at_most(std::chrono::milliseconds(0)))));
}

}  // namespace
}  // namespace quorvel
