#include "platform/xml/xml_dom.h"

#include <cstring>

namespace quorvel {

Result load_xml(pugi::xml_document& document, std::string_view text) {
  document.reset();
  pugi::xml_parse_result result =
      document.load_buffer(text.data(), text.size(), kParseOptions, pugi::encoding_utf8);
  if (!result) {
    document.reset();
    return Result::failure(std::string("not well-formed XML: ") + result.description());
  }
  return Result();
}

std::string name_text(pugi::xml_node node) {
  pugi::xml_node first = node.first_child();
  return first.type() == pugi::node_pcdata ? first.value() : "";
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

namespace {

// A text takes at most six characters per byte when written: a character
// written as a reference ("&quot;"). Counting the bytes alone is cheaper
// than looking at each.
std::size_t text_bound(const char* text) { return 6 * std::strlen(text); }

// An upper bound of the saved document's size in bytes, so that its buffer
// is allocated once and never copied as it grows. Every UTF-8 byte becomes
// at most one UTF-16 unit (two bytes); a node adds at most its markup, its
// name twice, two line ends and its indentation twice. Room reserved but
// never written is never touched, so a generous bound costs no memory.
std::size_t saved_size_bound(const pugi::xml_document& document) {
  constexpr std::size_t kMarkup = 16;
  std::size_t units = 1;  // the byte order mark
  std::size_t depth = 0;
  pugi::xml_node node = document.first_child();
  while (node) {
    units += kMarkup + 2 * (depth + 1) + 2 * std::strlen(node.name()) + text_bound(node.value());
    for (pugi::xml_attribute attribute : node.attributes()) {
      units += 4 + std::strlen(attribute.name()) + text_bound(attribute.value());
    }
    // Depth first, in document order, without recursion.
    if (node.first_child()) {
      node = node.first_child();
      ++depth;
      continue;
    }
    while (node && !node.next_sibling()) {
      node = node.parent();
      --depth;
    }
    if (node) node = node.next_sibling();
  }
  return 2 * units;
}

class StringWriter : public pugi::xml_writer {
 public:
  explicit StringWriter(std::string& out) : out_(out) {}
  void write(const void* data, std::size_t size) override {
    out_.append(static_cast<const char*>(data), size);
  }

 private:
  std::string& out_;
};

}  // namespace

std::string serialize_document(const pugi::xml_document& document) {
  std::string bytes;
  bytes.reserve(saved_size_bound(document));
  StringWriter writer(bytes);
  document.save(writer, "\t", pugi::format_indent | pugi::format_write_bom,
                pugi::encoding_utf16_le);
  return bytes;
}

}  // namespace quorvel
