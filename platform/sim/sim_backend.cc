#include "platform/sim/sim_backend.h"

#include <filesystem>
#include <new>
#include <system_error>
#include <utility>

#include "platform/os/console.h"
#include "platform/os/text_encoding.h"
#include "platform/sim/sim_device_file.h"
#include "platform/sim/sim_device_lock.h"

namespace quorvel {

Result SimDeviceRun::take_lock() {
  // The device file is locked before it is read. A run that waited in
  // vain stops; so does one whose file is not a regular file: a FIFO that
  // nobody writes to, or a device, would keep the run waiting (or reading)
  // without end. Without a lock for any other reason (a read-only folder of
  // a file system without locks, say) the device can still be read, but a
  // change not kept.
  if (Result locked = lock_sim_device(path_, lock_, reporter_); !locked) {
    if (locked.kind() == kLockErrorTimedOut) return locked;
    if (locked.kind() == kLockErrorNotRegular) {
      return Result::failure("not a regular file; a simulated device is a file of its own");
    }
    lock_error_ = locked.message();
  }
  return Result();
}

Result SimDeviceRun::read(SimDevice& device) {
  std::error_code error;
  const std::uintmax_t size = std::filesystem::file_size(path_, error);
  Progress progress(reporter_, "reading the simulated device " +
                                           quote_name(system_to_utf8(path_.string())),
                    error ? 0 : size);
  if (Result loaded = load_sim_device(path_, device, 0, &progress); !loaded) return loaded;
  stamp_ = regular_file_stamp(path_);
  return Result();
}

Expected<std::unique_ptr<SimDeviceRun>> SimDeviceRun::open(const std::filesystem::path& path,
                                                            Reporter& reporter) {
  std::unique_ptr<SimDeviceRun> run(new SimDeviceRun(reporter));
  run->path_ = path;
  SimDevice device;
  if (Result locked = run->take_lock(); !locked) return locked.error();
  if (Result read = run->read(device); !read) return read.error();
  try {
    run->mixer_ = std::make_unique<SimMixer>(std::move(device));
  } catch (const std::bad_alloc&) {
    return Error{"not enough memory for the simulated device"};
  }
  return run;
}

Result SimDeviceRun::save() {
  if (!mixer_->changed()) return Result();
  if (!lock_.held()) {
    return Result::failure("cannot lock it (" + lock_error_ + ")");
  }
  return save_sim_device_file(mixer_->device(), path_);
}

Result SimDeviceRun::keep_changes() {
  Result saved = save();
  // The device is no longer needed: other runs may have it.
  lock_.release();
  if (saved) return saved;
  return Result::failure("cannot keep the simulated device's state in " + path_.string() + ": " +
                         saved.message());
}

void SimDeviceRun::pause() {
  if (!lock_.held()) return;
  lock_.release();
  paused_ = true;
}

Expected<bool> SimDeviceRun::resume() {
  if (!paused_) return false;
  paused_ = false;
  if (Result locked = take_lock(); !locked) return locked.error();
  // The same file as when it was read: nobody changed it meanwhile.
  if (stamp_ && regular_file_stamp(path_) == stamp_) return false;
  // Another run changed it: it is served as it is now.
  SimDevice device;
  if (Result read = this->read(device); !read) return read.error();
  try {
    mixer_->serve(std::move(device));
  } catch (const std::bad_alloc&) {
    return Error{"not enough memory for the simulated device"};
  }
  return true;
}

namespace {

MixerOpening open_sim(const std::string& name, Reporter& reporter) {
  Expected<std::unique_ptr<SimDeviceRun>> opened =
      SimDeviceRun::open(path_from_utf8(system_to_utf8(name)), reporter);
  if (!opened) return opened.error();
  return std::unique_ptr<OpenedMixer>(std::move(opened).value());
}

}  // namespace

// sim:PATH; never the machine's mixer.
MixerRegistration sim_mixer_registration() {
  return MixerRegistration{"sim", "PATH, a simulated device file", open_sim, nullptr};
}

}  // namespace quorvel
