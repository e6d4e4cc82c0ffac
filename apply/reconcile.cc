#include "apply/reconcile.h"

#include <cstring>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "apply/plan_steps.h"
#include "platform/document/document_format.h"
#include "platform/os/console.h"
#include "platform/xml/xml_dom.h"

namespace quorvel {
namespace {

// The key attribute of an element, chosen by its name; null for others.
const char* key_attribute_name(pugi::xml_node node) {
  if (node.type() != pugi::node_element) return nullptr;
  std::string_view name = node.name();
  if (name == doc::kAudioMixer) return doc::kId;
  if (name == doc::kDestination) return doc::kComponentType;
  if (name == doc::kSource) return doc::kLineType;
  if (name == doc::kLineControl) return doc::kCtrlType;
  return nullptr;
}

pugi::xml_attribute key_attribute(pugi::xml_node node) {
  const char* name = key_attribute_name(node);
  return name != nullptr ? node.attribute(name) : pugi::xml_attribute();
}

// Gives a paired input control its partner's identifier. Without one on the
// partner, the input control loses its own, so that it can never be written
// to a control it does not stand for.
void copy_control_id(pugi::xml_node control, pugi::xml_node partner) {
  pugi::xml_attribute id = partner.attribute(doc::kCtrlId);
  pugi::xml_attribute own = control.attribute(doc::kCtrlId);
  if (!id) {
    if (own) control.remove_attribute(own);
    return;
  }
  if (!own) own = control.append_attribute(doc::kCtrlId);
  own.set_value(id.value());
}

// The selections of reconciliation, each the element children of one name
// in document order, walked directly instead of through an XPath query:
//   roots          "/audio_mixer" on a document
//   destinations   "/audio_mixer[destination]/destination" on a document
//   sources        "self::node()[source]/source" on a destination
//   line controls  "self::node()[line_control]/line_control" on a line
std::vector<pugi::xml_node> roots(pugi::xml_document& document) {
  return child_elements(document, doc::kAudioMixer);
}

std::vector<pugi::xml_node> destinations(pugi::xml_document& document) {
  std::vector<pugi::xml_node> found;
  for (pugi::xml_node root : roots(document)) {
    append_child_elements(root, doc::kDestination, found);
  }
  return found;
}

PlanProblem keyless(pugi::xml_node node) {
  return {std::string(node.name()) + " " + quote_name(name_text(node)) + " has no " +
          key_attribute_name(node) + "; passed over with everything in it"};
}

int count_paired(const PrunedList& controls) {
  int paired = 0;
  for (pugi::xml_node partner : controls.partners) {
    if (partner) ++paired;
  }
  return paired;
}

// Pairs the documents and plans the writes through `session`.
RestorePlan make_plan(pugi::xml_document& input, pugi::xml_document& snapshot,
                      MixerSession& session) {
  PairedControls paired = pair_documents(input, snapshot);
  RestorePlan plan;
  plan.paired = paired.paired;
  plan.entries.assign(paired.problems.begin(), paired.problems.end());
  for (const auto& controls : paired.lists) plan_line_controls(controls, session, plan);
  return plan;
}

}  // namespace

PrunedList prune_unpaired(const std::vector<pugi::xml_node>& first,
                          const std::vector<pugi::xml_node>& second) {
  // The second list's nodes by key text, in list order, and how many of
  // them first-list nodes have taken. The keys are the second list's own
  // texts, which stay valid: that list is never changed.
  struct Partners {
    std::vector<pugi::xml_node> nodes;
    std::size_t taken = 0;
  };
  std::unordered_map<std::string_view, Partners> partners_by_key;
  partners_by_key.reserve(second.size());
  for (pugi::xml_node node : second) {
    if (pugi::xml_attribute key = key_attribute(node)) {
      partners_by_key[key.value()].nodes.push_back(node);
    }
  }

  PrunedList result;
  result.remaining.reserve(first.size());
  result.partners.reserve(first.size());
  for (pugi::xml_node node : first) {
    pugi::xml_attribute key = key_attribute(node);
    if (!key) {
      result.remaining.push_back(node);
      result.partners.push_back(pugi::xml_node());
      continue;
    }
    auto found = partners_by_key.find(key.value());
    if (found == partners_by_key.end() || found->second.taken == found->second.nodes.size()) {
      // Frees the node and everything below it at once.
      node.parent().remove_child(node);
      continue;
    }
    pugi::xml_node partner = found->second.nodes[found->second.taken++];
    if (std::strcmp(node.name(), doc::kLineControl) == 0) copy_control_id(node, partner);
    result.remaining.push_back(node);
    result.partners.push_back(partner);
  }
  return result;
}

PairedControls pair_documents(pugi::xml_document& input, pugi::xml_document& snapshot) {
  PairedControls result;
  // A snapshot root without a partner in the input leaves the snapshot
  // without destinations, so nothing of the input remains.
  prune_unpaired(roots(snapshot), roots(input));

  PrunedList paired = prune_unpaired(destinations(input), destinations(snapshot));

  std::vector<pugi::xml_node> destination_controls;
  for (std::size_t i = 0; i < paired.remaining.size(); ++i) {
    pugi::xml_node destination = paired.remaining[i];
    pugi::xml_node partner = paired.partners[i];
    if (!partner) {
      result.problems.push_back(keyless(destination));
      continue;
    }
    PrunedList sources = prune_unpaired(child_elements(destination, doc::kSource),
                                        child_elements(partner, doc::kSource));
    for (std::size_t j = 0; j < sources.remaining.size(); ++j) {
      if (!sources.partners[j]) {
        result.problems.push_back(keyless(sources.remaining[j]));
        continue;
      }
      PrunedList controls =
          prune_unpaired(child_elements(sources.remaining[j], doc::kLineControl),
                         child_elements(sources.partners[j], doc::kLineControl));
      result.paired += count_paired(controls);
      result.lists.push_back(std::move(controls.remaining));
    }
    // Destination-level controls pair within their own destination and go
    // last, all destinations in one list.
    PrunedList controls = prune_unpaired(child_elements(destination, doc::kLineControl),
                                         child_elements(partner, doc::kLineControl));
    result.paired += count_paired(controls);
    destination_controls.insert(destination_controls.end(), controls.remaining.begin(),
                                controls.remaining.end());
  }
  result.lists.push_back(std::move(destination_controls));
  return result;
}

RestorePlan plan_restore(pugi::xml_document& input, pugi::xml_document& snapshot,
                         MixerService& mixer) {
  MixerSession session(mixer);
  return make_plan(input, snapshot, session);
}

ApplyReport reconcile_documents(pugi::xml_document& input, pugi::xml_document& snapshot,
                                MixerService& mixer) {
  // One handle serves the reads of the plan and its writes.
  MixerSession session(mixer);
  const RestorePlan plan = make_plan(input, snapshot, session);
  ApplyReport report;
  report.reported = execute_entries(plan.entries, session);
  report.paired = plan.paired;
  return report;
}

}  // namespace quorvel
