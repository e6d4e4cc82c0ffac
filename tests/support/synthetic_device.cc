#include "support/synthetic_device.h"

#include <string>
#include <utility>
#include <vector>

namespace quorvel {

SimDevice make_sim_device(std::size_t control_count, std::uint32_t destinations,
                          std::uint32_t sources_per_destination) {
  SimDevice device;
  device.name = "Synthetic Mixer";
  if (destinations == 0) destinations = 1;
  std::uint32_t next_id = 1;
  std::size_t made = 0;
  for (std::uint32_t i = 0; i < destinations; ++i) {
    SimDestination destination;
    destination.name = "Destination " + std::to_string(i);
    destination.line_id = 0xFFFF0000u + i;
    destination.component_type = i % 2 == 0 ? kComponentDstSpeakers : kComponentDstWaveIn;
    for (std::uint32_t j = 0; j < sources_per_destination; ++j) {
      SimSource source;
      source.name = "Source " + std::to_string(i) + "." + std::to_string(j);
      source.line_type = kComponentSrcUndefined + (j % 11);
      destination.sources.push_back(std::move(source));
    }
    if (made < control_count) {
      std::vector<SimItem> items;
      for (std::uint32_t j = 0; j < sources_per_destination; ++j) {
        items.push_back(SimItem{destination.sources[j].name, j == 0 ? 1 : 0});
      }
      destination.controls.push_back(
          sim_list_control(next_id++, ctrl::kMux, "Select " + std::to_string(i), items));
      ++made;
    }
    device.destinations.push_back(std::move(destination));
  }
  // Spread the rest over every line, one line after another.
  std::vector<std::vector<SimControl>*> lines;
  for (SimDestination& destination : device.destinations) {
    lines.push_back(&destination.controls);
    for (SimSource& source : destination.sources) lines.push_back(&source.controls);
  }
  std::size_t line = 0;
  while (made < control_count) {
    std::uint32_t id = next_id++;
    std::string suffix = " " + std::to_string(id);
    SimControl control;
    switch (id % 6) {
      case 0: control = sim_control(id, ctrl::kVolume, "Volume" + suffix, 0, 65535, 65535, {32768}); break;
      case 1: control = sim_control(id, ctrl::kMute, "Mute" + suffix, 0, 1, 0, {0}); break;
      case 2: control = sim_control(id, ctrl::kBass, "Bass" + suffix, 0, 65535, 65535, {32768}); break;
      case 3: control = sim_control(id, ctrl::kTreble, "Treble" + suffix, 0, 65535, 65535, {32768}); break;
      case 4: control = sim_control(id, ctrl::kPan, "Pan" + suffix, -32768, 32767, 65535, {0}); break;
      default: control = sim_control(id, ctrl::kPeakMeter, "Meter" + suffix, -32768, 32767, 0, {0}); break;
    }
    lines[line]->push_back(std::move(control));
    line = (line + 1) % lines.size();
    ++made;
  }
  return device;
}

}  // namespace quorvel
