#include "platform/xml/dom.h"

#include "common/number_text.h"

namespace quorvel {

pugi::xml_node create_element(pugi::xml_node parent, const char* name) {
  return parent.append_child(name);
}

namespace {

Result not_set(const char* what) { return Result::failure(std::string("cannot set ") + what); }

}  // namespace

Result set_int_attribute(pugi::xml_node node, const char* name, std::int32_t value) {
  if (node.type() != pugi::node_element) return not_set(name);
  pugi::xml_attribute attribute = node.attribute(name);
  if (!attribute) attribute = node.append_attribute(name);
  return attribute && attribute.set_value(value) ? Result() : not_set(name);
}

Result set_int_text(pugi::xml_node node, std::int32_t value) {
  return set_text(node, int_text(value));
}

std::string name_text(pugi::xml_node node) {
  pugi::xml_node first = node.first_child();
  return first.type() == pugi::node_pcdata ? first.value() : "";
}

Result set_text(pugi::xml_node node, std::string_view text) {
  if (node.type() != pugi::node_element) return not_set("a text");
  pugi::xml_node first = node.first_child();
  pugi::xml_node target =
      first.type() == pugi::node_pcdata ? first : node.prepend_child(pugi::node_pcdata);
  if (!target || !target.set_value(std::string(text).c_str())) return not_set("a text");
  return Result();
}

}  // namespace quorvel
