// One run at a time per simulated device: the lock of its device file.
//
// The lock is taken on the device file itself (platform/os/file_lock.h), so
// that a link and the file it leads to share it and nothing is ever
// created. A run that finds it held says so once on standard error and
// waits, up to QUORVEL_LOCK_TIMEOUT seconds.
#pragma once

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>

#include "common/report.h"
#include "common/result.h"
#include "platform/os/file_lock.h"

namespace quorvel {

inline constexpr const char* kLockTimeoutVariable = "QUORVEL_LOCK_TIMEOUT";
inline constexpr long kDefaultLockTimeoutSeconds = 30;
// Longer than a day is surely a mistake.
inline constexpr long kMaxLockTimeoutSeconds = 86400;

// The wait for a held lock, in seconds: the variable's value when it is a
// whole number from 0 (do not wait) up (at most kMaxLockTimeoutSeconds),
// else the default. `value` is the variable's text, or nothing when unset.
long lock_timeout_seconds(const std::optional<std::string>& value);

// Takes the lock of the device file `path`, waiting for another run as the
// environment's QUORVEL_LOCK_TIMEOUT says. While it waits it has said to
// `reporter`, once, which device it waits for. A failure holds nothing
// and its kind says why (kLockErrorTimedOut: the wait
// ended without the lock, and the message says so in a sentence naming the
// device file).
Result lock_sim_device(const std::filesystem::path& path, FileLock& lock, Reporter& reporter);

}  // namespace quorvel
