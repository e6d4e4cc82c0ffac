#include "app/mixer_select.h"

#include "docio/save.h"
#include "platform/mixer/platform_mixer.h"
#include "platform/os/text_encoding.h"
#include "platform/sim/sim_device_file.h"
#include "snapshot/snapshot.h"

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
    SimDevice device;
    Result loaded = load_sim_device(path, device);
    if (!loaded) return fail(loaded.message());
    auto sim = std::make_unique<SimMixer>(std::move(device));
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
  pugi::xml_document document;
  std::optional<std::string> ignored_name;
  if (!build_snapshot(document, *selected.sim, ignored_name)) {
    return Result::failure("cannot describe the simulated device to save it");
  }
  return write_document(document, selected.sim_path);
}

}  // namespace quorvel
