#include "apply/reconcile.h"

#include <algorithm>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "apply/application_plan.h"
#include "apply/plan_steps.h"
#include "common/number_text.h"
#include "platform/document/document_format.h"
#include "platform/mixer/control_types.h"
#include "platform/os/console.h"

namespace quorvel {
namespace {

// The key attribute of an element, chosen by its name; null for others.
const char* key_attribute_name(DocNode node) {
  if (!node.is_element()) return nullptr;
  const std::string_view name = node.name();
  if (name == doc::kAudioMixer) return doc::kId;
  if (name == doc::kDestination) return doc::kComponentType;
  if (name == doc::kSource) return doc::kLineType;
  if (name == doc::kLineControl) return doc::kCtrlType;
  return nullptr;
}

// Gives a paired input control its partner's identifier (`id`, the text of
// the partner's ctrl_id). Without one on the partner, the input control
// loses its own, so that it can never be written to a control it does not
// stand for.
void set_control_id(DocNode control, std::optional<std::string_view> id) {
  const DocAttribute own = control.attribute(doc::kCtrlId);
  // An input restored onto the mixer that saved it has its ids already.
  if (id && own && own.value() == *id) return;
  control.document()->set_attribute(control, doc::kCtrlId, id);
}

// The text of the node's key attribute; none for a node without one.
std::optional<std::string_view> key_text(DocNode node) {
  const char* name = key_attribute_name(node);
  if (name == nullptr) return std::nullopt;
  const DocAttribute key = node.attribute(name);
  if (!key) return std::nullopt;
  return key.value();
}

std::optional<std::string_view> control_id(DocNode control) {
  const DocAttribute id = control.attribute(doc::kCtrlId);
  if (!id) return std::nullopt;
  return id.value();
}

// The selections of reconciliation, each the element children of one name
// in document order, walked directly instead of through an XPath query:
//   roots          "/audio_mixer" on a document
//   destinations   "/audio_mixer[destination]/destination" on a document
//   sources        "self::node()[source]/source" on a destination
//   line controls  "self::node()[line_control]/line_control" on a line
std::vector<DocNode> roots(DocNode document) { return document.children(doc::kAudioMixer); }

std::vector<DocNode> destinations(DocNode document) {
  std::vector<DocNode> found;
  for (DocNode root : roots(document)) root.append_children(doc::kDestination, found);
  return found;
}

PlanProblem keyless(DocNode node) {
  return {std::string(node.name()) + " " + quote_name(name_text(node)) + " has no " +
          key_attribute_name(node) + "; passed over with everything in it"};
}

int count_paired(const PrunedList& controls) {
  return static_cast<int>(std::count_if(controls.partners.begin(), controls.partners.end(),
                                        [](DocNode partner) { return bool(partner); }));
}

// The device's own name of a line; empty when it has none.
std::string_view server_name(DocNode line) { return line.attribute_value(doc::kServerName); }

// The identity of the product behind a line; empty when it has none.
std::string_view product_id(DocNode line) { return line.attribute_value(doc::kProductId); }

bool any_named(const std::vector<DocNode>& lines) {
  return std::any_of(lines.begin(), lines.end(),
                     [](DocNode line) { return !server_name(line).empty(); });
}

// Whether the line's default switch is on: its first value is 1.
bool is_default_line(DocNode line) {
  for (DocNode control = line.first_child(); control; control = control.next_sibling()) {
    if (!control.is(doc::kLineControl)) continue;
    if (parse_uint32(control.attribute_value(doc::kCtrlType)) != ctrl::kDefaultSwitch) continue;
    return parse_int_strict(first_text(first_named(control, doc::kValue))) == 1;
  }
  return false;
}

// A sink's monitor: a destination of the monitor kind.
bool is_monitor_line(DocNode line) {
  return line.is(doc::kDestination) &&
         parse_uint32(line.attribute_value(doc::kComponentType)) == kComponentDstMonitor;
}

// Removes the line's default switch, so that a restore never writes it.
void drop_default_switch(DocNode line) {
  for (DocNode control : line.children(doc::kLineControl)) {
    if (parse_uint32(control.attribute_value(doc::kCtrlType)) == ctrl::kDefaultSwitch) {
      line.document()->remove(control);
    }
  }
}

// The lines of one list that have their key attribute, by key text, each
// kind in the order in which its lines pair by occurrence: the default
// first, then the named lines by name, then the others in list order.
// `skip[i]` passes over line i (already paired by name).
std::map<std::string_view, std::vector<std::size_t>> lines_by_kind(
    const std::vector<DocNode>& lines, const std::vector<bool>& skip) {
  std::map<std::string_view, std::vector<std::size_t>> kinds;
  // 0: the default; 1: a named line; 2: neither.
  std::vector<int> rank(lines.size(), 2);
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (skip[i]) continue;
    const std::optional<std::string_view> key = key_text(lines[i]);
    if (!key) continue;
    kinds[*key].push_back(i);
    rank[i] = is_default_line(lines[i]) ? 0 : server_name(lines[i]).empty() ? 2 : 1;
  }
  for (auto& [key, indexes] : kinds) {
    std::stable_sort(indexes.begin(), indexes.end(), [&](std::size_t a, std::size_t b) {
      if (rank[a] != rank[b]) return rank[a] < rank[b];
      return rank[a] == 1 && server_name(lines[a]) < server_name(lines[b]);
    });
  }
  return kinds;
}

}  // namespace

