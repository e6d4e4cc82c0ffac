// The tree dump: one line per node, the attribute values each followed by
// an apostrophe.
#include <gtest/gtest.h>

#include <iostream>

#include <algorithm>

#include "app/console_reporter.h"
#include "docio/dump.h"
#include "platform/document/document_parse.h"
#include "platform/os/console.h"
#include "platform/os/text_encoding.h"
#include "platform/sim/sim_mixer.h"
#include "snapshot/snapshot.h"
#include "support/example_device.h"
#include "support/test_util.h"

namespace quorvel {
namespace {

using testing::CaptureStream;

std::string dump(DocNode node) {
  CaptureStream out(std::cout);
  dump_tree(node, std::cout);
  return out.text();
}

TEST(DumpTreeTest, EmptyDocumentIsOneEmptyLine) {
  Document document;
  EXPECT_EQ(dump(document.root()), "\n");
}

TEST(DumpTreeTest, AttributesInOrderTextNodesOnLinesOfTheirOwn) {
  Document document;
  ASSERT_EQ(parse_document("<audio_mixer id=\"0\" destinations=\"2\">Card<destination a=\"x y\">D"
                           "</destination><empty/></audio_mixer>",
                           document)
                .problem,
            XmlProblem::kNone);
  EXPECT_EQ(dump(document.document_element()), "0'2'\n\nx y'\n\n\n");
  // From the document node: the document's own empty line first.
  EXPECT_EQ(dump(document.root()), "\n0'2'\n\nx y'\n\n\n");
  // Starting below the document does not walk on to the start's siblings.
  EXPECT_EQ(dump(document.document_element().child("destination")), "x y'\n\n");
}

TEST(DumpTreeTest, ControlCharactersAreShownEscaped) {
  Document document;
  // A value that would retitle and recolour a terminal, one with line ends
  // and a tab, DEL and a C1 control (U+009B, CSI), and one with a backslash
  // and characters that are printable.
  DocumentBuilder builder(document);
  ASSERT_TRUE(builder.start_element("a"));
  ASSERT_TRUE(builder.add_attribute("t", "\x1b]0;owned\x07\x1b[31mred"));
  ASSERT_TRUE(builder.add_attribute("l", "one\ntwo\r\tthree"));
  ASSERT_TRUE(builder.add_attribute("c", "del\x7f csi\xC2\x9B nbsp\xC2\xA0"));
  ASSERT_TRUE(builder.add_attribute("k", "a\\b \xC3\xA9\xE2\x82\xAC"));
  ASSERT_TRUE(builder.end_element());
  // What is printable is written in the console's encoding.
  EXPECT_EQ(dump(document.document_element()),
            utf8_to_console("\\x1b]0;owned\\x07\\x1b[31mred'one\\x0atwo\\x0d\\x09three'"
                            "del\\x7f csi\\x9b nbsp\xC2\xA0'a\\b \xC3\xA9\xE2\x82\xAC'\n"));
}

TEST(Printable, BytesThatAreNotUtf8AreEscapedToo) {
  EXPECT_EQ(printable("ok"), "ok");
  EXPECT_EQ(printable(std::string("nul\0", 4)), "nul\\x00");
  // A stray continuation byte, a cut sequence, an over-long "/", a surrogate.
  EXPECT_EQ(printable("\x9b[31m"), "\\x9b[31m");
  EXPECT_EQ(printable("\xE2\x82"), "\\xe2\\x82");
  EXPECT_EQ(printable("\xC0\xAF"), "\\xc0\\xaf");
  EXPECT_EQ(printable("\xED\xA0\x80"), "\\xed\\xa0\\x80");
  EXPECT_EQ(printable("\xF0\x9F\x8E\xA7"), "\xF0\x9F\x8E\xA7");
}

TEST(DumpTreeTest, SavedSnapshotBeginsWithThePrologNodes) {
  auto mixer = testing::example_mixer("soundcard.xml");
  ASSERT_TRUE(mixer);
  std::string saved;
  std::optional<std::string> name;
  ASSERT_TRUE(build_saved_snapshot(saved, *mixer, name, console()));
  Document reloaded;
  ASSERT_EQ(parse_document(saved, reloaded).problem, XmlProblem::kNone);
  std::string text = dump(reloaded.root());
  const std::string expected_start =
      "\n"                                 // the document
      "1.0'UTF-16'\n"                      // the declaration
      "\n\n"                               // the comment, the document type
      "0'2'\n\n"                           // the root and its name
      "-65536'2'6'4'\n\n"                  // the first destination and its name
      "1'1342373889'65535'0'65535'\n\n"    // its first control and its name
      "1'\n\n2'\n\n";                     // its two values and their texts
  EXPECT_EQ(text.rfind(expected_start, 0), 0u)
      << text.substr(0, 200);
  // One line per node.
  std::size_t nodes = 0;
  for (DocNode node = reloaded.root(); node;) {
    ++nodes;
    if (node.first_child()) {
      node = node.first_child();
      continue;
    }
    while (node && !node.next_sibling()) node = node.parent();
    if (node) node = node.next_sibling();
  }
  EXPECT_EQ(static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')), nodes);
}

TEST(DumpTreeTest, MillionLevelsDeep) {
  Document document;
  DocumentBuilder builder(document);
  constexpr int kDepth = 1000000;
  for (int i = 0; i < kDepth; ++i) {
    builder.start("n");
    builder.attribute("d", i % 10);
  }
  for (int i = 0; i < kDepth; ++i) builder.end();
  ASSERT_FALSE(builder.failed());
  std::string text = dump(document.root());
  EXPECT_EQ(text.size(), 1 + static_cast<std::size_t>(kDepth) * 3);
  EXPECT_EQ(text.substr(0, 7), "\n0'\n1'\n");
}

}  // namespace
}  // namespace quorvel
