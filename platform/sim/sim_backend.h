// QUORVEL_MIXER=sim:PATH: the simulated device of the device file PATH,
// served for one run and written back to its file after it.
#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "common/result.h"
#include "platform/mixer/mixer_registration.h"
#include "platform/os/file_lock.h"
#include "platform/os/file_stamp.h"
#include "platform/sim/sim_mixer.h"

namespace quorvel {

// A simulated device is one run's at a time: the lock of its device file is
// held from before the file is read until its change is kept (or the
// object goes). Runs that find it held wait (sim_device_lock.h).
class SimDeviceRun final : public OpenedMixer {
 public:
  // Takes the device's lock and reads its file. Without the lock (a file
  // that is not a regular one, say) the device can still be read; only a
  // change cannot be kept. Fails, saying why, when the wait for the lock
  // ends without it, or the file cannot be read or is not a valid device.
  // A wait for the lock (here or at resume) is said to `reporter`, which
  // must outlive the run.
  static Expected<std::unique_ptr<SimDeviceRun>> open(const std::filesystem::path& path,
                                                      Reporter& reporter);

  Mixer& mixer() override { return *mixer_; }
  // The simulated mixer itself.
  SimMixer& sim() { return *mixer_; }
  bool locked() const { return lock_.held(); }

  // Writes a changed device back to its file, whole (every channel, value
  // and list item it has), replacing the file in one step; does nothing
  // when nothing changed. Refused when the run does not hold the device's
  // lock, since another run's change could then be lost.
  Result save();
  // save(), with a failure naming the file; then lets go of the lock.
  Result keep_changes() override;
  // Lets go of the lock while the run waits for its document, so that
  // other runs are not held off; resume takes it again (waiting as open
  // does) and, when the file no longer holds the device served, serves what
  // it holds now.
  void pause() override;
  Expected<bool> resume() override;

 private:
  explicit SimDeviceRun(Reporter& reporter) : reporter_(reporter) {}

  Reporter& reporter_;
  std::filesystem::path path_;
  FileLock lock_;
  // Takes the device's lock; fails as open() says.
  Result take_lock();
  // Reads the device file into `device`, noting the file's stamp.
  Result read(SimDevice& device);

  std::string lock_error_;  // why the lock could not be taken, if it was not
  std::optional<FileStamp> stamp_;  // the file as it was read
  bool paused_ = false;     // the lock was let go of by pause()
  std::unique_ptr<SimMixer> mixer_;
};

}  // namespace quorvel
