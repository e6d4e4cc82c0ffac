// Documents the DOM's parser would take but XML does not: each is refused
// with a reason and the line and position of the offending character,
// counted in characters of the source whatever its encoding, and the
// document stays empty.
#include <gtest/gtest.h>

#include <string>

#include "docio/load.h"
#include "support/test_util.h"

namespace quorvel {
namespace {

using namespace std::string_literals;

struct Case {
  const char* what;
  std::string text;  // UTF-8
  std::string reason;
  int line;
  int position;
};

// "é" before the fault: a character of two bytes in UTF-8, one unit in
// UTF-16, counted as one.
const Case kCases[] = {
    {"duplicate attribute", "<a>\n\xC3\xA9<b x='1' x='2'/></a>",
     "An attribute appears twice in the same tag.\n", 2, 11},
    {"undefined entity", "<a>\n\xC3\xA9 &foo; </a>",
     "A reference names an entity that is not defined.\n", 2, 3},
    {"bare ampersand", "<a>\n\xC3\xA9 & b</a>",
     "An \"&\" must begin a reference ending with \";\" (the character itself is written "
     "\"&amp;\").\n", 2, 3},
    {"unfinished reference", "<a x='\xC3\xA9&amp b'/>",
     "An \"&\" must begin a reference ending with \";\" (the character itself is written "
     "\"&amp;\").\n", 1, 8},
    {"< in an attribute value", "<a>\n <b x='\xC3\xA9<'/></a>",
     "A \"<\" cannot stand here (in text and attribute values it is written \"&lt;\").\n", 2,
     9},
    {"control character", "<a>\n\xC3\xA9\x1b[31m</a>",
     "The character U+001B is not allowed in XML.\n", 2, 2},
    {"control character reference", "<a>\n\xC3\xA9&#x1b;</a>",
     "A character reference names a character that XML does not allow.\n", 2, 2},
    {"undeclared namespace prefix", "<a>\n \xC3\xA9<p:b/></a>",
     "A namespace prefix is used without being declared.\n", 2, 3},
    {"XML declaration not at the start", "\n<?xml version=\"1.0\"?><a/>",
     "The XML declaration must come first in the document.\n", 2, 1},
    {"entity declaration", "<!DOCTYPE a [\n<!ENTITY x 'y'>]><a>&x;</a>",
     "The document declares the entity \"x\"; only the entities XML itself defines are "
     "allowed.\n", 2, 1},
    // A DTD that is not read: the references still name nothing.
    {"entity in text, outside DTD", "<!DOCTYPE a SYSTEM 'a.dtd'><a>\n\xC3\xA9 &foo;</a>",
     "The entity \"&foo;\" is not defined.\n", 2, 3},
    {"entity in an attribute, outside DTD",
     "<!DOCTYPE a SYSTEM 'a.dtd'><a>\n <b\n  x='\xC3\xA9&foo;'/></a>",
     "The entity \"&foo;\" is not defined.\n", 3, 7},
    {"entity in an attribute after a '>' in a value, outside DTD",
     "<!DOCTYPE a SYSTEM 'a.dtd'><a>\n <b y=\"a>'\"\n  x='&foo;'/></a>",
     "The entity \"&foo;\" is not defined.\n", 3, 6},
};

class WellFormedTest : public ::testing::TestWithParam<int> {};

TEST_P(WellFormedTest, RefusedWithReasonAndPositionInEveryEncoding) {
  const int encoding = GetParam();
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.what);
    const std::string bytes =
        encoding == 0 ? c.text
                      : testing::utf16_bytes(testing::utf8_to_utf16(c.text), encoding == 2, true);
    InputDocument document;
    Result loaded = load_from_bytes(document, bytes, "doc.xml");
    EXPECT_FALSE(loaded);
    EXPECT_EQ(document.parse_error.reason, c.reason);
    EXPECT_EQ(document.parse_error.line, c.line);
    EXPECT_EQ(document.parse_error.linepos, c.position);
    EXPECT_FALSE(document.dom.first_child()) << "the document must stay empty";
  }
}

std::string encoding_name(const ::testing::TestParamInfo<int>& info) {
  const char* names[] = {"Utf8", "Utf16Le", "Utf16Be"};
  return names[info.param];
}

INSTANTIATE_TEST_SUITE_P(Encodings, WellFormedTest, ::testing::Values(0, 1, 2), encoding_name);

TEST(WellFormed, TextThatIsNotInItsEncodingIsRefused) {
  InputDocument document;
  // A two-byte sequence cut short, after "é".
  Result loaded = load_from_bytes(document, "<a>\n\xC3\xA9\xC3(</a>", "doc.xml");
  EXPECT_FALSE(loaded);
  EXPECT_EQ(document.parse_error.reason, "The text is not valid UTF-8 here.\n");
  EXPECT_EQ(document.parse_error.line, 2);
  EXPECT_EQ(document.parse_error.linepos, 2);
  EXPECT_FALSE(document.dom.first_child());

  // A lone surrogate in UTF-16.
  std::string utf16 = "\xFF\xFE<\0a\0>\0\n\0\xE9\0"s + "\x00\xD8"s + "x\0<\0/\0a\0>\0"s;
  loaded = load_from_bytes(document, utf16, "doc.xml");
  EXPECT_FALSE(loaded);
  EXPECT_EQ(document.parse_error.reason, "The text is not valid UTF-16 here.\n");
  EXPECT_EQ(document.parse_error.line, 2);
  EXPECT_EQ(document.parse_error.linepos, 2);
}

TEST(WellFormed, DocumentsThatAreWellFormedStillLoad) {
  for (const char* text : {
           "<?xml version=\"1.0\" encoding=\"UTF-16\"?><a x='&amp;&lt;&#x41;&#65;'>&gt;&quot;&apos;</a>",
           "<!DOCTYPE a SYSTEM 'a.dtd'><a x='&amp;'>&lt;</a>",
           "<a xmlns:p='urn:x'><p:b p:y='1'/></a>",
           "<!--c--><?pi x?><a>\xC3\xA9\xE2\x82\xAC\xF0\x9F\x8E\xA7\t\r\n</a><!--after-->",
       }) {
    SCOPED_TRACE(text);
    InputDocument document;
    EXPECT_TRUE(testing::succeeded(load_from_bytes(document, text, "doc.xml")));
    EXPECT_TRUE(document.dom.document_element());
  }
}

}  // namespace
}  // namespace quorvel
