// The tree dump: one line per node, the attribute values each followed by
// an apostrophe.
#include <gtest/gtest.h>

#include <iostream>
#include <sstream>

#include <algorithm>

#include "app/console_reporter.h"
#include "docio/dump.h"
#include "docio/listing.h"
#include "platform/document/control_kind.h"
#include "platform/mixer/control_types.h"
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
                .message(),
            "");
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
  ASSERT_EQ(parse_document(saved, reloaded).message(), "");
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


// The listing a reader gets of a document: one case per kind of line and
// control, from the document's markup to the lines listed.
struct ListingCase {
  const char* name;
  const char* markup;  // inside <audio_mixer id="0">Card ... </audio_mixer>
  const char* listed;  // after "Mixer "Card"\n"
};

class ListingTest : public ::testing::TestWithParam<ListingCase> {};

TEST_P(ListingTest, ListsWhatEachControlHoldsAsAReaderTakesIt) {
  Document document;
  ASSERT_EQ(parse_document(std::string("<audio_mixer id=\"0\">Card") + GetParam().markup +
                               "</audio_mixer>",
                           document)
                .message(),
            "");
  std::ostringstream out;
  list_document(document, out);
  EXPECT_EQ(out.str(), std::string("Mixer \"Card\"\n") + GetParam().listed);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ListingTest,
    ::testing::Values(
        ListingCase{"card_volume_switch_and_meter",
                    R"(<destination channels="2">Speakers<line_control ctrl_type="1342373889" min="0" max="65535">Master<value ch="1">45875</value><value ch="2">0</value></line_control>)"
                    R"(<line_control ctrl_type="536936450">Mute<value>1</value></line_control>)"
                    R"(<line_control ctrl_type="268566529">Peak<value>7</value></line_control>)"
                    R"(<line_control ctrl_type="0">Custom</line_control>)"
                    R"(<source channels="1">Mic<line_control ctrl_type="1073872897">Pan<value ch="1">-8192</value></line_control></source></destination>)",
                    "\nDestination \"Speakers\": 2 channels\n"
                    "  \"Master\": ch 1 45875 (70%), ch 2 0 (0%)\n"
                    "  \"Mute\": on\n"
                    "  \"Peak\": 7 (a meter)\n"
                    "  \"Custom\": (no value)\n"
                    "\nSource \"Speakers\" / \"Mic\": 1 channel\n"
                    "  \"Pan\": -8192\n"},
        ListingCase{"lists_with_the_selected_items_marked",
                    R"(<destination channels="2">Rec<line_control ctrl_type="1879113729">Source<mux_list><item selected="0">CD</item><item selected="1">Mic</item></mux_list></line_control>)"
                    R"(<line_control ctrl_type="1895890945">Mix<mixer_list><item selected="1">A</item><item selected="1">B</item></mixer_list></line_control></destination>)",
                    "\nDestination \"Rec\": 2 channels\n"
                    "  \"Source\": one of\n"
                    "      \"CD\"\n"
                    "    * \"Mic\"\n"
                    "  \"Mix\": any of\n"
                    "    * \"A\"\n"
                    "    * \"B\"\n"},
        // A sound server's volume over 100 % is over 65535; it knows the dB.
        ListingCase{"server_line_by_speaker_with_decibels",
                    R"(<destination channels="2" server_name="sink.one">Out<line_control ctrl_type="1342373889">Volume<value ch="1" position="front-left">100268</value><value ch="2" position="front-right">0</value></line_control></destination>)",
                    "\nDestination \"Out\" (sink.one): 2 channels\n"
                    "  \"Volume\": front-left 100268 (153%, 11.08 dB), front-right 0 (0%, -inf dB)\n"},
        ListingCase{"application_muted_on_a_device",
                    R"(<application key="sink-input-by-application-name:Music" channels="1" mute="1" server_name="sink.one">Music<value ch="1" position="mono">65535</value></application>)",
                    "\nApplication \"Music\" (sink-input-by-application-name:Music) on \"sink.one\": "
                    "1 channel, muted\n"
                    "  volume: mono 65535 (100%, 0.00 dB)\n"},
        // What is not a number is shown as written; unknown elements are
        // passed over; names are made printable.
        ListingCase{"hand_edited_values_and_names",
                    "<destination channels=\"1\">Odd&#9;Name<line_control ctrl_type=\"1342373889\">V<value>loud</value></line_control><unknown/></destination>",
                    "\nDestination \"Odd\\x09Name\": 1 channel\n"
                    "  \"V\": loud\n"}),
    [](const ::testing::TestParamInfo<ListingCase>& info) { return std::string(info.param.name); });

// Percent and dB as previews and listings show them.
TEST(VolumeTextTest, PercentOfTheDocumentsScaleAndTheServersDecibels) {
  EXPECT_EQ(value_with_percent(ctrl::kVolume, 1000), "1000 (2%)");
  EXPECT_EQ(value_with_percent(ctrl::kFader, 65535), "65535 (100%)");
  EXPECT_EQ(value_with_percent(ctrl::kMute, 1), "1");
  EXPECT_EQ(value_with_percent(ctrl::kBass, 32768), "32768");
  EXPECT_EQ(server_volume_decibels(65535), "0.00 dB");
  EXPECT_EQ(server_volume_decibels(65534), "0.00 dB");
  EXPECT_EQ(server_volume_decibels(32768), "-18.06 dB");
  EXPECT_EQ(server_volume_decibels(0), "-inf dB");
}

}  // namespace
}  // namespace quorvel
