#include "apply/preview.h"

#include <algorithm>
#include <map>
#include <string>
#include <variant>

#include "apply/application_plan.h"
#include "platform/document/control_kind.h"
#include "platform/mixer/control_types.h"
#include "platform/os/console.h"
#include "platform/os/text_encoding.h"

namespace quorvel {
namespace {

// A line as the preview names it: its name, and its device name after it
// when another line of the mixer has the same name.
std::string line_text(const ModelLine& line, const std::map<std::string, int>& names) {
  std::string text = quote_name(line.name);
  auto found = names.find(line.name);
  if (found != names.end() && found->second > 1 && !line.device_name.empty()) {
    text += " (" + line.device_name + ")";
  }
  return text;
}

// How many of the mixer's lines have each name.
std::map<std::string, int> line_names(const ModelLayout& layout) {
  std::map<std::string, int> names;
  for (const ModelLine& line : layout.lines) ++names[line.name];
  return names;
}

// "LINE" / "CONTROL", with the destination first for a source's control.
std::string control_path(const PlannedWrite& write) {
  if (!write.mixer_path.empty()) return write.mixer_path;
  std::string path;
  if (!write.destination_name.empty()) path = quote_name(write.destination_name) + " / ";
  return path + quote_name(write.line_name) + " / " + quote_name(write.control_name);
}

// Where a value goes: nothing for a whole control, " ch N" (from 1) for a
// channel, " item N "NAME"" (from 0) for a list item.
std::string slot_text(const PlannedWrite& write, std::uint32_t slot) {
  switch (write.shape) {
    case WriteShape::kWhole: return "";
    // Appended piece by piece: GCC 12 at -O3 warns (falsely) about a
    // literal added to a string in one expression.
    case WriteShape::kChannels: {
      std::string text(" ch ");
      text += std::to_string(slot + 1);
      return text;
    }
    case WriteShape::kItems: {
      std::string text(" item ");
      text += std::to_string(slot);
      if (slot < write.item_names.size()) {
        text += ' ';
        text += quote_name(write.item_names[slot]);
      }
      return text;
    }
  }
  return "";
}

// The bounds as the control reads them: signed, or unsigned when min > max.
std::string bounds_text(const ControlBounds& bounds) {
  if (bounds.min <= bounds.max) {
    return std::to_string(bounds.min) + " to " + std::to_string(bounds.max);
  }
  return std::to_string(static_cast<std::uint32_t>(bounds.min)) + " to " +
         std::to_string(static_cast<std::uint32_t>(bounds.max));
}

// Writes one line, made safe to print, in the console's encoding.
void print_line(std::ostream& out, const std::string& line) {
  out << utf8_to_console(printable(line) + "\n");
}

void preview_write(const PlannedWrite& write, std::ostream& out, PreviewCounts& counts) {
  const std::string path = control_path(write);
  if (foresee_refusal(write) == ForeseenRefusal::kMuxNotOneItem) {
    const auto selected = std::count(write.wanted.begin(), write.wanted.end(), 1);
    print_line(out, "refuse: " + path + ": a MUX selection of " + std::to_string(selected) +
                        " items (it takes exactly one)");
    ++counts.refusals;
    return;
  }
  for (const SlotValue& value : write.document) {
    const std::uint32_t slot = value.slot;
    // Positions the control lacks are passed over by the write too.
    if (slot >= write.wanted.size() || slot >= write.now.size()) continue;
    const std::int32_t now = write.now[slot];
    const std::int32_t wanted = write.wanted[slot];
    if (value_refused(write, wanted)) {
      const std::string why = write.shape == WriteShape::kItems
                                  ? "(an item is selected, 1, or not, 0)"
                                  : "(bounds " + bounds_text(write.bounds) + ")";
      print_line(out, "refuse: " + path + slot_text(write, slot) + ": " +
                          std::to_string(wanted) + " " + why);
      ++counts.refusals;
    } else if (value_would_change(now, wanted, write.bounds)) {
      print_line(out, "change: " + path + slot_text(write, slot) + ": " +
                          value_with_percent(write.control_type, now) + " -> " +
                          value_with_percent(write.control_type, wanted));
      ++counts.changes;
    } else {
      ++counts.matches;
    }
  }
}

// The lines of the plan's applications:
//   change: application "NAME" volume ch N: NOW (P%) -> WANTED (P%)
//   change: application "NAME" mute: NOW -> WANTED
//   change: application "NAME" device: "NOW" -> "WANTED"
// "none" standing for what a key the server does not hold yet has now.
void preview_applications(const RestorePlan& plan, std::ostream& out, PreviewCounts& counts) {
  for (const PlannedApplication& application : plan.applications) {
    const std::string prefix = "change: " + application_text(application);
    const ApplicationWrite& write = application.write;
    const MixerApplication& now = application.now;
    for (std::size_t k = 0; k < write.volume.size(); ++k) {
      const bool held = application.present && k < now.volume.size();
      if (held && !application_volume_differs(now.volume[k], write.volume[k])) {
        ++counts.matches;
        continue;
      }
      print_line(out, prefix + " volume ch " + std::to_string(k + 1) + ": " +
                          (held ? value_with_percent(ctrl::kVolume, now.volume[k])
                                : std::string("none")) +
                          " -> " + value_with_percent(ctrl::kVolume, write.volume[k]));
      ++counts.changes;
    }
    if (write.set_mute) {
      if (application.present && now.mute == write.mute) {
        ++counts.matches;
      } else {
        print_line(out, prefix + " mute: " +
                            (application.present ? std::string(now.mute ? "1" : "0")
                                                 : std::string("none")) +
                            " -> " + (write.mute ? "1" : "0"));
        ++counts.changes;
      }
    }
    if (!write.device.empty()) {
      if (application.present && now.device == write.device) {
        ++counts.matches;
      } else {
        print_line(out, prefix + " device: " +
                            (application.present && !now.device.empty() ? quote_name(now.device)
                                                                        : std::string("none")) +
                            " -> " + quote_name(write.device));
        ++counts.changes;
      }
    }
  }
}

std::string count_text(int count, const char* one, const char* many) {
  return std::to_string(count) + " " + (count == 1 ? one : many);
}

}  // namespace

void name_writes_by_mixer(RestorePlan& plan, Mixer& mixer) {
  const ModelLayout* layout = nullptr;
  if (mixer.describe(0, layout) != kMixerOk) return;
  const std::map<std::string, int> names = line_names(*layout);
  for (PlanEntry& entry : plan.entries) {
    auto* write = std::get_if<PlannedWrite>(&entry);
    if (write == nullptr) continue;
    const ModelControl* control = layout->control_by_id(write->control_id);
    if (control == nullptr) continue;
    const ModelLine& line = layout->lines[control->line];
    // A source's control: its destination first.
    std::string path;
    const ModelLine& destination = layout->destination_of(line);
    if (&destination != &line) path = line_text(destination, names) + " / ";
    write->mixer_path = path + line_text(line, names) + " / " + quote_name(control->name);
  }
}

PreviewCounts print_preview(const RestorePlan& plan, std::ostream& out, Reporter& reporter) {
  PreviewCounts counts;
  for (const PlanEntry& entry : plan.entries) {
    if (const auto* problem = std::get_if<PlanProblem>(&entry)) {
      report_problem(*problem, reporter);
      if (problem->failure) ++counts.problems;
      continue;
    }
    preview_write(std::get<PlannedWrite>(entry), out, counts);
  }
  preview_applications(plan, out, counts);
  print_line(out, count_text(counts.changes, "value", "values") + " would change, " +
                      std::to_string(counts.refusals) + " would be refused, " +
                      std::to_string(counts.matches) +
                      (counts.matches == 1 ? " already matches" : " already match"));
  out.flush();
  return counts;
}

}  // namespace quorvel
