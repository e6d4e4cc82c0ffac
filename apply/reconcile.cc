#include "apply/reconcile.h"

#include <cstring>
#include <string>
#include <string_view>
#include <unordered_map>

#include "common/document_format.h"
#include "platform/os/console.h"
#include "platform/xml/dom.h"
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

void report_keyless(pugi::xml_node node, ApplyReport& report) {
  report_error(std::string(node.name()) + " " + quote_name(name_text(node)) + " has no " +
               key_attribute_name(node) + "; passed over with everything in it");
  ++report.reported;
}

void count_paired(const PrunedList& controls, ApplyReport& report) {
  for (pugi::xml_node partner : controls.partners) {
    if (partner) ++report.paired;
  }
}

}  // namespace

PrunedList prune_unpaired(const std::vector<pugi::xml_node>& first,
                          const std::vector<pugi::xml_node>& second) {
  // The second list's nodes by key text, in list order.
  std::unordered_map<std::string_view, std::vector<pugi::xml_node>> partners_by_key;
  for (pugi::xml_node node : second) {
    if (pugi::xml_attribute key = key_attribute(node)) {
      partners_by_key[key.value()].push_back(node);
    }
  }
  // Owned copies: a first-list node's key text is freed with the node.
  std::unordered_map<std::string, std::size_t> occurrences;

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
    const std::size_t occurrence = occurrences[std::string(key.value())]++;
    auto found = partners_by_key.find(key.value());
    if (found == partners_by_key.end() || occurrence >= found->second.size()) {
      // Frees the node and everything below it at once.
      node.parent().remove_child(node);
      continue;
    }
    pugi::xml_node partner = found->second[occurrence];
    if (std::strcmp(node.name(), doc::kLineControl) == 0) copy_control_id(node, partner);
    result.remaining.push_back(node);
    result.partners.push_back(partner);
  }
  return result;
}

std::vector<std::vector<pugi::xml_node>> pair_documents(pugi::xml_document& input,
                                                        pugi::xml_document& snapshot,
                                                        ApplyReport& report) {
  std::vector<std::vector<pugi::xml_node>> lists;
  // A snapshot root without a partner in the input leaves the snapshot
  // without destinations, so nothing of the input remains.
  prune_unpaired(select_nodes(snapshot, Pattern::kRoot), select_nodes(input, Pattern::kRoot));

  PrunedList destinations = prune_unpaired(select_nodes(input, Pattern::kDestinations),
                                           select_nodes(snapshot, Pattern::kDestinations));

  std::vector<pugi::xml_node> destination_controls;
  for (std::size_t i = 0; i < destinations.remaining.size(); ++i) {
    pugi::xml_node destination = destinations.remaining[i];
    pugi::xml_node partner = destinations.partners[i];
    if (!partner) {
      report_keyless(destination, report);
      continue;
    }
    PrunedList sources = prune_unpaired(select_nodes(destination, Pattern::kSources),
                                        select_nodes(partner, Pattern::kSources));
    for (std::size_t j = 0; j < sources.remaining.size(); ++j) {
      if (!sources.partners[j]) {
        report_keyless(sources.remaining[j], report);
        continue;
      }
      PrunedList controls =
          prune_unpaired(select_nodes(sources.remaining[j], Pattern::kLineControls),
                         select_nodes(sources.partners[j], Pattern::kLineControls));
      count_paired(controls, report);
      lists.push_back(std::move(controls.remaining));
    }
    // Destination-level controls pair within their own destination and go
    // last, all destinations in one list.
    PrunedList controls = prune_unpaired(select_nodes(destination, Pattern::kLineControlChildren),
                                         select_nodes(partner, Pattern::kLineControlChildren));
    count_paired(controls, report);
    destination_controls.insert(destination_controls.end(), controls.remaining.begin(),
                                controls.remaining.end());
  }
  lists.push_back(std::move(destination_controls));
  return lists;
}

ApplyReport reconcile_documents(pugi::xml_document& input, pugi::xml_document& snapshot,
                                MixerService& mixer) {
  ApplyReport report;
  for (const auto& controls : pair_documents(input, snapshot, report)) {
    apply_line_controls(controls, mixer, report);
  }
  return report;
}

}  // namespace quorvel
