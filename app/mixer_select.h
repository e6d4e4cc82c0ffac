// Choosing the mixer back-end from the QUORVEL_MIXER environment variable.
#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "common/result.h"
#include "platform/mixer/mixer.h"
#include "platform/os/file_lock.h"
#include "platform/sim/sim_mixer.h"

namespace quorvel {

inline constexpr const char* kMixerVariable = "QUORVEL_MIXER";

struct SelectedMixer {
  std::unique_ptr<MixerService> service;  // null: this machine has no mixer
  SimMixer* sim = nullptr;                // set for a simulated device file
  std::filesystem::path sim_path;
  // A simulated device is one run's at a time: the lock of its device file
  // is held from before the file is read until it has been rewritten (or
  // the object goes). Runs that find it held wait.
  FileLock sim_lock;
  std::string sim_lock_error;  // why the lock could not be taken, if it was not
};

// `value` is the variable's value, or nothing when it is unset:
//   unset       the platform's own mixer
//   sim:PATH    the simulated device described by the mixer document PATH
//   KIND:NAME   a named device of a platform back-end (alsa:NAME on Linux)
// Fails, naming the variable, the value and the reason, when the value is
// not usable.
Result select_mixer(const std::optional<std::string>& value, SelectedMixer& selected);

// Writes a changed simulated device back to its file, whole (every channel,
// value and list item it has), replacing the file in one step. Refused when
// the run does not hold the device's lock, since another run's change
// could then be lost.
Result save_sim_device(SelectedMixer& selected);

}  // namespace quorvel
