#include "apply/apply.h"

#include <algorithm>
#include <optional>
#include <span>
#include <string>
#include <unordered_set>
#include <variant>

#include "apply/application_plan.h"
#include "apply/plan_steps.h"
#include "common/number_text.h"
#include "platform/document/control_kind.h"
#include "platform/document/document_format.h"
#include "platform/os/console.h"

namespace quorvel {

std::string_view name_text(DocNode node) {
  const DocNode first = node.first_child();
  return first && first.kind() == NodeKind::kText ? first.value() : std::string_view();
}

std::string_view first_text(DocNode node) {
  for (DocNode child = node.first_child(); child; child = child.next_sibling()) {
    if (child.is_text()) return child.value();
  }
  return {};
}

DocNode first_named(DocNode node, std::string_view name) {
  for (DocNode child = node.first_child(); child; child = child.next_sibling()) {
    const NodeKind kind = child.kind();
    if ((kind == NodeKind::kElement || kind == NodeKind::kInstruction) && child.name() == name) {
      return child;
    }
  }
  return {};
}

namespace {

// The whole text a node holds: a text node's own, or the texts of
// everything below an element, in document order.
std::string text_content(DocNode node) {
  if (node.is_text()) return std::string(node.value());
  std::string text;
  for (DocNode descendant = node.first_child(); descendant;) {
    if (descendant.is_text()) text += descendant.value();
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
  const ModelControl* control = nullptr;
  const ModelLine* line = nullptr;
};

// The control `control_id` of the described mixer; kMixerNoControl when it
// has none.
MixerResult find_control(const ModelLayout& layout, std::uint32_t control_id,
                         FoundControl& found) {
  found.control = layout.control_by_id(control_id);
  if (found.control == nullptr) return kMixerNoControl;
  found.line = &layout.lines[found.control->line];
  return kMixerOk;
}

// What a write starts from: the shape in which it reads the control and
// sends its values back, and the control's values read so.
struct WriteBase {
  MixerResult result = kMixerOk;
  std::uint32_t channels = 1;
  std::vector<std::int32_t> values;
  bool nothing_to_write = false;  // a list write whose positions all lie beyond the items
};

// The shape of what `write` starts from: a whole control, its one value;
// channels, every channel of its line (a uniform control as a whole);
// items, the control's own items, when a position of the document falls
// within them. The values are left for the caller to read.
WriteBase shape_for_write(const ModelLayout& layout, const PlannedWrite& write) {
  WriteBase base;
  if (write.shape == WriteShape::kWhole) return base;
  FoundControl found;
  base.result = find_control(layout, write.control_id, found);
  if (base.result != kMixerOk) return base;
  if (write.shape == WriteShape::kChannels) {
    if (found.line->channels == 0) {
      base.result = kMixerBadShape;
      return base;
    }
    if (!found.control->uniform) base.channels = found.line->channels;
  } else if (write.shape == WriteShape::kItems) {
    const std::size_t items = found.control->list ? found.control->items.size() : 0;
    bool any_in_range = false;
    for (const SlotValue& put : write.document) any_in_range = any_in_range || put.slot < items;
    if (!any_in_range) base.nothing_to_write = true;
  }
  return base;
}

// Reads what `write` starts from (shape_for_write), values included.
WriteBase read_for_write(Mixer& mixer, const ModelLayout& layout, const PlannedWrite& write) {
  WriteBase base = shape_for_write(layout, write);
  if (base.result != kMixerOk || base.nothing_to_write) return base;
  base.result = read_control(mixer, write.control_id, base.channels, base.values);
  return base;
}

// Collects the problems of one control node into the plan.
class ProblemCollector {
 public:
  ProblemCollector(DocNode node, EntrySink& sink) : node_(node), sink_(sink) {}

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
    return control_prefix(std::string(name_text(node_)),
                          std::string(node_.attribute_value(doc::kCtrlType)),
                          std::string(node_.attribute_value(doc::kCtrlId)));
  }

  DocNode node_;
  EntrySink& sink_;
};

// Comments and processing instructions hold no value.
bool holds_no_value(DocNode node) {
  return node.kind() == NodeKind::kComment || node.kind() == NodeKind::kInstruction;
}

// The nodes that hold a control's values: those after the name text, by
// position. A control whose name is empty has no name text, so its values
// start at the first child.
std::vector<DocNode> value_nodes(DocNode node) {
  std::vector<DocNode> nodes;
  DocNode child = node.first_child();
  if (child.is_text()) child = child.next_sibling();
  for (; child; child = child.next_sibling()) {
    if (!holds_no_value(child)) nodes.push_back(child);
  }
  return nodes;
}

// The numbers of the value nodes; nothing (the problem noted) when there
// is none or one is not a number.
std::optional<std::vector<std::int32_t>> read_values(const std::vector<DocNode>& nodes,
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
std::vector<std::string> value_positions(const std::vector<DocNode>& nodes) {
  std::vector<std::string> positions;
  for (DocNode node : nodes) {
    const std::string_view position = node.attribute_value(doc::kPosition);
    if (!node.is_element() || position.empty()) return {};
    positions.emplace_back(position);
  }
  return positions;
}

// The selections of a list control's items, by position; false (the
// problem noted) when the node has no list of its kind. An item without a
// number is noted and passed over.
bool read_list_items(DocNode node, std::uint32_t type, const ProblemCollector& note,
                     std::vector<SlotValue>& items, std::vector<std::string>& names) {
  const char* list_name = value_form(type, 1, true).list;
  if (!first_named(node, list_name)) {
    note(std::string("no ") + list_name + " to write");
    return false;
  }
  // The items of every list element of the control's kind, in document
  // order: what "./mux_list[item]/item" (or mixer_list) selects.
  std::vector<DocNode> item_nodes;
  for (DocNode list : node.children(list_name)) list.append_children(doc::kItem, item_nodes);
  names.reserve(item_nodes.size());
  for (DocNode item : item_nodes) names.emplace_back(name_text(item));
  for (std::size_t position = 0; position < item_nodes.size(); ++position) {
    const DocAttribute selected = item_nodes[position].attribute(doc::kSelected);
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
MixerResult read_now(Mixer& mixer, const ModelLayout& layout, PlannedWrite& write,
                     const DocumentValues& values, bool& nothing_to_write) {
  FoundControl found;
  MixerResult result = find_control(layout, write.control_id, found);
  if (result != kMixerOk) return result;
  const ModelControl& control = *found.control;
  write.bounds = {control.min, control.max, control.steps, control.device_bounds};
  if (!values.positions.empty() && write.shape == WriteShape::kChannels && !control.uniform &&
      found.line->positions.size() == found.line->channels) {
    if (auto placed = place_by_position(values.values, values.positions, found.line->positions)) {
      write.document = std::move(*placed);
    }
  }
  WriteBase base = read_for_write(mixer, layout, write);
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
bool select_port_by_name(const ModelLayout& layout, PlannedWrite& write,
                         const ProblemCollector& note, MixerSession& session) {
  if (session.gone()) return false;
  const std::optional<std::string> port = selected_port(write.document, write.item_names);
  if (!port) {
    note("no port selected; control passed over");
    return false;
  }
  FoundControl found;
  const MixerResult result = find_control(layout, write.control_id, found);
  if (result != kMixerOk) {
    note(refused(write.shape, {}, result));
    return false;
  }
  write.item_names.clear();
  for (const ModelItem& item : found.control->items) write.item_names.push_back(item.name);
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

const ModelLayout* MixerSession::layout() {
  if (!tried_) {
    tried_ = true;
    const MixerResult opened = mixer_.describe(0, layout_);
    if (opened != kMixerOk) {
      layout_ = nullptr;
      open_failure_ = "the mixer refused to open (mixer error " + std::to_string(opened) + ")";
    } else {
      device_name_ = layout_->name;
    }
  }
  return layout_;
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

void plan_line_controls(const std::vector<DocNode>& controls, MixerSession& session,
                        RestorePlan& plan, Progress* progress) {
  // Keeps every entry, in order.
  class Keeping final : public EntrySink {
   public:
    explicit Keeping(RestorePlan& plan) : plan_(plan) {}
    void add(PlanEntry&& entry) override { plan_.entries.push_back(std::move(entry)); }

   private:
    RestorePlan& plan_;
  } keeping(plan);
  plan_line_controls(controls, session, keeping, progress);
}

void plan_line_controls(const std::vector<DocNode>& controls, MixerSession& session,
                        EntrySink& sink, Progress* progress) {
  for (DocNode node : controls) {
    if (progress != nullptr) progress->advance();
    ProblemCollector note(node, sink);
    const DocAttribute type_attribute = node.attribute(doc::kCtrlType);
    if (!type_attribute) {
      note("no ctrl_type; control passed over");
      continue;
    }
    const auto type = static_cast<std::uint32_t>(parse_int(type_attribute.value()));
    const WriteKind kind = write_kind(type);
    // Custom controls, meters, multiple-select lists and types the program
    // does not know are passed over without a word.
    if (kind == WriteKind::kNothing || kind == WriteKind::kUnknown) continue;
    const DocAttribute id_attribute = node.attribute(doc::kCtrlId);
    std::optional<std::int32_t> id =
        id_attribute ? parse_int_strict(id_attribute.value()) : std::nullopt;
    if (!id) {
      note("no control identifier; control passed over");
      continue;
    }
    const ModelLayout* layout = session.layout();
    if (layout == nullptr) {
      note(session.open_failure());
      continue;
    }

    PlannedWrite write;
    write.line_name = name_text(node.parent());
    if (node.parent().is(doc::kSource)) {
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
      if (type == ctrl::kPortSelect && !select_port_by_name(*layout, write, note, session)) {
        if (session.gone()) session.count_meant();
        continue;
      }
    } else {
      std::vector<DocNode> nodes = value_nodes(node);
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
    const MixerResult read = read_now(session.mixer(), *layout, write, values, nothing_to_write);
    session.note_result(read);
    if (session.gone()) {
      session.count_meant();
      continue;
    }
    if (read != kMixerOk) {
      note(refused(write.shape, {}, read));
      continue;
    }
    if (nothing_to_write) continue;
    session.count_meant();
    sink.add(std::move(write));
  }
}

namespace {

// What execute_entries does with one write of a batch, and how it went.
struct BatchWrite {
  WriteBase base;                 // its shape, and the values read
  std::size_t read = kNone;       // its entry in the batch's reads
  std::size_t sent = kNone;       // its entry in the batch's writes
  bool made_already = false;      // a default switch on the line that is the default
  static constexpr std::size_t kNone = static_cast<std::size_t>(-1);
};

// The entries of one batch: at most this many go to the mixer in one read
// and one write call, so that a huge plan does not hold all its values twice.
constexpr std::size_t kBatchEntries = 4096;

// Executes `entries` as execute_entry would one after another, with the
// mixer asked in one call for every control's values and given every write
// in one call: each write still starts from the control's values read just
// before it (the read-change-write; a control a batch writes twice ends the
// batch before its second write), and the reports come in the entries'
// order. Returns how many were reported.
int execute_batch(std::span<const PlanEntry> entries, MixerSession& session) {
  // A batch without writes opens no mixer.
  const bool writes_any = std::any_of(entries.begin(), entries.end(), [](const PlanEntry& entry) {
    return std::holds_alternative<PlannedWrite>(entry);
  });
  const ModelLayout* layout = session.gone() || !writes_any ? nullptr : session.layout();
  std::vector<BatchWrite> batch(entries.size());
  std::vector<ValueRead> reads;
  if (layout != nullptr) {
    for (std::size_t k = 0; k < entries.size(); ++k) {
      const auto* write = std::get_if<PlannedWrite>(&entries[k]);
      if (write == nullptr) continue;
      batch[k].base = shape_for_write(*layout, *write);
      if (batch[k].base.result != kMixerOk || batch[k].base.nothing_to_write) continue;
      batch[k].read = reads.size();
      ValueRead& read = reads.emplace_back();
      read.control_id = write->control_id;
      read.channels = batch[k].base.channels;
    }
    if (!reads.empty()) session.mixer().read(0, reads);
  }
  std::vector<ValueWrite> writes;
  for (std::size_t k = 0; k < entries.size(); ++k) {
    BatchWrite& planned = batch[k];
    if (planned.read == BatchWrite::kNone) continue;
    ValueRead& read = reads[planned.read];
    planned.base.result = read.result;
    // Nothing is sent once a read found the mixer gone.
    if (read.result == kMixerGone) break;
    if (read.result != kMixerOk) continue;
    planned.base.values = std::move(read.values);
    const PlannedWrite& write = std::get<PlannedWrite>(entries[k]);
    std::vector<std::int32_t> sent = put_values(planned.base.values, write.document);
    // The line that is the default already stays so, without a write.
    if (write.control_type == ctrl::kDefaultSwitch && sent == planned.base.values) {
      planned.made_already = true;
      continue;
    }
    planned.sent = writes.size();
    ValueWrite& out = writes.emplace_back();
    out.control_id = write.control_id;
    out.values = std::move(sent);
  }
  if (!writes.empty()) session.mixer().write(0, writes);

  int reported = 0;
  for (std::size_t k = 0; k < entries.size(); ++k) {
    if (const auto* problem = std::get_if<PlanProblem>(&entries[k])) {
      report_problem(*problem, session.reporter());
      if (problem->failure) ++reported;
      continue;
    }
    const PlannedWrite& write = std::get<PlannedWrite>(entries[k]);
    // Once the mixer went away, the writes left are only counted (the
    // restore says so once, at its end).
    if (session.gone()) continue;
    // Made only for a report: most writes have none.
    const auto prefix = [&] {
      return control_prefix(write.control_name, write.type_text, write.id_text);
    };
    if (layout == nullptr) {
      session.reporter().error(prefix() + session.open_failure());
      ++reported;
      continue;
    }
    const BatchWrite& planned = batch[k];
    session.note_result(planned.base.result);
    if (planned.base.nothing_to_write || session.gone()) continue;
    if (planned.base.result != kMixerOk) {
      session.reporter().error(prefix() + refused(write.shape, {}, planned.base.result));
      ++reported;
      continue;
    }
    if (planned.made_already) {
      session.count_made();
      continue;
    }
    const ValueWrite& sent = writes[planned.sent];
    session.note_result(sent.result, sent.in_doubt);
    if (session.gone()) continue;
    if (sent.result == kMixerOk) {
      session.count_made();
      continue;
    }
    session.reporter().error(prefix() + refused(write.shape, sent.values, sent.result));
    ++reported;
  }
  return reported;
}

// Whether `entry` writes a control that an entry of `batch` writes already.
bool writes_again(const PlanEntry& entry, const std::unordered_set<std::uint32_t>& batch) {
  const auto* write = std::get_if<PlannedWrite>(&entry);
  return write != nullptr && batch.count(write->control_id) != 0;
}

}  // namespace

int execute_entries(std::span<const PlanEntry> entries, MixerSession& session) {
  int reported = 0;
  std::size_t start = 0;
  std::unordered_set<std::uint32_t> written;
  for (std::size_t k = 0; k < entries.size(); ++k) {
    if (k - start == kBatchEntries || writes_again(entries[k], written)) {
      reported += execute_batch(entries.subspan(start, k - start), session);
      start = k;
      written.clear();
    }
    if (const auto* write = std::get_if<PlannedWrite>(&entries[k])) {
      written.insert(write->control_id);
    }
  }
  return reported + execute_batch(entries.subspan(start), session);
}

void ExecutingSink::add(PlanEntry&& entry) {
  pending_.push_back(std::move(entry));
  if (pending_.size() == kBatchEntries) finish();
}

void ExecutingSink::finish() {
  reported_ += execute_entries(pending_, session_);
  pending_.clear();
}

ApplyReport execute_plan(const RestorePlan& plan, Mixer& mixer, Reporter& reporter) {
  MixerSession session(mixer, reporter);
  for (const PlanEntry& entry : plan.entries) {
    if (std::holds_alternative<PlannedWrite>(entry)) session.count_meant();
  }
  ApplyReport report;
  report.reported = execute_entries(plan.entries, session);
  if (!session.gone()) report.reported += execute_applications(plan, mixer, reporter);
  report.reported += report_gone(session);
  report.paired = plan.paired;
  report.matched = plan.matched;
  report.gone = session.gone();
  return report;
}

ApplyReport apply_line_controls(const std::vector<DocNode>& controls, Mixer& mixer,
                                Reporter& reporter) {
  MixerSession session(mixer, reporter);
  RestorePlan plan;
  plan_line_controls(controls, session, plan);
  ApplyReport report;
  report.reported = execute_entries(plan.entries, session) + report_gone(session);
  report.gone = session.gone();
  return report;
}

int report_gone(MixerSession& session) {
  if (!session.gone()) return 0;
  session.reporter().error(session.gone_message());
  return 1;
}

}  // namespace quorvel
