// A document as a stream of its nodes, in document order, as one pass of
// the conforming parser gives them (read_xml_nodes, xml_read.h). Text
// arrives one node per run of text between two pieces of markup, with its
// references expanded and its line ends made LF; a run that is only white
// space in the source is no node. Names come as written, prefixes and
// namespace declarations included.
#pragma once

#include <string_view>

namespace quorvel {

class XmlNodeHandler {
 public:
  virtual ~XmlNodeHandler() = default;
  // Each returns false to end the reading there (a bound passed, no
  // memory): the document is then not read.
  // `standalone`: -1 not given, 0 "no", 1 "yes"; `encoding` null when not given.
  virtual bool declaration(const char* version, const char* encoding, int standalone) = 0;
  // The document type declaration: its text after "<!DOCTYPE" and white
  // space, up to its ">", as written.
  virtual bool doctype(std::string_view value) = 0;
  // `attributes`: name, value, name, value, ..., null; in the order written.
  virtual bool start_element(const char* name, const char** attributes) = 0;
  virtual bool end_element() = 0;
  virtual bool text(std::string_view value, bool cdata) = 0;
  virtual bool comment(const char* value) = 0;
  virtual bool processing_instruction(const char* target, const char* value) = 0;
};

}  // namespace quorvel
