// The DOM routines the program builds and walks documents with: direct
// child walks against the selection patterns they stand for, attributes and
// texts, and serialisation into one buffer.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include "platform/xml/dom.h"
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

TEST(ChildElementsTest, SelectsWhatTheChildPatternsSelectInTheSameOrder) {
  pugi::xml_document document;
  ASSERT_TRUE(document.load_string(kTrickyDestination, kParseOptions));
  pugi::xml_node destination = document.document_element();

  std::vector<pugi::xml_node> sources = child_elements(destination, "source");
  ASSERT_EQ(sources.size(), 2u);
  EXPECT_EQ(sources, select_nodes(destination, Pattern::kSources));
  EXPECT_EQ(sources, select_nodes(destination, Pattern::kSourceChildren));

  std::vector<pugi::xml_node> controls = child_elements(destination, "line_control");
  ASSERT_EQ(controls.size(), 2u);
  EXPECT_STREQ(controls[1].attribute("ctrl_type").value(), "4");
  EXPECT_EQ(controls, select_nodes(destination, Pattern::kLineControlChildren));

  std::vector<pugi::xml_node> source_controls = child_elements(sources[0], "line_control");
  ASSERT_EQ(source_controls.size(), 2u);
  EXPECT_EQ(source_controls, select_nodes(sources[0], Pattern::kLineControls));
  // A line without any: nothing, as the pattern's predicate gives.
  EXPECT_TRUE(child_elements(sources[1], "line_control").empty());
  EXPECT_TRUE(select_nodes(sources[1], Pattern::kLineControls).empty());
}

TEST(ChildElementsTest, RootsAndTheirDestinationsAsTheDocumentPatternsSelectThem) {
  // Two root elements (kept in fragment mode) and a processing instruction
  // named like the root: the walk over the roots gives the destinations of
  // every root in document order, as "/audio_mixer[destination]/destination".
  pugi::xml_document document;
  ASSERT_TRUE(document.load_string(
      "<?audio_mixer x?><audio_mixer id=\"0\"><destination component_type=\"1\"/>"
      "<other/><destination component_type=\"2\"/></audio_mixer>"
      "<mixer><destination/></mixer>"
      "<audio_mixer id=\"1\"><destination component_type=\"3\"/></audio_mixer>"
      "<audio_mixer id=\"2\"/>",
      kParseOptions | pugi::parse_fragment));
  std::vector<pugi::xml_node> roots = child_elements(document, "audio_mixer");
  ASSERT_EQ(roots.size(), 3u);
  EXPECT_EQ(roots, select_nodes(document, Pattern::kRoot));

  std::vector<pugi::xml_node> destinations;
  for (pugi::xml_node root : roots) append_child_elements(root, "destination", destinations);
  ASSERT_EQ(destinations.size(), 3u);
  EXPECT_STREQ(destinations[2].attribute("component_type").value(), "3");
  EXPECT_EQ(destinations, select_nodes(document, Pattern::kDestinations));

  // The destination-level controls of every destination, destination by
  // destination, and the items of a control's lists.
  ASSERT_TRUE(document.load_string(
      "<audio_mixer><destination><line_control n=\"1\"><mux_list><item n=\"a\"/><item n=\"b\"/>"
      "</mux_list><mux_list/><mux_list><item n=\"c\"/></mux_list><mixer_list><item/></mixer_list>"
      "</line_control><source><line_control/></source><line_control n=\"2\"/></destination>"
      "<destination><line_control n=\"3\"/></destination></audio_mixer>",
      kParseOptions));
  std::vector<pugi::xml_node> controls;
  for (pugi::xml_node root : child_elements(document, "audio_mixer")) {
    for (pugi::xml_node destination : child_elements(root, "destination")) {
      append_child_elements(destination, "line_control", controls);
    }
  }
  ASSERT_EQ(controls.size(), 3u);
  EXPECT_EQ(controls, select_nodes(document, Pattern::kDestinationLineControls));
  std::vector<pugi::xml_node> items;
  for (pugi::xml_node list : child_elements(controls[0], "mux_list")) {
    append_child_elements(list, "item", items);
  }
  ASSERT_EQ(items.size(), 3u);
  EXPECT_STREQ(items[2].attribute("n").value(), "c");
  EXPECT_EQ(items, select_nodes(controls[0], Pattern::kMuxItems));
}

std::string print(pugi::xml_node node) {
  std::ostringstream out;
  node.print(out, "", pugi::format_raw);
  return out.str();
}

TEST(DomRoutinesTest, AppendedAttributesGoLastAndSetOnesKeepTheirPlace) {
  pugi::xml_document document;
  ASSERT_TRUE(document.load_string("<audio_mixer id=\"0\" destinations=\"0\"/>"));
  pugi::xml_node root = document.document_element();
  EXPECT_TRUE(set_int_attribute(root, "destinations", 3));
  EXPECT_TRUE(append_int_attribute(root, "min", std::numeric_limits<std::int32_t>::min()));
  EXPECT_TRUE(append_int_attribute(root, "max", std::numeric_limits<std::int32_t>::max()));
  EXPECT_TRUE(set_int_attribute(root, "id", -1));
  EXPECT_EQ(print(root),
            "<audio_mixer id=\"-1\" destinations=\"3\" min=\"-2147483648\" max=\"2147483647\"/>");
  pugi::xml_node text = root.append_child(pugi::node_pcdata);
  EXPECT_FALSE(append_int_attribute(text, "ch", 1));
  EXPECT_FALSE(set_int_attribute(text, "ch", 1));
}

TEST(DomRoutinesTest, TextsReplaceTheFirstTextChild) {
  pugi::xml_document document;
  ASSERT_TRUE(document.load_string("<line_control>Old<value>1</value></line_control><value/>"));
  pugi::xml_node control = document.first_child();
  EXPECT_TRUE(set_text(control, "New"));
  EXPECT_EQ(print(control), "<line_control>New<value>1</value></line_control>");
  // Text up to a NUL, as a C string holds it.
  EXPECT_TRUE(set_text(control, std::string_view("Cut\0here", 8)));
  EXPECT_EQ(name_text(control), "Cut");

  pugi::xml_node empty = control.next_sibling();
  EXPECT_TRUE(set_int_text(empty, std::numeric_limits<std::int32_t>::min()));
  EXPECT_EQ(print(empty), "<value>-2147483648</value>");
  EXPECT_TRUE(set_int_text(empty, 65535));
  EXPECT_EQ(print(empty), "<value>65535</value>");
  // An element made without text gets one before its children.
  pugi::xml_node fresh = create_element(document, "source");
  create_element(fresh, "line_control");
  EXPECT_TRUE(set_text(fresh, "Line"));
  EXPECT_EQ(print(fresh), "<source>Line<line_control/></source>");
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
    pugi::xml_node value = create_element(document.document_element(), "value");
    append_int_attribute(value, "ch", i);
    set_text(value, "\"<&>\"");
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
