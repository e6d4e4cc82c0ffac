#include "app/mixer_select.h"

#include <new>

#include "platform/mixer/platform_mixer.h"
#include "platform/os/text_encoding.h"
#include "platform/sim/sim_device_file.h"
#include "platform/sim/sim_device_lock.h"

namespace quorvel {

Result select_mixer(const std::optional<std::string>& value, SelectedMixer& selected) {
  selected = SelectedMixer{};
  auto fail = [&](const std::string& reason) {
    return Result::failure(std::string(kMixerVariable) + "=" + value.value_or("") + ": " + reason);
  };
  if (!value) {
    Result opened = open_platform_mixer("", selected.service);
    return opened ? opened : fail(opened.message());
  }
  const std::string& text = *value;
  if (text.rfind("sim:", 0) == 0) {
    std::filesystem::path path = path_from_utf8(system_to_utf8(text.substr(4)));
    if (path.empty()) return fail("no device file named after \"sim:\"");
    // The device file is locked before it is read. A run that waited in
    // vain stops; without a lock for any other reason (a file that is not a
    // regular one, say) the device can still be read, but a change not kept.
    Result locked = lock_sim_device(path, selected.sim_lock);
    if (!locked && locked.code() == kLockErrorTimedOut) return fail(locked.message());
    if (!locked) selected.sim_lock_error = locked.message();
    SimDevice device;
    Result loaded = load_sim_device(path, device);
    if (!loaded) return fail(loaded.message());
    std::unique_ptr<SimMixer> sim;
    try {
      sim = std::make_unique<SimMixer>(std::move(device));
    } catch (const std::bad_alloc&) {
      return fail("not enough memory for the simulated device");
    }
    selected.sim = sim.get();
    selected.sim_path = path;
    selected.service = std::move(sim);
    return Result();
  }
  if (text.find(':') == std::string::npos || text.find(':') == 0) {
    return fail("not a mixer (use sim:PATH, or KIND:NAME for a device of this platform)");
  }
  Result opened = open_platform_mixer(text, selected.service);
  if (!opened) return fail(opened.message());
  if (!selected.service) return fail("no such mixer");
  return Result();
}

Result save_sim_device(SelectedMixer& selected) {
  if (selected.sim == nullptr || !selected.sim->changed()) return Result();
  if (!selected.sim_lock.held()) {
    return Result::failure("cannot lock it (" + selected.sim_lock_error + ")");
  }
  return save_sim_device_file(selected.sim->device(), selected.sim_path);
}

}  // namespace quorvel