PrunedList prune_unpaired(const std::vector<DocNode>& first, const std::vector<DocNode>& second) {
  // The second list's nodes by key text, in list order, and how many of
  // them first-list nodes have taken. The keys are the second list's own
  // texts, which stay valid: that list is never changed.
  struct Partners {
    std::vector<DocNode> nodes;
    std::size_t taken = 0;
  };
  std::unordered_map<std::string_view, Partners> partners_by_key;
  partners_by_key.reserve(second.size());
  for (DocNode node : second) {
    if (const std::optional<std::string_view> key = key_text(node)) {
      partners_by_key[*key].nodes.push_back(node);
    }
  }

  PrunedList result;
  result.remaining.reserve(first.size());
  result.partners.reserve(first.size());
  for (DocNode node : first) {
    const std::optional<std::string_view> key = key_text(node);
    if (!key) {
      result.remaining.push_back(node);
      result.partners.emplace_back();
      continue;
    }
    auto found = partners_by_key.find(*key);
    if (found == partners_by_key.end() || found->second.taken == found->second.nodes.size()) {
      node.document()->remove(node);
      continue;
    }
    const DocNode partner = found->second.nodes[found->second.taken++];
    if (node.is(doc::kLineControl)) set_control_id(node, control_id(partner));
    result.remaining.push_back(node);
    result.partners.push_back(partner);
  }
  return result;
}

