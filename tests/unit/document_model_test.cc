// The document model: what a parse puts in it, walking it, changing it, and
// the writer's document in it against the same document saved and read.
#include "platform/document/document_model.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/document/document_format.h"
#include "platform/document/document_parse.h"
#include "platform/document/document_writer.h"
#include "platform/document/saved_writer.h"
#include "support/test_util.h"

namespace quorvel {
namespace {

using testing::listing;

Document parsed(const std::string& text) {
  Document document;
  const Result parsed = parse_document(text, document);
  EXPECT_EQ(parsed.message(), "");
  return document;
}

TEST(DocumentModelTest, HoldsEveryNodeAndAttributeInDocumentOrder) {
  Document document = parsed(
      "<?xml version=\"1.0\" standalone=\"no\"?><!--c--><!DOCTYPE r SYSTEM \"r.dtd\">"
      "<r a=\"1\" b=\"&amp;\"><?p v?>Name<x/><![CDATA[ ]]><x k=\"2\">t</x></r>");
  EXPECT_EQ(listing(document.root()),
            "6  [] version=1.0 standalone=no\n"
            "4  [c]\n"
            "7  [r SYSTEM \"r.dtd\"]\n"
            "1 r [] a=1 b=&\n"
            " 5 p [v]\n"
            " 2  [Name]\n"
            " 1 x []\n"
            " 3  [ ]\n"
            " 1 x [] k=2\n"
            "  2  [t]\n");
  const DocNode root = document.document_element();
  ASSERT_TRUE(root.is("r"));
  EXPECT_EQ(root.attribute_value("b"), "&");
  EXPECT_FALSE(root.attribute("missing"));
  EXPECT_EQ(root.attribute_value("missing"), "");
  EXPECT_EQ(root.text(), "") << "the first child is an instruction, not text";
  EXPECT_EQ(root.children("x").size(), 2u);
  EXPECT_EQ(root.child("x").attribute_count(), 0u);
  EXPECT_EQ(root.children("x")[1].text(), "t");
  EXPECT_FALSE(root.child("nothing"));
  EXPECT_EQ(root.child("x").parent(), root);
}

TEST(DocumentModelTest, RemovedNodesLeaveTheirSiblingsLinked) {
  const struct {
    const char* what;
    int removed;  // which of the four children
    const char* left;
  } cases[] = {
      {"the first", 0, "bcd"}, {"a middle one", 1, "acd"}, {"the last", 3, "abc"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Document document = parsed("<r><i n='a'/><i n='b'><j/></i><i n='c'/><i n='d'/></r>");
    DocNode root = document.document_element();
    document.remove(root.children("i")[static_cast<std::size_t>(c.removed)]);
    std::string left;
    for (DocNode i : root.children("i")) left += std::string(i.attribute_value("n"));
    EXPECT_EQ(left, c.left);
  }
  Document document = parsed("<r><i/></r>");
  document.remove(document.document_element().child("i"));
  EXPECT_FALSE(document.document_element().first_child());
}

TEST(DocumentModelTest, AttributesAreSetAddedAndTakenAway) {
  Document document = parsed("<r><a x='1' y='2'/><b/></r>");
  DocNode a = document.document_element().child("a");
  DocNode b = document.document_element().child("b");
  document.set_attribute(a, "x", "10");
  document.set_attribute(a, "z", "3");  // its run moves to the end, b's stays
  document.set_attribute(b, "y", "4");
  document.set_attribute(a, "y", std::nullopt);
  document.set_attribute(a, "absent", std::nullopt);
  EXPECT_EQ(listing(document.root()), "1 r []\n 1 a [] x=10 z=3\n 1 b [] y=4\n");
}

// Nodes, attributes and texts past the ends of the blocks they are kept in:
// many of each, a text longer than a block, texts that do not fit what is
// left of one.
TEST(DocumentModelTest, LargeDocumentsReadBackWhole) {
  const std::string long_value(300 * 1024, 'v');
  std::string text = "<r big='" + long_value + "'>";
  for (int i = 0; i < 40000; ++i) {
    text += "<i n='" + std::to_string(i) + "'>" + std::string(static_cast<std::size_t>(i % 97), 't') +
            "x</i>";
  }
  text += "</r>";
  Document document = parsed(text);
  const DocNode root = document.document_element();
  EXPECT_EQ(root.attribute_value("big"), long_value);
  int i = 0;
  for (const DocNode item : root.children("i")) {
    ASSERT_EQ(item.attribute_value("n"), std::to_string(i));
    ASSERT_EQ(item.text(), std::string(static_cast<std::size_t>(i % 97), 't') + "x");
    ++i;
  }
  EXPECT_EQ(i, 40000);
  EXPECT_EQ(document.size(), 1u + 1u + 2u * 40000u);
}

// The snapshot a restore pairs with is the writer's model; a document saved
// by the same writer and read again must be the same model.
TEST(DocumentModelTest, WrittenModelIsWhatTheSavedFormReadsAs) {
  auto write = [](DocumentSink& sink) {
    start_mixer_document(sink, "Card <1> & \"2\"", 1);
    start_destination(sink, {.name = "Speakers", .line_id = 4294901760u, .channels = 2,
                             .connections = 1, .component_type = 4, .server_name = "out.1",
                             .product_id = {}});
    start_line_control(sink, {.name = " ", .id = 1, .type = 0x50030001, .steps = 0, .max = 1});
    write_value(sink, 1, 1, "FL");
    write_value(sink, 2, -7);
    sink.end();
    start_source(sink, {.name = "Mic", .src_id = 0, .channels = 1, .line_type = 0x1003,
                        .server_name = {}, .product_id = {}});
    start_line_control(sink, {.name = "Select", .id = 2, .type = 0x70010001});
    start_list(sink, doc::kMuxList);
    write_item(sink, "A", 1);
    write_item(sink, "", 0);
    sink.end();
    sink.end();
    sink.end();
    sink.end();
    end_mixer_document(sink);
  };
  Document built;
  DocumentBuilder builder(built);
  write(builder);
  ASSERT_FALSE(builder.failed());
  std::string saved;
  SavedDocumentWriter writer(saved);
  write(writer);
  Document read;
  ASSERT_EQ(parse_document(saved, read).message(), "");
  EXPECT_EQ(listing(built.root()), listing(read.root()));
  EXPECT_EQ(built.document_element().attribute_value(doc::kDestinations), "1");
}

}  // namespace
}  // namespace quorvel
