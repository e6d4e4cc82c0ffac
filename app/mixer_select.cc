#include "app/mixer_select.h"

#include "docio/save.h"
#include "platform/platform_mixer.h"
#include "platform/text_encoding.h"
#include "snapshot/snapshot.h"

namespace quorvel {

bool select_mixer(const std::optional<std::string>& value, SelectedMixer& selected,
                  std::string& error) {
  selected = SelectedMixer{};
  auto fail = [&](const std::string& reason) {
    error = std::string(kMixerVariable) + "=" + value.value_or("") + ": " + reason;
    return false;
  };
  if (!value) {
    std::string reason;
    if (!open_platform_mixer("", selected.service, reason)) return fail(reason);
    return true;
  }
  const std::string& text = *value;
  if (text.rfind("sim:", 0) == 0) {
    std::filesystem::path path = path_from_utf8(system_to_utf8(text.substr(4)));
    if (path.empty()) return fail("no device file named after \"sim:\"");
    SimDevice device;
    std::string reason;
    if (!load_sim_device(path, device, reason)) return fail(reason);
    auto sim = std::make_unique<SimMixer>(std::move(device));
    selected.sim = sim.get();
    selected.sim_path = path;
    selected.service = std::move(sim);
    return true;
  }
  if (text.find(':') == std::string::npos || text.find(':') == 0) {
    return fail("not a mixer (use sim:PATH, or KIND:NAME for a device of this platform)");
  }
  std::string reason;
  if (!open_platform_mixer(text, selected.service, reason)) return fail(reason);
  if (!selected.service) return fail("no such mixer");
  return true;
}

bool save_sim_device(SelectedMixer& selected, std::string& error) {
  if (selected.sim == nullptr || !selected.sim->changed()) return true;
  pugi::xml_document document;
  std::optional<std::string> ignored_name;
  if (build_snapshot(document, *selected.sim, ignored_name) != kOk) {
    error = "cannot describe the simulated device to save it";
    return false;
  }
  return write_document(document, selected.sim_path, error);
}

}  // namespace quorvel
