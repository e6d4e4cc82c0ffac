#include "apply/apply.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <string>
#include <variant>

#include "apply/plan_steps.h"
#include "common/number_text.h"
#include "platform/document/control_kind.h"
#include "platform/document/document_format.h"
#include "platform/mixer/control_values.h"
#include "platform/os/console.h"
#include "platform/os/text_encoding.h"
#include "platform/xml/xml_dom.h"

namespace quorvel {
namespace {

bool is_text(pugi::xml_node node) {
  return node.type() == pugi::node_pcdata || node.type() == pugi::node_cdata;
}

// The whole text a node holds: a text node's own, or the texts of
// everything below an element, in document order.
std::string text_content(pugi::xml_node node) {
  if (is_text(node)) return node.value();
  std::string text;
  for (pugi::xml_node descendant = node.first_child(); descendant;) {
    if (is_text(descendant)) text += descendant.value();
    if (descendant.first_child()) {
      descendant = descendant.first_child();
      continue;
    }
    while (descendant != node && !descendant.next_sibling()) descendant = descendant.parent();
    if (descendant == node) break;
    descendant = descendant.next_sibling();
  }
  return text;
}

// The start of a report line about one control: its name, type and id as
// the document holds them.
std::string control_prefix(const std::string& name, const std::string& type,
                           const std::string& id) {
  return "control " + quote_name(name) + " (type " + type + ", id " + id + "): ";
}

// What a failed write says: the values sent, or that none were.
std::string refused(WriteShape shape, const std::vector<std::int32_t>& sent,
                    MixerResult result) {
  const std::string code = "(mixer error " + std::to_string(result) + ")";
  if (sent.empty()) return "the mixer refused to let the control be written " + code;
  std::string text = shape == WriteShape::kItems ? "the mixer refused the selection"
                                                 : "the mixer refused the value";
  for (std::int32_t value : sent) {
    text += ' ';
    text += std::to_string(value);
  }
  return text + " " + code;
}

// The control and the line that own it, as the mixer describes them.
struct FoundControl {
  MixerControl control;
  MixerLine line;
};

// What a write starts from: the control's values, read as the write reads
// them, and the shape in which it sends them back.
struct WriteBase {
  MixerResult result = MMSYSERR_NOERROR;
  std::uint32_t channels = 1;
  std::uint32_t items = 0;
  std::vector<std::int32_t> values;
  bool nothing_to_write = false;  // a list write whose positions all lie beyond the items
};

// Reads what `write` starts from: a whole control, its one value; channels,
// every channel of its line (a uniform control as a whole); items, the
// control's own item count, when a position of the document falls within
// it. `found` is the control when the caller has looked it up already.
WriteBase read_for_write(const MixerHandle& handle, const PlannedWrite& write,
                         const FoundControl* found) {
  WriteBase base;
  FoundControl looked_up;
  if (write.shape != WriteShape::kWhole && found == nullptr) {
    base.result = find_control(handle, write.control_id, looked_up.control, looked_up.line);
    if (base.result != MMSYSERR_NOERROR) return base;
    found = &looked_up;
  }
  if (write.shape == WriteShape::kChannels) {
    if (found->line.cChannels == 0) {
      base.result = MMSYSERR_INVALPARAM;
      return base;
    }
    if (!is_uniform(found->control)) base.channels = found->line.cChannels;
  } else if (write.shape == WriteShape::kItems) {
    base.items = found->control.cMultipleItems;
    bool any_in_range = false;
    for (const SlotValue& put : write.document) any_in_range = any_in_range || put.slot < base.items;
    if (!any_in_range) {
      base.nothing_to_write = true;
      return base;
    }
  }
  base.result = read_control_values(handle, write.control_id, base.channels, base.items,
                                    base.values);
  return base;
}

// Collects the problems of one control node into the plan.
class ProblemCollector {
 public:
  ProblemCollector(pugi::xml_node node, EntrySink& sink) : node_(node), sink_(sink) {}

  void operator()(const std::string& what) const {
    sink_.add(PlanProblem{prefix() + what});
  }
  // Something left out that is no fault of the document or the mixer.
  void note(const std::string& what) const {
    sink_.add(PlanProblem{prefix() + what, false});
  }

