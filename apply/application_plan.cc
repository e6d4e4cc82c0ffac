#include "apply/application_plan.h"

#include <cstdlib>
#include <map>
#include <set>
#include <string_view>

#include "apply/plan_steps.h"
#include "common/number_text.h"
#include "platform/document/document_format.h"
#include "platform/mixer/control_types.h"
#include "platform/os/console.h"

namespace quorvel {
namespace {

// A playback stream's key names its kind first, as servers key them
// ("sink-input-by-..."); a recording stream's is "source-output-by-...".
bool playback_key(std::string_view key) { return key.rfind("source-output", 0) != 0; }


// The server names of the devices of the mixer, sinks apart from sources.
struct Devices {
  std::set<std::string, std::less<>> sinks;
  std::set<std::string, std::less<>> sources;

  explicit Devices(const ModelLayout* layout) {
    if (layout == nullptr) return;
    for (std::size_t index : layout->destinations) {
      const ModelLine& line = layout->lines[index];
      if (line.device_name.empty()) continue;
      (line.component_type == kComponentDstSpeakers ? sinks : sources).insert(line.device_name);
    }
  }
  bool has(bool playback, std::string_view name) const {
    return (playback ? sinks : sources).count(name) != 0;
  }
};

// The applications a mixer's documents hold, in document order.
std::vector<DocNode> application_nodes(Document& input) {
  std::vector<DocNode> found;
  for (DocNode root : input.root().children(doc::kAudioMixer)) {
    root.append_children(doc::kApplication, found);
  }
  return found;
}

}  // namespace

std::string application_text(const PlannedApplication& application) {
  std::string text = "application " + quote_name(application.name);
  if (application.present && !application.now.running) text += " (not running)";
  return text;
}

bool application_volume_differs(std::int32_t now, std::int32_t wanted) {
  return std::abs(static_cast<std::int64_t>(now) - wanted) > 1;
}

bool application_would_change(const PlannedApplication& application) {
  // A rule is always written: what a server reads back of its rules is not
  // always what it applies (PipeWire's lag behind what WirePlumber keeps).
  if (!application.present || !application.now.running) return true;
  const ApplicationWrite& write = application.write;
  const MixerApplication& now = application.now;
  if (write.set_mute && write.mute != now.mute) return true;
  if (!write.device.empty() && write.device != now.device) return true;
  if (write.volume.empty()) return false;
  if (write.volume.size() != now.volume.size()) return true;
  for (std::size_t k = 0; k < write.volume.size(); ++k) {
    if (application_volume_differs(now.volume[k], write.volume[k])) return true;
  }
  return false;
}

void plan_applications(Document& input, Mixer& mixer, const ModelLayout* layout,
                       RestorePlan& plan) {
  const std::vector<DocNode> nodes = application_nodes(input);
  if (nodes.empty()) return;
  std::vector<MixerApplication> held;
  const MixerResult read = mixer.read_applications(0, held);
  if (read == kMixerUnsupported) {
    plan.entries.push_back(PlanProblem{
        std::to_string(nodes.size()) +
            (nodes.size() == 1 ? " application of the document is" : " applications of the document are") +
            " left out: this mixer keeps no applications",
        false});
    return;
  }
  if (read != kMixerOk) {
    plan.entries.push_back(PlanProblem{"cannot read the applications of the mixer: mixer error " +
                                       std::to_string(read)});
    return;
  }
  std::map<std::string_view, const MixerApplication*> by_key;
  for (const MixerApplication& application : held) by_key.emplace(application.key, &application);
  const Devices devices(layout);

  for (DocNode node : nodes) {
    PlannedApplication planned;
    planned.name = std::string(name_text(node));
    const DocAttribute key = node.attribute(doc::kKey);
    if (!key || key.value().empty()) {
      plan.entries.push_back(PlanProblem{"application " + quote_name(planned.name) +
                                         " has no key; passed over"});
      continue;
    }
    ApplicationWrite& write = planned.write;
    write.key = std::string(key.value());
    write.playback = playback_key(write.key);
    bool numbers = true;
    for (DocNode value : node.children(doc::kValue)) {
      const std::optional<std::int32_t> number = parse_int_strict(first_text(value));
      if (!number || *number < 0) {
        plan.entries.push_back(PlanProblem{application_text(planned) + ": the volume " +
                                           quote_name(first_text(value)) +
                                           " is not a number of 0 or more; passed over"});
        numbers = false;
        break;
      }
      write.volume.push_back(*number);
      write.positions.emplace_back(value.attribute_value(doc::kPosition));
    }
    if (!numbers) continue;
    // Positions go with every value or with none.
    for (const std::string& position : write.positions) {
      if (position.empty()) {
        write.positions.clear();
        break;
      }
    }
    if (const DocAttribute mute = node.attribute(doc::kMute)) {
      write.set_mute = true;
      write.mute = parse_int(mute.value()) != 0;
    }
    const std::string_view device = node.attribute_value(doc::kServerName);
    if (!device.empty()) {
      if (devices.has(write.playback, device)) {
        write.device = std::string(device);
      } else {
        plan.entries.push_back(PlanProblem{application_text(planned) + ": the device " +
                                               quote_name(device) +
                                               " is not on this mixer; it stays where it is",
                                           false});
      }
    }
    auto found = by_key.find(write.key);
    if (found != by_key.end()) {
      planned.present = true;
      planned.now = *found->second;
    }
    plan.applications.push_back(std::move(planned));
  }
}

int execute_applications(const RestorePlan& plan, Mixer& mixer, Reporter& reporter) {
  std::vector<ApplicationWrite> writes;
  std::vector<const PlannedApplication*> planned;
  for (const PlannedApplication& application : plan.applications) {
    if (!application_would_change(application)) continue;
    writes.push_back(application.write);
    planned.push_back(&application);
  }
  if (writes.empty()) return 0;
  mixer.write_applications(0, writes);
  int reported = 0;
  for (std::size_t k = 0; k < writes.size(); ++k) {
    if (writes[k].result == kMixerOk) continue;
    report_problem(PlanProblem{"cannot restore " + application_text(*planned[k]) +
                                   ": mixer error " + std::to_string(writes[k].result)},
                   reporter);
    ++reported;
  }
  return reported;
}

}  // namespace quorvel
