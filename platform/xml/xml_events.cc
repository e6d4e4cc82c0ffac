#include "platform/xml/xml_events.h"

#include <vector>

namespace quorvel {
namespace {

bool walk_node(pugi::xml_node node, XmlNodeHandler& handler, std::vector<const char*>& attributes) {
  switch (node.type()) {
    case pugi::node_declaration: {
      pugi::xml_attribute encoding = node.attribute("encoding");
      pugi::xml_attribute standalone = node.attribute("standalone");
      return handler.declaration(node.attribute("version").value(),
                                 encoding ? encoding.value() : nullptr,
                                 !standalone ? -1 : std::string_view(standalone.value()) == "yes");
    }
    case pugi::node_pcdata:
    case pugi::node_cdata:
      return handler.text(node.value(), node.type() == pugi::node_cdata);
    case pugi::node_comment: return handler.comment(node.value());
    case pugi::node_pi: return handler.processing_instruction(node.name(), node.value());
    case pugi::node_element: {
      attributes.clear();
      for (pugi::xml_attribute attribute : node.attributes()) {
        attributes.push_back(attribute.name());
        attributes.push_back(attribute.value());
      }
      attributes.push_back(nullptr);
      return handler.start_element(node.name(), attributes.data());
    }
    case pugi::node_doctype: return handler.doctype(node.value());
    default: return true;
  }
}

}  // namespace

bool walk_xml_nodes(const pugi::xml_document& document, XmlNodeHandler& handler) {
  std::vector<const char*> attributes;
  // Depth first, in document order, without recursion.
  pugi::xml_node node = document.first_child();
  while (node) {
    if (!walk_node(node, handler, attributes)) return false;
    if (node.first_child()) {
      node = node.first_child();
      continue;
    }
    if (node.type() == pugi::node_element && !handler.end_element()) return false;
    while (!node.next_sibling()) {
      node = node.parent();
      if (node == document) return true;
      if (!handler.end_element()) return false;
    }
    node = node.next_sibling();
  }
  return true;
}

}  // namespace quorvel
