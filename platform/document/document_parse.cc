#include "platform/document/document_parse.h"

#include <new>

namespace quorvel {
namespace {

// The parser's nodes, appended to a document as they come.
class ModelFiller final : public XmlNodeHandler {
 public:
  explicit ModelFiller(Document& document) : builder_(document) {}

  bool declaration(const char* version, const char* encoding, int standalone) override {
    std::optional<std::string_view> standing;
    if (standalone >= 0) standing = standalone == 1 ? "yes" : "no";
    std::optional<std::string_view> named;
    if (encoding != nullptr) named = encoding;
    return builder_.declaration(version, named, standing);
  }
  bool doctype(std::string_view value) override { return builder_.doctype_node(value); }
  bool start_element(const char* name, const char** attributes) override {
    if (!builder_.start_element(name)) return false;
    for (const char** a = attributes; *a != nullptr; a += 2) {
      if (!builder_.add_attribute(a[0], a[1])) return false;
    }
    return true;
  }
  bool end_element() override { return builder_.end_element(); }
  bool text(std::string_view value, bool cdata) override {
    return builder_.text_node(value, cdata);
  }
  bool comment(const char* value) override { return builder_.comment_node(value); }
  bool processing_instruction(const char* target, const char* value) override {
    return builder_.instruction(target, value);
  }

 private:
  DocumentBuilder builder_;
};

}  // namespace

Result parse_document(std::string_view bytes, Document& document) {
  const XmlEncoding encoding = detect_xml_encoding(bytes.substr(0, kXmlSourceHead));
  try {
    ModelFiller filler(document);
    if (read_xml_nodes(bytes, encoding, filler)) return Result();
  } catch (const std::bad_alloc&) {
    // Told apart from a fault of the source below.
  }
  document.reset();
  Result why = diagnose_xml(bytes, encoding);
  if (why || why.kind() == kXmlNoMemory) {
    // The source is sound: what stopped the reading was the memory for
    // its nodes.
    return Result::failure("Not enough memory to load the document.", kXmlNoMemory);
  }
  return why;
}

bool read_document(const std::filesystem::path& path, Document& document, std::size_t piece,
                   Progress* progress) {
  bool read = false;
  try {
    ModelFiller filler(document);
    read = read_xml_file(path, filler, piece, progress);
  } catch (const std::bad_alloc&) {
    // The caller's whole read tells why.
  }
  if (!read) document.reset();
  return read;
}

}  // namespace quorvel
