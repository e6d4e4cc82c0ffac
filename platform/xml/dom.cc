#include "platform/xml/dom.h"

#include <charconv>
#include <cstring>

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

Result append_int_attribute(pugi::xml_node node, const char* name, std::int32_t value) {
  if (node.type() != pugi::node_element) return not_set(name);
  pugi::xml_attribute attribute = node.append_attribute(name);
  return attribute && attribute.set_value(value) ? Result() : not_set(name);
}

Result set_int_text(pugi::xml_node node, std::int32_t value) {
  char buffer[16];
  auto written = std::to_chars(buffer, buffer + sizeof buffer, value);
  return set_text(node, std::string_view(buffer, static_cast<std::size_t>(written.ptr - buffer)));
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
  // The text up to its first NUL, as a C string of it would hold.
  text = text.substr(0, text.find('\0'));
  if (!target || !target.set_value(text.data(), text.size())) return not_set("a text");
  return Result();
}

void append_child_elements(pugi::xml_node parent, const char* name,
                           std::vector<pugi::xml_node>& found) {
  for (pugi::xml_node child = parent.first_child(); child; child = child.next_sibling()) {
    if (child.type() == pugi::node_element && std::strcmp(child.name(), name) == 0) {
      found.push_back(child);
    }
  }
}

std::vector<pugi::xml_node> child_elements(pugi::xml_node parent, const char* name) {
  std::vector<pugi::xml_node> found;
  append_child_elements(parent, name, found);
  return found;
}

}  // namespace quorvel
