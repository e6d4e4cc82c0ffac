#include "apply/apply.h"

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

// The node's text: its own value for a text node, else its text content.
std::string text_of(pugi::xml_node node) {
  if (node.type() == pugi::node_pcdata || node.type() == pugi::node_cdata) return node.value();
  return node.text().get();
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

std::string refused(const std::string& values, MixerResult result) {
  return "the mixer refused " + values + " (mixer error " + std::to_string(result) + ")";
}

// The node that holds the first value: the child after the name text. A
// control whose name is empty has no name text, so its values start at the
// first child.
pugi::xml_node first_value_node(pugi::xml_node node) {
  pugi::xml_node child = node.first_child();
  if (child.type() == pugi::node_pcdata || child.type() == pugi::node_cdata) {
    child = child.next_sibling();
  }
  return child;
}

std::optional<std::int32_t> read_value(pugi::xml_node value_node, const ControlReporter& say,
                                       const char* which) {
  if (!value_node) {
    say(std::string("no ") + which + " value to write");
    return std::nullopt;
  }
  std::string text = text_of(value_node);
  std::optional<std::int32_t> value = parse_int_strict(text);
  if (!value) say(std::string("the ") + which + " value " + quote_name(text) + " is not a number");
  return value;
}

void apply_list(pugi::xml_node node, std::uint32_t type, std::uint32_t id,
                const MixerHandle& handle, const ControlReporter& say) {
  // The items of every list element of the control's kind, in document
  // order: what "./mux_list[item]/item" (or mixer_list) selects.
  std::vector<pugi::xml_node> items;
  const char* list_name = type == ctrl::kMux ? doc::kMuxList : doc::kMixerList;
  for (pugi::xml_node list : child_elements(node, list_name)) {
    append_child_elements(list, doc::kItem, items);
  }
  std::vector<ListItemValue> values;
  std::string described;
  for (std::size_t position = 0; position < items.size(); ++position) {
    pugi::xml_attribute selected = items[position].attribute(doc::kSelected);
    std::optional<std::int32_t> value =
        selected ? parse_int_strict(selected.value()) : std::nullopt;
    if (!value) {
      say("item " + std::to_string(position) + " has no number in \"selected\"; item passed over");
      continue;
    }
    values.emplace_back(static_cast<std::uint32_t>(position), *value);
    if (!described.empty()) described += ' ';
    described += std::to_string(*value);
  }
  if (values.empty()) return;
  MixerResult result = set_list_item(handle, id, values);
  if (result != MMSYSERR_NOERROR) say(refused("the selection " + described, result));
}

}  // namespace

MixerResult set_uniform_value(const MixerHandle& handle, std::uint32_t control_id,
                              std::int32_t value) {
  std::vector<std::int32_t> slots;
  MixerResult result = read_control_values(handle, control_id, 1, 0, slots);
  if (result != MMSYSERR_NOERROR) return result;
  slots[0] = value;
  return write_control_values(handle, control_id, 1, 0, slots);
}

MixerResult set_channel_pair(const MixerHandle& handle, std::uint32_t control_id,
                             std::int32_t first, std::int32_t second) {
  MixerLine line;
  MixerResult result = find_control_line(handle, control_id, line);
  if (result != MMSYSERR_NOERROR) return result;
  if (line.cChannels == 0) return MMSYSERR_INVALPARAM;
  std::vector<std::int32_t> slots;
  result = read_control_values(handle, control_id, line.cChannels, 0, slots);
  if (result != MMSYSERR_NOERROR) return result;
  slots[0] = first;
  if (slots.size() > 1) slots[1] = second;
  return write_control_values(handle, control_id, line.cChannels, 0, slots);
}

MixerResult set_list_item(const MixerHandle& handle, std::uint32_t control_id,
                          const std::vector<ListItemValue>& items) {
  MixerLine line;
  MixerResult result = find_control_line(handle, control_id, line);
  if (result != MMSYSERR_NOERROR) return result;
  const std::uint32_t count = line.cConnections;
  bool any_in_range = false;
  for (const auto& item : items) any_in_range = any_in_range || item.first < count;
  if (!any_in_range) return MMSYSERR_NOERROR;
  std::vector<std::int32_t> slots;
  result = read_control_values(handle, control_id, 1, count, slots);
  if (result != MMSYSERR_NOERROR) return result;
  for (const auto& [position, value] : items) {
    if (position < count) slots[position] = value;
  }
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
      say(refused("to open the mixer", opened));
      continue;
    }
    const auto control_id = static_cast<std::uint32_t>(*id);

    if (kind == WriteKind::kList) {
      apply_list(node, type, control_id, handle, say);
      continue;
    }
    pugi::xml_node first_node = first_value_node(node);
    std::optional<std::int32_t> first = read_value(first_node, say, "first");
    if (!first) continue;
    pugi::xml_node second_node = first_node.next_sibling();
    MixerResult written = MMSYSERR_NOERROR;
    std::string described = std::to_string(*first);
    if (kind == WriteKind::kUniform || (kind == WriteKind::kPerChannel && !second_node)) {
      written = set_uniform_value(handle, control_id, *first);
    } else {
      std::int32_t second = *first;
      if (second_node) {
        std::optional<std::int32_t> value = read_value(second_node, say, "second");
        if (!value) continue;
        second = *value;
      }
      described += ' ';
      described += std::to_string(second);
      written = set_channel_pair(handle, control_id, *first, second);
    }
    if (written != MMSYSERR_NOERROR) say(refused("the value " + described, written));
  }
  return result;
}

}  // namespace quorvel
