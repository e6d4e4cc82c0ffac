#include "platform/sim/sim_device_lock.h"

#include <charconv>
#include <cstdlib>

#include "platform/os/console.h"
#include "platform/os/text_encoding.h"

namespace quorvel {
namespace {

std::string shown_path(const std::filesystem::path& path) {
  const std::u8string text = path.u8string();
  return quote_name(std::string(text.begin(), text.end()));
}

std::string seconds_text(long seconds) {
  return std::to_string(seconds) + (seconds == 1 ? " second" : " seconds");
}

}  // namespace

long lock_timeout_seconds(const std::optional<std::string>& value) {
  if (!value || value->empty()) return kDefaultLockTimeoutSeconds;
  long seconds = 0;
  const char* end = value->data() + value->size();
  auto [stop, error] = std::from_chars(value->data(), end, seconds);
  if (error == std::errc::result_out_of_range && stop == end && value->front() != '-') {
    return kMaxLockTimeoutSeconds;
  }
  if (error != std::errc() || stop != end || seconds < 0) return kDefaultLockTimeoutSeconds;
  return seconds > kMaxLockTimeoutSeconds ? kMaxLockTimeoutSeconds : seconds;
}

Result lock_sim_device(const std::filesystem::path& path, FileLock& lock, Reporter& reporter) {
  const char* variable = std::getenv(kLockTimeoutVariable);
  const long seconds =
      lock_timeout_seconds(variable != nullptr ? std::optional<std::string>(variable) : std::nullopt);
  FileLock::Wait wait;
  wait.timeout = std::chrono::seconds(seconds);
  if (seconds > 0) {
    wait.on_held = [&] {
      reporter.status("waiting for the simulated device " + shown_path(path) +
                      ", which another run is using (for at most " + seconds_text(seconds) +
                      ", " + kLockTimeoutVariable + ")");
    };
  }
  Result locked = lock.acquire(path, wait);
  if (locked || locked.kind() != kLockErrorTimedOut) return locked;
  const std::string device = "the device file " + shown_path(path);
  if (seconds == 0) {
    return Result::failure(device + " is in use by another run (" + kLockTimeoutVariable +
                               "=0: no waiting); nothing was done",
                           kLockErrorTimedOut);
  }
  return Result::failure(device + " is still in use by another run after " + seconds_text(seconds) +
                             " (" + kLockTimeoutVariable + "); nothing was done",
                         kLockErrorTimedOut);
}

}  // namespace quorvel
