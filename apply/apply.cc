#include "apply/apply.h"

#include <algorithm>
#include <optional>
#include <string>

#include "common/document_format.h"
#include "common/number_text.h"
#include "platform/mixer/control_kind.h"
#include "platform/mixer/control_values.h"
#include "platform/os/console.h"
#include "platform/xml/dom.h"

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

// Names one control in a report line.
class ControlReporter {
 public:
  ControlReporter(pugi::xml_node node, ApplyReport& report) : node_(node), report_(report) {}

  void operator()(const std::string& what) const {
    report_error("control " + quote_name(name_text(node_)) + " (type " +
                 std::string(node_.attribute(doc::kCtrlType).value()) + ", id " +
                 std::string(node_.attribute(doc::kCtrlId).value()) + "): " + what);
    ++report_.reported;
  }

 private:
  pugi::xml_node node_;
  ApplyReport& report_;
};

// What a failed write says: the values sent, or that none were.
std::string refused(const char* what, const SentValues& sent, MixerResult result) {
  const std::string code = "(mixer error " + std::to_string(result) + ")";
  if (sent.empty()) return "the mixer refused to let the control be written " + code;
  std::string text = "the mixer refused ";
  text += what;
  for (std::int32_t value : sent) text += " " + std::to_string(value);
  return text + " " + code;
}

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

// The numbers of the value nodes; nothing (the problem reported) when there
// is none or one is not a number.
std::optional<std::vector<std::int32_t>> read_values(const std::vector<pugi::xml_node>& nodes,
                                                     const ControlReporter& say) {
  if (nodes.empty()) {
    say(std::string("no ") + doc::kValue + " to write");
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
      say(which + " " + quote_name(text) + " is not a number");
      return std::nullopt;
    }
    values.push_back(*value);
  }
  return values;
}

void apply_list(pugi::xml_node node, std::uint32_t type, std::uint32_t id,
                const MixerHandle& handle, const ControlReporter& say) {
  const char* list_name = type == ctrl::kMux ? doc::kMuxList : doc::kMixerList;
  if (!node.child(list_name)) {
    say(std::string("no ") + list_name + " to write");
    return;
  }
  // The items of every list element of the control's kind, in document
  // order: what "./mux_list[item]/item" (or mixer_list) selects.
  std::vector<pugi::xml_node> items;
  for (pugi::xml_node list : child_elements(node, list_name)) {
    append_child_elements(list, doc::kItem, items);
  }
  std::vector<ListItemValue> values;
  for (std::size_t position = 0; position < items.size(); ++position) {
    pugi::xml_attribute selected = items[position].attribute(doc::kSelected);
    std::optional<std::int32_t> value =
        selected ? parse_int_strict(selected.value()) : std::nullopt;
    if (!value) {
      say("item " + std::to_string(position) +
          (selected ? ": \"selected\" " + quote_name(selected.value()) + " is not a number"
                    : " has no number in \"selected\"") +
          "; item passed over");
      continue;
    }
    values.emplace_back(static_cast<std::uint32_t>(position), *value);
  }
  if (values.empty()) return;
  SentValues sent;
  MixerResult result = set_list_item(handle, id, values, &sent);
  if (result != MMSYSERR_NOERROR) say(refused("the selection", sent, result));
}

// Writes the values of a switch or a per-channel control: one value as the
// type has it (`lone_to_pair`: channels 1 and 2, else the whole control),
// several one per channel.
MixerResult write_channels(const MixerHandle& handle, std::uint32_t id,
                           const std::vector<std::int32_t>& values, bool lone_to_pair,
                           SentValues& sent) {
  if (values.size() > 1) return set_channel_values(handle, id, values, &sent);
  if (lone_to_pair) return set_channel_values(handle, id, {values[0], values[0]}, &sent);
  return set_uniform_value(handle, id, values[0], &sent);
}

}  // namespace

MixerResult set_uniform_value(const MixerHandle& handle, std::uint32_t control_id,
                              std::int32_t value, SentValues* sent) {
  std::vector<std::int32_t> slots;
  MixerResult result = read_control_values(handle, control_id, 1, 0, slots);
  if (result != MMSYSERR_NOERROR) return result;
  slots[0] = value;
  if (sent != nullptr) *sent = slots;
  return write_control_values(handle, control_id, 1, 0, slots);
}

