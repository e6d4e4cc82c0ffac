// Where a mixer document is written to, node by node in document order: the
// document model (DocumentBuilder, document_model.h) or the saved file's
// bytes (SavedDocumentWriter, saved_writer.h). The document's parts are
// written by document_writer.h, the same calls whatever the sink.
#pragma once

#include <cstdint>
#include <string_view>

namespace quorvel {

class DocumentSink {
 public:
  virtual ~DocumentSink() = default;

  // The nodes every document has before its root element (the
  // declaration, the comment, the document type: document_format.h), as
  // the document's first nodes.
  virtual void prolog() = 0;
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
  // Whether a node could not be added (no memory); what follows is then not
  // written.
  virtual bool failed() const { return false; }
};

}  // namespace quorvel