namespace {

// Pairs the lines of `first` not paired yet with the lines of `second` not
// taken yet that have the same key text and the same `identity` (a line's
// server_name, or its product_id), by occurrence in list order; lines
// without one take no part. Whether any pair was made.
bool pair_by_identity(const std::vector<DocNode>& first, const std::vector<DocNode>& second,
                      std::string_view (*identity)(DocNode), std::vector<DocNode>& partners,
                      std::vector<bool>& first_paired, std::vector<bool>& second_taken) {
  // The second list's lines by key text and identity, in list order; the
  // texts stay valid, since that list is never changed.
  std::map<std::pair<std::string_view, std::string_view>, std::vector<std::size_t>> by_identity;
  for (std::size_t j = 0; j < second.size(); ++j) {
    const std::optional<std::string_view> key = key_text(second[j]);
    if (key && !second_taken[j] && !identity(second[j]).empty()) {
      by_identity[{*key, identity(second[j])}].push_back(j);
    }
  }
  bool any = false;
  for (std::size_t i = 0; i < first.size(); ++i) {
    const std::optional<std::string_view> key = key_text(first[i]);
    if (!key || first_paired[i] || identity(first[i]).empty()) continue;
    auto found = by_identity.find({*key, identity(first[i])});
    if (found == by_identity.end()) continue;
    for (std::size_t j : found->second) {
      if (second_taken[j]) continue;
      second_taken[j] = true;
      first_paired[i] = true;
      partners[i] = second[j];
      any = true;
      break;
    }
  }
  return any;
}

// pair_lines, with a note in `notes` for each named line left out.
PrunedList pair_lines_with(const std::vector<DocNode>& first, const std::vector<DocNode>& second,
                           std::vector<PlanProblem>* notes = nullptr) {
  if (!any_named(first) && !any_named(second)) return prune_unpaired(first, second);

  std::vector<DocNode> partners(first.size());
  std::vector<bool> first_paired(first.size(), false);
  std::vector<bool> second_taken(second.size(), false);

  // By name, then by product, each by occurrence: two lines of one name
  // (a server allows it) pair in their order and never cross.
  const bool by_name =
      pair_by_identity(first, second, server_name, partners, first_paired, second_taken);
  const bool by_product =
      pair_by_identity(first, second, product_id, partners, first_paired, second_taken);

  // By kind and occurrence, among the lines left. When the document shares
  // a line with this mixer by name or product, it is this machine's (or
  // one like it), and a named line of it that is not here stands for a
  // device that is gone: it pairs with nothing, so that its values and its
  // default never go to another device. Only the document of another
  // machine altogether pairs its named lines by kind.
  std::vector<bool> first_left_out = first_paired;
  if (by_name || by_product) {
    for (std::size_t i = 0; i < first.size(); ++i) {
      if (!server_name(first[i]).empty()) first_left_out[i] = true;
    }
  }
  const auto first_kinds = lines_by_kind(first, first_left_out);
  const auto second_kinds = lines_by_kind(second, second_taken);
  for (const auto& [key, indexes] : first_kinds) {
    auto found = second_kinds.find(key);
    if (found == second_kinds.end()) continue;
    for (std::size_t n = 0; n < indexes.size() && n < found->second.size(); ++n) {
      first_paired[indexes[n]] = true;
      partners[indexes[n]] = second[found->second[n]];
      // A monitor is the default source where a machine has no microphone;
      // on another machine it must not take the default from one, so a
      // monitor paired by kind alone keeps its values but not its default.
      if (is_monitor_line(first[indexes[n]])) drop_default_switch(first[indexes[n]]);
    }
  }

  PrunedList result;
  for (std::size_t i = 0; i < first.size(); ++i) {
    if (!first_paired[i] && key_text(first[i])) {
      if (notes != nullptr && !server_name(first[i]).empty()) {
        notes->push_back(
            {std::string(first[i].name()) + " " + quote_name(name_text(first[i])) + " (" +
                 quote_name(server_name(first[i])) +
                 ") is not on this mixer; none of its values goes to another line",
             false});
      }
      first[i].document()->remove(first[i]);
      continue;
    }
    result.remaining.push_back(first[i]);
    result.partners.push_back(partners[i]);
  }
  return result;
}

// The destinations of the snapshot's mixers that pair with a mixer of the
// input (by id, as prune_unpaired pairs them, the snapshot's first), in
// document order. A snapshot mixer without a partner in the input gives
// none, so nothing of the input pairs with its lines.
std::vector<DocNode> paired_destinations(DocNode input, DocNode snapshot,
                                         bool& any_mixer_paired) {
  any_mixer_paired = false;
  std::unordered_map<std::string_view, std::size_t> input_mixers;
  for (DocNode root : roots(input)) {
    if (const std::optional<std::string_view> key = key_text(root)) ++input_mixers[*key];
  }
  std::vector<DocNode> found;
  for (DocNode root : roots(snapshot)) {
    if (const std::optional<std::string_view> key = key_text(root)) {
      auto partner = input_mixers.find(*key);
      if (partner == input_mixers.end() || partner->second == 0) continue;
      --partner->second;
    }
    any_mixer_paired = true;
    root.append_children(doc::kDestination, found);
  }
  return found;
}

// The snapshot's document node. The snapshot is only read: pairing keeps
// its handles as partners, but changes nothing of it.
DocNode snapshot_root(const Document& snapshot) {
  return const_cast<Document&>(snapshot).root();
}

// The controls of the lists pairing left, to plan.
std::uint64_t count_controls(const PairedControls& paired) {
  std::uint64_t count = 0;
  for (const auto& controls : paired.lists) count += controls.size();
  return count;
}

// Pairs the documents and plans the writes through `session`.
RestorePlan make_plan(Document& input, const Document& snapshot, MixerSession& session) {
  PairedControls paired = pair_documents(input, snapshot);
  RestorePlan plan;
  plan.paired = paired.paired;
  plan.matched = paired.matched;
  plan.entries.assign(paired.problems.begin(), paired.problems.end());
  Progress progress(session.reporter(), "planning the preview", count_controls(paired));
  for (const auto& controls : paired.lists) plan_line_controls(controls, session, plan, &progress);
  progress.finish();
  if (session.gone()) {
    plan.entries.push_back(PlanProblem{session.gone_message(true)});
  } else {
    plan_applications(input, session.mixer(), session.layout(), plan);
  }
  return plan;
}

}  // namespace

