// Where a mixer document is written to, node by node in document order: a
// DOM tree (TreeSink) or the saved file's bytes (SavedDocumentWriter,
// saved_writer.h). The document's parts are written by document_writer.h,
// the same calls whatever the sink.
#pragma once

#include <pugixml.hpp>

#include <cstdint>
#include <string_view>

namespace quorvel {

class DocumentSink {
 public:
  virtual ~DocumentSink() = default;

  // The nodes before the root element of `prototype` (declaration, comment,
  // document type), as the document's first nodes.
  virtual void prolog(const pugi::xml_document& prototype) = 0;
  // Starts an element named `name` (a constant that outlives the sink) as
  // the next child of the element open, or as the root.
  virtual void start(const char* name) = 0;
  // An attribute of the element just started, before its first child.
  virtual void attribute(const char* name, std::int32_t value) = 0;
  virtual void attribute(const char* name, std::string_view utf8) = 0;
  // A text child, up to its first NUL.
  virtual void text(std::string_view utf8) = 0;
  // A CDATA section child, up to its first NUL.
  virtual void cdata(std::string_view utf8) = 0;
  // Ends the element open.
  virtual void end() = 0;
  // Ends the document; every element must have ended.
  virtual void finish() {}
  // Whether a node could not be added (the tree ran out of memory); what
  // follows is then not written.
  virtual bool failed() const { return false; }
};

// Writes the document into a DOM document, replacing its content at
// prolog().
class TreeSink final : public DocumentSink {
 public:
  explicit TreeSink(pugi::xml_document& document) : document_(document), open_(document) {}

  void prolog(const pugi::xml_document& prototype) override;
  void start(const char* name) override;
  void attribute(const char* name, std::int32_t value) override;
  void attribute(const char* name, std::string_view utf8) override;
  void text(std::string_view utf8) override;
  void cdata(std::string_view utf8) override;
  void end() override;
  bool failed() const override { return failed_; }

 private:
  void append_text(pugi::xml_node_type type, std::string_view utf8);

  pugi::xml_document& document_;
  pugi::xml_node open_;  // the element open, or the document
  bool failed_ = false;
};

}  // namespace quorvel
