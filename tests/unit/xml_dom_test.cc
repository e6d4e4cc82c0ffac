// The DOM routines the program walks and saves documents with: child walks,
// and serialisation into one buffer.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "platform/xml/xml_dom.h"

namespace quorvel {
namespace {

// Children of every kind, some of them easily mistaken for the element
// looked for: a processing instruction whose target is "source", a prefixed
// name, a longer name, a grandchild, text, CDATA and a comment.
constexpr const char* kTrickyDestination =
    "<destination component_type=\"4\">Speakers"
    "<line_control ctrl_type=\"1\">A</line_control>"
    "<?source not an element?>"
    "<source line_type=\"1\">S1<line_control ctrl_type=\"2\"/><x:line_control/>"
    "<?line_control no?><line_controls/><line_control ctrl_type=\"3\"/></source>"
    "<!--source--><x:source/><sources/><![CDATA[source]]>text"
    "<source line_type=\"2\"><source line_type=\"nested\"/></source>"
    "<line_control ctrl_type=\"4\">B</line_control>"
    "</destination>";

// The attribute `name` of each node, in order.
std::vector<std::string> attributes(const std::vector<pugi::xml_node>& nodes, const char* name) {
  std::vector<std::string> values;
  for (pugi::xml_node node : nodes) values.emplace_back(node.attribute(name).value());
  return values;
}

TEST(ChildElementsTest, SelectsTheElementChildrenOfTheNameInDocumentOrder) {
  pugi::xml_document document;
  ASSERT_TRUE(document.load_string(kTrickyDestination, kParseOptions));
  pugi::xml_node destination = document.document_element();

  std::vector<pugi::xml_node> sources = child_elements(destination, "source");
  EXPECT_EQ(attributes(sources, "line_type"), (std::vector<std::string>{"1", "2"}));
  EXPECT_EQ(attributes(child_elements(destination, "line_control"), "ctrl_type"),
            (std::vector<std::string>{"1", "4"}));
  EXPECT_EQ(attributes(child_elements(sources[0], "line_control"), "ctrl_type"),
            (std::vector<std::string>{"2", "3"}));
  EXPECT_TRUE(child_elements(sources[1], "line_control").empty());

  // Two root elements (kept in fragment mode) and a processing instruction
  // named like the root: the destinations of every root, root by root.
  ASSERT_TRUE(document.load_string(
      "<?audio_mixer x?><audio_mixer id=\"0\"><destination component_type=\"1\"/>"
      "<other/><destination component_type=\"2\"/></audio_mixer>"
      "<mixer><destination/></mixer>"
      "<audio_mixer id=\"1\"><destination component_type=\"3\"/></audio_mixer>"
      "<audio_mixer id=\"2\"/>",
      kParseOptions | pugi::parse_fragment));
  std::vector<pugi::xml_node> roots = child_elements(document, "audio_mixer");
  EXPECT_EQ(attributes(roots, "id"), (std::vector<std::string>{"0", "1", "2"}));
  std::vector<pugi::xml_node> destinations;
  for (pugi::xml_node root : roots) append_child_elements(root, "destination", destinations);
  EXPECT_EQ(attributes(destinations, "component_type"),
            (std::vector<std::string>{"1", "2", "3"}));
}

TEST(SerializeDocumentTest, OneBufferHoldsWhatTheLibraryWritesToAStream) {
  // Everything that takes more room when written than when held: references
  // for markup characters in text and attributes, control characters,
  // characters outside the basic plane (two UTF-16 units from four UTF-8
  // bytes), a CDATA section that must be split, and deep indentation.
  pugi::xml_document document;
  ASSERT_TRUE(document.load_string(
      "<?xml version=\"1.0\" encoding=\"UTF-16\"?><!--Comment --><!DOCTYPE audio_mixer>"
      "<audio_mixer id=\"&quot;&amp;&lt;&gt;'\">&lt;&amp;&gt;\xC3\xA9\xE2\x82\xAC\xF0\x9F\x8E\xB5"
      "<a b=\"&#9;&#10;&#13;&#1;\"><b><c><d><e><f>x</f></e></d></c></b></a>"
      "<![CDATA[a]]]]><![CDATA[>b]]><?pi data?></audio_mixer>",
      kParseOptions));
  for (int i = 0; i < 2000; ++i) {
    pugi::xml_node value = document.document_element().append_child("value");
    value.append_attribute("ch").set_value(i);
    value.text().set("\"<&>\"");
  }
  std::ostringstream expected(std::ios::binary);
  document.save(expected, "\t", pugi::format_indent | pugi::format_write_bom,
                pugi::encoding_utf16_le);

  const std::string saved = serialize_document(document);
  EXPECT_EQ(saved, expected.str());
  ASSERT_GE(saved.size(), 2u);
  EXPECT_EQ(saved.substr(0, 2), "\xFF\xFE");
  // It reads back as the same document.
  pugi::xml_document reloaded;
  ASSERT_TRUE(reloaded.load_buffer(saved.data(), saved.size(), kParseOptions));
  EXPECT_EQ(serialize_document(reloaded), saved);
}

}  // namespace
}  // namespace quorvel