PrunedList pair_lines(const std::vector<DocNode>& first, const std::vector<DocNode>& second) {
  return pair_lines_with(first, second);
}

PairedControls pair_documents(Document& input, const Document& snapshot) {
  PairedControls result;
  bool any_mixer_paired = false;
  const std::vector<DocNode> input_lines = destinations(input.root());
  std::vector<PlanProblem> notes;
  const std::vector<DocNode> mixer_lines =
      paired_destinations(input.root(), snapshot_root(snapshot), any_mixer_paired);
  const PrunedList paired = pair_lines_with(input_lines, mixer_lines, &notes);
  bool any_line_paired = false;

  std::vector<DocNode> destination_controls;
  for (std::size_t i = 0; i < paired.remaining.size(); ++i) {
    const DocNode destination = paired.remaining[i];
    const DocNode partner = paired.partners[i];
    if (!partner) {
      result.problems.push_back(keyless(destination));
      continue;
    }
    any_line_paired = true;
    const PrunedList sources = pair_lines_with(destination.children(doc::kSource),
                                               partner.children(doc::kSource), &notes);
    for (std::size_t j = 0; j < sources.remaining.size(); ++j) {
      if (!sources.partners[j]) {
        result.problems.push_back(keyless(sources.remaining[j]));
        continue;
      }
      PrunedList controls =
          prune_unpaired(sources.remaining[j].children(doc::kLineControl),
                         sources.partners[j].children(doc::kLineControl));
      result.paired += count_paired(controls);
      result.lists.push_back(std::move(controls.remaining));
    }
    // Destination-level controls pair within their own destination and go
    // last, all destinations in one list.
    const PrunedList controls = prune_unpaired(destination.children(doc::kLineControl),
                                               partner.children(doc::kLineControl));
    result.paired += count_paired(controls);
    destination_controls.insert(destination_controls.end(), controls.remaining.begin(),
                                controls.remaining.end());
  }
  result.lists.push_back(std::move(destination_controls));
  result.problems.insert(result.problems.end(), notes.begin(), notes.end());
  // A document of a mixer without lines matches such a mixer only.
  result.matched = any_mixer_paired && (any_line_paired || result.paired > 0 ||
                                        (input_lines.empty() && mixer_lines.empty()));
  return result;
}

RestorePlan plan_restore(Document& input, const Document& snapshot, Mixer& mixer,
                         Reporter& reporter) {
  MixerSession session(mixer, reporter);
  return make_plan(input, snapshot, session);
}

ApplyReport reconcile_documents(Document& input, const Document& snapshot, Mixer& mixer,
                                Reporter& reporter) {
  // One description serves the plan and its writes. Entries are executed
  // as they are planned, in the plan's order, a batch at a time: nothing here
  // needs the plan whole, which at a million controls would be hundreds of
  // megabytes.
  MixerSession session(mixer, reporter);
  PairedControls paired = pair_documents(input, snapshot);
  ExecutingSink executing(session);
  for (PlanProblem& problem : paired.problems) executing.add(std::move(problem));
  Progress progress(reporter, "restoring", count_controls(paired));
  for (std::vector<DocNode>& controls : paired.lists) {
    plan_line_controls(controls, session, executing, &progress);
    std::vector<DocNode>().swap(controls);
  }
  executing.finish();
  progress.finish();
  int applications_reported = 0;
  if (!session.gone()) {
    RestorePlan applications;
    plan_applications(input, session.mixer(), session.layout(), applications);
    // Its entries are the problems of planning them, reported as a plan's.
    applications_reported = execute_entries(applications.entries, session);
    applications_reported += execute_applications(applications, session.mixer(), reporter);
  }
  ApplyReport report;
  report.reported = executing.reported() + applications_reported + report_gone(session);
  report.paired = paired.paired;
  report.matched = paired.matched;
  report.gone = session.gone();
  return report;
}

}  // namespace quorvel
