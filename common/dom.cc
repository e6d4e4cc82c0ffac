#include "common/dom.h"

#include "common/number_text.h"
#include "platform/text_encoding.h"

namespace quorvel {

std::string to_wide_string(std::string_view text) { return system_to_utf8(text); }

pugi::xml_node create_element(pugi::xml_node parent, const char* name) {
  return parent.append_child(name);
}

Status set_int_attribute(pugi::xml_node node, const char* name, std::int32_t value) {
  if (node.type() != pugi::node_element) return kFail;
  pugi::xml_attribute attribute = node.attribute(name);
  if (!attribute) attribute = node.append_attribute(name);
  return attribute && attribute.set_value(value) ? kOk : kFail;
}

Status set_int_text(pugi::xml_node node, std::int32_t value) {
  return set_text(node, int_text(value));
}

std::string name_text(pugi::xml_node node) {
  pugi::xml_node first = node.first_child();
  return first.type() == pugi::node_pcdata ? first.value() : "";
}

Status set_text(pugi::xml_node node, std::string_view text) {
  if (node.type() != pugi::node_element) return kFail;
  pugi::xml_node first = node.first_child();
  pugi::xml_node target = first.type() == pugi::node_pcdata ? first : node.prepend_child(pugi::node_pcdata);
  if (!target) return kFail;
  return target.set_value(std::string(text).c_str()) ? kOk : kFail;
}

}  // namespace quorvel