MixerResult set_channel_values(const MixerHandle& handle, std::uint32_t control_id,
                               const std::vector<std::int32_t>& values, SentValues* sent) {
  if (values.empty()) return MMSYSERR_INVALPARAM;
  MixerControl control;
  MixerLine line;
  MixerResult result = find_control(handle, control_id, control, line);
  if (result != MMSYSERR_NOERROR) return result;
  if (line.cChannels == 0) return MMSYSERR_INVALPARAM;
  if (is_uniform(control)) return set_uniform_value(handle, control_id, values[0], sent);
  std::vector<std::int32_t> slots;
  result = read_control_values(handle, control_id, line.cChannels, 0, slots);
  if (result != MMSYSERR_NOERROR) return result;
  std::copy_n(values.begin(), std::min(values.size(), slots.size()), slots.begin());
  if (sent != nullptr) *sent = slots;
  return write_control_values(handle, control_id, line.cChannels, 0, slots);
}

MixerResult set_list_item(const MixerHandle& handle, std::uint32_t control_id,
                          const std::vector<ListItemValue>& items, SentValues* sent) {
  MixerControl control;
  MixerLine line;
  MixerResult result = find_control(handle, control_id, control, line);
  if (result != MMSYSERR_NOERROR) return result;
  const std::uint32_t count = control.cMultipleItems;
  bool any_in_range = false;
  for (const auto& item : items) any_in_range = any_in_range || item.first < count;
  if (!any_in_range) return MMSYSERR_NOERROR;
  std::vector<std::int32_t> slots;
  result = read_control_values(handle, control_id, 1, count, slots);
  if (result != MMSYSERR_NOERROR) return result;
  for (const auto& [position, value] : items) {
    if (position < count) slots[position] = value;
  }
  if (sent != nullptr) *sent = slots;
  return write_control_values(handle, control_id, 1, count, slots);
}

int apply_line_controls(const std::vector<pugi::xml_node>& controls, MixerService& mixer,
                        ApplyReport& report) {
  if (controls.empty()) return 0;
  MixerHandle handle;
  MixerResult opened = mixer.open(0, handle);
  int result = 0;
  for (pugi::xml_node node : controls) {
    ControlReporter say(node, report);
    pugi::xml_attribute type_attribute = node.attribute(doc::kCtrlType);
    if (!type_attribute) {
      say("no ctrl_type; control passed over");
      continue;
    }
    const auto type = static_cast<std::uint32_t>(parse_int(type_attribute.value()));
    const WriteKind kind = write_kind(type);
    if (kind == WriteKind::kNothing) continue;
    if (kind == WriteKind::kUnknown) {
      ++report.unknown_types;
      result = 1;
      continue;
    }
    pugi::xml_attribute id_attribute = node.attribute(doc::kCtrlId);
    std::optional<std::int32_t> id =
        id_attribute ? parse_int_strict(id_attribute.value()) : std::nullopt;
    if (!id) {
      say("no control identifier; control passed over");
      continue;
    }
    if (opened != MMSYSERR_NOERROR) {
      say("the mixer refused to open (mixer error " + std::to_string(opened) + ")");
      continue;
    }
    const auto control_id = static_cast<std::uint32_t>(*id);

    if (kind == WriteKind::kList) {
      apply_list(node, type, control_id, handle, say);
      continue;
    }
    std::vector<pugi::xml_node> nodes = value_nodes(node);
    // A control written as a whole uses its first value alone.
    if (kind == WriteKind::kUniform && nodes.size() > 1) nodes.resize(1);
    std::optional<std::vector<std::int32_t>> values = read_values(nodes, say);
    if (!values) continue;
    SentValues sent;
    MixerResult written =
        kind == WriteKind::kUniform
            ? set_uniform_value(handle, control_id, values->front(), &sent)
            : write_channels(handle, control_id, *values, kind == WriteKind::kChannels, sent);
    if (written != MMSYSERR_NOERROR) say(refused("the value", sent, written));
  }
  return result;
}

}  // namespace quorvel
