#include "platform/sim/sim_device.h"

#include <string>
#include <unordered_map>
#include <unordered_set>
#include <utility>

namespace quorvel {

bool sim_type_has_items(std::uint32_t type) {
  return type == ctrl::kMux || type == ctrl::kMixer || type == ctrl::kMultipleSelect ||
         type == ctrl::kPortSelect;
}

bool sim_has_items(const SimControl& control) {
  return sim_type_has_items(control.type) ||
         (control.type == ctrl::kSingleSelect && control.list);
}

SimControl sim_control(std::uint32_t id, std::uint32_t type, std::string name,
                       std::int32_t min, std::int32_t max, std::uint32_t steps,
                       std::vector<std::int32_t> values) {
  SimControl control;
  control.id = id;
  control.type = type;
  control.name = std::move(name);
  control.min = min;
  control.max = max;
  control.steps = steps;
  control.values = std::move(values);
  return control;
}

SimControl sim_list_control(std::uint32_t id, std::uint32_t type, std::string name,
                            std::vector<SimItem> items) {
  SimControl control;
  control.id = id;
  control.type = type;
  control.name = std::move(name);
  control.list = true;
  control.max = items.empty() ? 0 : static_cast<std::int32_t>(items.size() - 1);
  control.items = std::move(items);
  return control;
}

Result check_sim_device(const SimDevice& device) {
  std::string error;
  std::unordered_map<std::uint32_t, std::string> lines;
  std::unordered_set<std::uint32_t> controls;
  auto add_line = [&](std::uint32_t id, std::string what) {
    auto [it, added] = lines.emplace(id, what);
    if (!added) {
      error = "duplicate line identifier " + std::to_string(static_cast<std::int32_t>(id)) +
              " (" + it->second + " and " + what + ")";
    }
    return added;
  };
  auto add_controls = [&](const std::vector<SimControl>& list, const std::string& where) {
    for (const SimControl& control : list) {
      if (!controls.insert(control.id).second) {
        error = "duplicate control identifier " +
                std::to_string(static_cast<std::int32_t>(control.id)) + " (\"" + control.name +
                "\" in " + where + ")";
        return false;
      }
    }
    return true;
  };
  for (std::size_t i = 0; i < device.destinations.size(); ++i) {
    const SimDestination& destination = device.destinations[i];
    std::string where = "destination " + std::to_string(i);
    if (!add_line(destination.line_id, where)) return Result::failure(error);
    if (!add_controls(destination.controls, where)) return Result::failure(error);
    for (std::size_t j = 0; j < destination.sources.size(); ++j) {
      std::string source_where = where + " source " + std::to_string(j);
      auto id = sim_source_line_id(static_cast<std::uint32_t>(i), static_cast<std::uint32_t>(j));
      if (!add_line(id, source_where)) return Result::failure(error);
      if (!add_controls(destination.sources[j].controls, source_where)) {
        return Result::failure(error);
      }
    }
  }
  return Result();
}

}  // namespace quorvel