 private:
  // Made only for a problem: most controls have none.
  std::string prefix() const {
    return control_prefix(name_text(node_), node_.attribute(doc::kCtrlType).value(),
                          node_.attribute(doc::kCtrlId).value());
  }

  pugi::xml_node node_;
  EntrySink& sink_;
};

// Comments and processing instructions hold no value.
bool holds_no_value(pugi::xml_node node) {
  return node.type() == pugi::node_comment || node.type() == pugi::node_pi;
}

// The nodes that hold a control's values: those after the name text, by
// position. A control whose name is empty has no name text, so its values
// start at the first child.
std::vector<pugi::xml_node> value_nodes(pugi::xml_node node) {
  std::vector<pugi::xml_node> nodes;
  pugi::xml_node child = node.first_child();
  if (is_text(child)) child = child.next_sibling();
  for (; child; child = child.next_sibling()) {
    if (!holds_no_value(child)) nodes.push_back(child);
  }
  return nodes;
}

// The numbers of the value nodes; nothing (the problem noted) when there
// is none or one is not a number.
std::optional<std::vector<std::int32_t>> read_values(const std::vector<pugi::xml_node>& nodes,
                                                     const ProblemCollector& note) {
  if (nodes.empty()) {
    note(std::string("no ") + doc::kValue + " to write");
    return std::nullopt;
  }
  std::vector<std::int32_t> values;
  for (std::size_t k = 0; k < nodes.size(); ++k) {
    const std::string text = text_content(nodes[k]);
    std::optional<std::int32_t> value = parse_int_strict(text);
    if (!value) {
      const std::string which = k == 0   ? "the first value"
                                : k == 1 ? "the second value"
                                         : "value " + std::to_string(k + 1);
      note(which + " " + quote_name(text) + " is not a number");
      return std::nullopt;
    }
    values.push_back(*value);
  }
  return values;
}

// The speaker position of each value node, when every one is an element
// that names one; else none (the values then pair by number).
std::vector<std::string> value_positions(const std::vector<pugi::xml_node>& nodes) {
  std::vector<std::string> positions;
  for (pugi::xml_node node : nodes) {
    const char* position = node.attribute(doc::kPosition).value();
    if (node.type() != pugi::node_element || *position == '\0') return {};
    positions.emplace_back(position);
  }
  return positions;
}

// The selections of a list control's items, by position; false (the
// problem noted) when the node has no list of its kind. An item without a
// number is noted and passed over.
bool read_list_items(pugi::xml_node node, std::uint32_t type, const ProblemCollector& note,
                     std::vector<SlotValue>& items, std::vector<std::string>& names) {
  const char* list_name = value_form(type, 1, true).list;
  if (!node.child(list_name)) {
    note(std::string("no ") + list_name + " to write");
    return false;
  }
  // The items of every list element of the control's kind, in document
  // order: what "./mux_list[item]/item" (or mixer_list) selects.
  std::vector<pugi::xml_node> item_nodes;
  for (pugi::xml_node list : child_elements(node, list_name)) {
    append_child_elements(list, doc::kItem, item_nodes);
  }
  names.reserve(item_nodes.size());
  for (pugi::xml_node item : item_nodes) names.push_back(name_text(item));
  for (std::size_t position = 0; position < item_nodes.size(); ++position) {
    pugi::xml_attribute selected = item_nodes[position].attribute(doc::kSelected);
    std::optional<std::int32_t> value =
        selected ? parse_int_strict(selected.value()) : std::nullopt;
    if (!value) {
      note("item " + std::to_string(position) +
          (selected ? ": \"selected\" " + quote_name(selected.value()) + " is not a number"
                    : " has no number in \"selected\"") +
          "; item passed over");
      continue;
    }
    items.push_back({static_cast<std::uint32_t>(position), *value});
  }
  return true;
}

// The document's values of a switch or a value control, placed as the
// write places them: a control written as a whole takes the first; one
// value for channels 1 and 2 where the type has it so (`lone_to_pair`),
// else for the whole control; several, one per channel.
void place_values(const std::vector<std::int32_t>& values, WriteKind kind, PlannedWrite& write) {
  if (kind == WriteKind::kUniform || (values.size() == 1 && kind != WriteKind::kChannels)) {
    write.shape = WriteShape::kWhole;
    write.document = {{0, values.front()}};
    return;
  }
  write.shape = WriteShape::kChannels;
  if (values.size() == 1) {
    write.document = {{0, values.front()}, {1, values.front()}};
    return;
  }
  for (std::size_t k = 0; k < values.size(); ++k) {
    write.document.push_back({static_cast<std::uint32_t>(k), values[k]});
  }
}

// The speaker position of each channel of `line`, as the mixer knows them;
// none when it does not know one for every channel.
std::vector<std::string> channel_positions(const MixerHandle& handle, const MixerLine& line) {
  LineIdentity identity;
  if (handle.service()->get_line_identity(handle, line.dwLineID, identity) != MMSYSERR_NOERROR ||
      identity.positions.size() != line.cChannels) {
    return {};
  }
  return std::move(identity.positions);
}

// What the document holds for a control beyond `write.document`: its
// values as read, each with its speaker position, for placing them by
// position on a control whose channels have positions.
struct DocumentValues {
  std::vector<std::int32_t> values;
  std::vector<std::string> positions;  // one per value, or none
};

// Reads the control's bounds and its values now into `write`; the mixer's
// result. Values kept per channel go to the channels of their speaker
// positions when both the document and the control's line know them.
MixerResult read_now(const MixerHandle& handle, PlannedWrite& write,
                     const DocumentValues& values, bool& nothing_to_write) {
  FoundControl found;
  MixerResult result = find_control(handle, write.control_id, found.control, found.line);
  if (result != MMSYSERR_NOERROR) return result;
  write.bounds = {found.control.Bounds.lMinimum, found.control.Bounds.lMaximum,
                  found.control.Metrics.cSteps,
                  (found.control.fdwControl & ctrl::kFlagBeyondBounds) != 0};
  if (!values.positions.empty() && write.shape == WriteShape::kChannels &&
      !is_uniform(found.control)) {
    const std::vector<std::string> channels = channel_positions(handle, found.line);
    if (auto placed = place_by_position(values.values, values.positions, channels)) {
      write.document = std::move(*placed);
    }
  }
  WriteBase base = read_for_write(handle, write, &found);
  nothing_to_write = base.nothing_to_write;
  write.now = std::move(base.values);
  write.wanted = put_values(write.now, write.document);
  return base.result;
}

// The name of the item the document selects in a port list (the first
// item whose `selected` is 1); none when it selects none.
std::optional<std::string> selected_port(const std::vector<SlotValue>& items,
                                         const std::vector<std::string>& names) {
  for (const SlotValue& item : items) {
    if (item.value == 1 && item.slot < names.size()) return names[item.slot];
  }
  return std::nullopt;
}

// Turns the document's port selection into a selection of the control's
// own items, paired by name: the item of the selected port's name selected,
// every other not. False (noted) when the document selects no port or the
// device has none of that name.
bool select_port_by_name(const MixerHandle& handle, PlannedWrite& write,
                         const ProblemCollector& note, MixerSession& session) {
  if (session.gone()) return false;
  const std::optional<std::string> port = selected_port(write.document, write.item_names);
  if (!port) {
    note("no port selected; control passed over");
    return false;
  }
  MixerControl control;
  MixerLine line;
  std::vector<ListText> texts;
  MixerResult result = find_control(handle, write.control_id, control, line);
  if (result == MMSYSERR_NOERROR) {
    result = read_list_texts(handle, write.control_id, control.cMultipleItems, texts);
  }
  // A mixer gone is said once, by the session's owner.
  session.note_result(result);
  if (session.gone()) return false;
  if (result != MMSYSERR_NOERROR) {
    note(refused(write.shape, {}, result));
    return false;
  }
  write.item_names.clear();
  for (const ListText& text : texts) {
    write.item_names.push_back(system_to_utf8(name_of(text.szName)));
  }
  const auto match = std::find(write.item_names.begin(), write.item_names.end(), *port);
  if (match == write.item_names.end()) {
    note.note("port " + quote_name(*port) + " is not on this device; left out");
    return false;
  }
  const auto selected = static_cast<std::uint32_t>(match - write.item_names.begin());
  write.document.clear();
  for (std::uint32_t k = 0; k < write.item_names.size(); ++k) {
    write.document.push_back({k, k == selected ? 1 : 0});
  }
  return true;
}

}  // namespace

const MixerHandle* MixerSession::handle() {
  if (!tried_) {
    tried_ = true;
    const MixerResult opened = mixer_.open(0, handle_);
    if (opened != MMSYSERR_NOERROR) {
      open_failure_ = "the mixer refused to open (mixer error " + std::to_string(opened) + ")";
    } else if (MixerCaps caps; mixer_.get_dev_caps(handle_, caps) == MMSYSERR_NOERROR) {
      device_name_ = system_to_utf8(name_of(caps.szPname));
    }
  }
  return open_failure_.empty() ? &handle_ : nullptr;
}

void MixerSession::note_result(MixerResult result, bool in_flight) {
  if (result != kMixerGone || gone_) return;
  gone_ = true;
  in_flight_ = in_flight;
}

std::string MixerSession::gone_message(bool previewed) const {
  if (previewed) {
    return "the mixer " + quote_name(device_name_) +
           " went away while it was read; the preview is not complete";
  }
  std::string message = "the mixer " + quote_name(device_name_) + " went away after " +
                        std::to_string(writes_made_) + " of " + std::to_string(writes_meant_) +
                        " writes; nothing more was written";
  if (in_flight_) message += " (the write sent as it went may or may not have been made)";
  return message;
}

void plan_line_controls(const std::vector<pugi::xml_node>& controls, MixerSession& session,
                        RestorePlan& plan) {
  // Keeps every entry, in order.
  class Keeping final : public EntrySink {
   public:
    explicit Keeping(RestorePlan& plan) : plan_(plan) {}
    void add(PlanEntry&& entry) override { plan_.entries.push_back(std::move(entry)); }

   private:
    RestorePlan& plan_;
  } keeping(plan);
  plan_line_controls(controls, session, keeping);
}

void plan_line_controls(const std::vector<pugi::xml_node>& controls, MixerSession& session,
                        EntrySink& sink) {
  for (pugi::xml_node node : controls) {
    ProblemCollector note(node, sink);
    pugi::xml_attribute type_attribute = node.attribute(doc::kCtrlType);
    if (!type_attribute) {
      note("no ctrl_type; control passed over");
      continue;
    }
    const auto type = static_cast<std::uint32_t>(parse_int(type_attribute.value()));
    const WriteKind kind = write_kind(type);
    // Custom controls, meters, multiple-select lists and types the program
    // does not know are passed over without a word.
    if (kind == WriteKind::kNothing || kind == WriteKind::kUnknown) continue;
    pugi::xml_attribute id_attribute = node.attribute(doc::kCtrlId);
    std::optional<std::int32_t> id =
        id_attribute ? parse_int_strict(id_attribute.value()) : std::nullopt;
    if (!id) {
      note("no control identifier; control passed over");
      continue;
    }
    const MixerHandle* handle = session.handle();
    if (handle == nullptr) {
      note(session.open_failure());
      continue;
    }

    PlannedWrite write;
    write.line_name = name_text(node.parent());
    if (std::strcmp(node.parent().name(), doc::kSource) == 0) {
      write.destination_name = name_text(node.parent().parent());
    }
    write.control_name = name_text(node);
    write.type_text = type_attribute.value();
    write.id_text = id_attribute.value();
    write.control_id = static_cast<std::uint32_t>(*id);
    write.control_type = type;
    DocumentValues values;
    if (kind == WriteKind::kList) {
      write.shape = WriteShape::kItems;
      if (!read_list_items(node, type, note, write.document, write.item_names) || write.document.empty()) continue;
      // Ports pair by name: the same port need not stand at the same place
      // on another device, or after the device changed.
      if (type == ctrl::kPortSelect && !select_port_by_name(*handle, write, note, session)) {
        if (session.gone()) session.count_meant();
        continue;
      }
    } else {
      std::vector<pugi::xml_node> nodes = value_nodes(node);
      // A control written as a whole uses its first value alone.
      if (kind == WriteKind::kUniform && nodes.size() > 1) nodes.resize(1);
      std::optional<std::vector<std::int32_t>> read = read_values(nodes, note);
      if (!read) continue;
      // A default switch is only ever turned on: turning one line's off
      // would have to choose another line to be the default.
      if (type == ctrl::kDefaultSwitch && read->front() == 0) continue;
      place_values(*read, kind, write);
      values.positions = value_positions(nodes);
      values.values = std::move(*read);
    }
    // A mixer gone is read no more: the control only counts as a write the
    // restore did not make.
    if (session.gone()) {
      session.count_meant();
      continue;
    }
    bool nothing_to_write = false;
    const MixerResult read = read_now(*handle, write, values, nothing_to_write);
    session.note_result(read);
    if (session.gone()) {
      session.count_meant();
      continue;
    }
    if (read != MMSYSERR_NOERROR) {
      note(refused(write.shape, {}, read));
      continue;
    }
    if (nothing_to_write) continue;
    session.count_meant();
    sink.add(std::move(write));
  }
}

bool execute_entry(const PlanEntry& entry, MixerSession& session) {
  if (const auto* problem = std::get_if<PlanProblem>(&entry)) {
    report_problem(*problem);
    return problem->failure;
  }
  const PlannedWrite& write = std::get<PlannedWrite>(entry);
  // Once the mixer went away, the writes left are only counted (the
  // restore says so once, at its end).
  if (session.gone()) return false;
  const MixerHandle* handle = session.handle();
  if (handle == nullptr) {
    report_error(control_prefix(write.control_name, write.type_text, write.id_text) +
                 session.open_failure());
    return true;
  }
  // Read again just before writing: an earlier write of the plan may have
  // changed the control.
  WriteBase base = read_for_write(*handle, write, nullptr);
  session.note_result(base.result);
  if (base.nothing_to_write || session.gone()) return false;
  if (base.result != MMSYSERR_NOERROR) {
    report_error(control_prefix(write.control_name, write.type_text, write.id_text) +
                 refused(write.shape, {}, base.result));
    return true;
  }
  std::vector<std::int32_t> sent = put_values(base.values, write.document);
  // The line that is the default already stays so, without a write.
  if (write.control_type == ctrl::kDefaultSwitch && sent == base.values) {
    session.count_made();
    return false;
  }
  const MixerResult written =
      write_control_values(*handle, write.control_id, base.channels, base.items, sent);
  session.note_result(written, true);
  if (session.gone()) return false;
  if (written == MMSYSERR_NOERROR) {
    session.count_made();
    return false;
  }
  report_error(control_prefix(write.control_name, write.type_text, write.id_text) +
               refused(write.shape, sent, written));
  return true;
}

int execute_entries(const std::vector<PlanEntry>& entries, MixerSession& session) {
  int reported = 0;
  for (const PlanEntry& entry : entries) {
    if (execute_entry(entry, session)) ++reported;
  }
  return reported;
}

ApplyReport execute_plan(const RestorePlan& plan, MixerService& mixer) {
  MixerSession session(mixer);
  for (const PlanEntry& entry : plan.entries) {
    if (std::holds_alternative<PlannedWrite>(entry)) session.count_meant();
  }
  ApplyReport report;
  report.reported = execute_entries(plan.entries, session) + report_gone(session);
  report.paired = plan.paired;
  report.matched = plan.matched;
  report.gone = session.gone();
  return report;
}

ApplyReport apply_line_controls(const std::vector<pugi::xml_node>& controls,
                                MixerService& mixer) {
  MixerSession session(mixer);
  RestorePlan plan;
  plan_line_controls(controls, session, plan);
  ApplyReport report;
  report.reported = execute_entries(plan.entries, session) + report_gone(session);
  report.gone = session.gone();
  return report;
}

int report_gone(const MixerSession& session) {
  if (!session.gone()) return 0;
  report_error(session.gone_message());
  return 1;
}

}  // namespace quorvel
