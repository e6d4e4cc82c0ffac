#include "platform/sim/sim_backend.h"

#include <new>
#include <system_error>
#include <utility>

#include "platform/os/text_encoding.h"
#include "platform/sim/sim_device_file.h"

namespace quorvel {

std::filesystem::path sim_lock_path(const std::filesystem::path& device_file) {
  std::error_code error;
  std::filesystem::path file = std::filesystem::canonical(device_file, error);
  if (error) file = std::filesystem::absolute(device_file, error);
  if (error) file = device_file;
  file += ".lock";
  return file;
}

Result SimDeviceRun::open(const std::filesystem::path& path, std::unique_ptr<SimDeviceRun>& out) {
  std::unique_ptr<SimDeviceRun> run(new SimDeviceRun());
  run->path_ = path;
  if (Result locked = run->lock_.acquire(sim_lock_path(path)); !locked) {
    run->lock_error_ = locked.message();
  }
  SimDevice device;
  if (Result loaded = load_sim_device(path, device); !loaded) return loaded;
  try {
    run->mixer_ = std::make_unique<SimMixer>(std::move(device));
  } catch (const std::bad_alloc&) {
    return Result::failure("not enough memory for the simulated device");
  }
  out = std::move(run);
  return Result();
}

Result SimDeviceRun::save() {
  if (!mixer_->changed()) return Result();
  if (!lock_.held()) {
    return Result::failure("cannot lock it (" + sim_lock_path(path_).string() + ": " +
                           lock_error_ + ")");
  }
  return save_sim_device_file(mixer_->device(), path_);
}

Result SimDeviceRun::keep_changes() {
  Result saved = save();
  if (saved) return saved;
  return Result::failure("cannot keep the simulated device's state in " + path_.string() + ": " +
                         saved.message());
}

namespace {

Result open_sim(const std::string& name, std::unique_ptr<OpenedMixer>& out) {
  std::unique_ptr<SimDeviceRun> run;
  Result opened = SimDeviceRun::open(path_from_utf8(system_to_utf8(name)), run);
  if (opened) out = std::move(run);
  return opened;
}

}  // namespace

// sim:PATH; never the machine's mixer.
MixerRegistration sim_mixer_registration() {
  return MixerRegistration{"sim", "PATH, a simulated device file", open_sim, nullptr};
}

}  // namespace quorvel
