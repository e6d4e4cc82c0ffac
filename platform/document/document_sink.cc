#include "platform/document/document_sink.h"

namespace quorvel {

void TreeSink::prolog(const pugi::xml_document& prototype) {
  document_.reset();
  open_ = document_;
  failed_ = false;
  const pugi::xml_node root = prototype.last_child();
  for (pugi::xml_node node = prototype.first_child(); node != root; node = node.next_sibling()) {
    if (!document_.append_copy(node)) failed_ = true;
  }
}

void TreeSink::start(const char* name) {
  if (failed_) return;
  pugi::xml_node element = open_.append_child(name);
  if (!element) {
    failed_ = true;
    return;
  }
  open_ = element;
}

void TreeSink::attribute(const char* name, std::int32_t value) {
  if (failed_) return;
  // The element is new: the attribute is appended without looking for one
  // of that name first.
  pugi::xml_attribute added = open_.append_attribute(name);
  if (!added || !added.set_value(value)) failed_ = true;
}

void TreeSink::attribute(const char* name, std::string_view utf8) {
  if (failed_) return;
  utf8 = utf8.substr(0, utf8.find('\0'));
  pugi::xml_attribute added = open_.append_attribute(name);
  if (!added || !added.set_value(utf8.data(), utf8.size())) failed_ = true;
}

void TreeSink::append_text(pugi::xml_node_type type, std::string_view utf8) {
  if (failed_) return;
  // The text up to its first NUL, as a C string of it would hold.
  utf8 = utf8.substr(0, utf8.find('\0'));
  pugi::xml_node node = open_.append_child(type);
  if (!node || !node.set_value(utf8.data(), utf8.size())) failed_ = true;
}

void TreeSink::text(std::string_view utf8) { append_text(pugi::node_pcdata, utf8); }

void TreeSink::cdata(std::string_view utf8) { append_text(pugi::node_cdata, utf8); }

void TreeSink::end() {
  if (failed_) return;
  open_ = open_.parent();
}

}  // namespace quorvel
