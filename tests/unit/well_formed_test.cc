// Documents that are not well-formed XML: each is refused with a reason and
// the line and position of the offending character, counted in characters
// of the source whatever its encoding, and the document stays empty.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "docio/load.h"
#include "platform/sim/sim_device_file.h"
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
    EXPECT_EQ(reported_reason(document), c.reason);
    EXPECT_EQ(document.verdict.error().line, c.line);
    EXPECT_EQ(document.verdict.error().column, c.position);
    EXPECT_TRUE(document.document.empty()) << "the document must stay empty";
  }
}

// Markup that cannot be read is said of the construct it stands in, at the
// character where reading it stops; a construct that runs to the end of
// the text, at its last character.
const Case kMarkupCases[] = {
    {"value without quotes", "<a><b x=1/></a>", "An attribute is malformed.\n", 1, 9},
    {"no space between attributes", "<a><b x=\"1\"y=\"2\"/></a>", "An attribute is malformed.\n",
     1, 12},
    {"attribute without a value", "<a><b x/></a>", "An attribute is malformed.\n", 1, 9},
    {"quoted text for a name", "<a><b \"x\"/></a>", "A start tag is malformed.\n", 1, 7},
    {"a space before >", "<a><b/ ></a>", "A start tag is malformed.\n", 1, 7},
    {"another element's end tag", "<a><b></c></a>",
     "An end tag does not match the start tag, or an element is not closed.\n", 1, 9},
    {"an attribute in an end tag", "<a><b></b x></a>", "An end tag is malformed.\n", 1, 11},
    {"one dash", "<a><!-x--></a>", "A comment is malformed.\n", 1, 7},
    {"a misspelt CDATA", "<a><![CDAT[x]]></a>", "A CDATA section is malformed.\n", 1, 11},
    {"a misspelt DOCTYPE", "<a><!DOCTYPX></a>", "The markup here is not recognised.\n", 1, 6},
    {"a DOCTYPE inside the root", "<a><!DOCTYPE a></a>",
     "The document type declaration is malformed.\n", 1, 4},
    {"the XML declaration inside the root", "<a><?xml version=\"1.0\"?></a>",
     "The XML declaration or a processing instruction is malformed.\n", 1, 9},
    {"a < and a space", "<a>< b</a>", "The markup here is not recognised.\n", 1, 5},
    {"a malformed declaration", "<?xml version=\"1.0\" =ncoding=\"UTF-8\"?><a/>",
     "A start tag is malformed.\n", 1, 21},
    {"a declaration's value running on",
     "<?xml version=\"1.0\" encoding=\"UTF-8?>\n<!DOCTYPE a SYSTEM \"a.dtd\">\n<a/>",
     "An attribute is malformed.\n", 2, 21},
    {"a < in a DOCTYPE", "<!DOCTYPE a <SYSTEM \"a.dtd\"><a/>",
     "The document type declaration is malformed.\n", 1, 13},
    {"an element not closed", "<a><b>text",
     "An end tag does not match the start tag, or an element is not closed.\n", 1, 10},
    {"a comment not closed", "<a><!-- x", "A comment is malformed.\n", 1, 8},
    {"an end tag cut short", "<a></a", "An end tag is malformed.\n", 1, 6},
};

TEST(WellFormed, MalformedMarkupIsSaidOfItsConstruct) {
  for (const Case& c : kMarkupCases) {
    SCOPED_TRACE(c.what);
    InputDocument document;
    EXPECT_FALSE(load_from_bytes(document, c.text, "doc.xml"));
    EXPECT_EQ(reported_reason(document), c.reason);
    EXPECT_EQ(document.verdict.error().line, c.line);
    EXPECT_EQ(document.verdict.error().column, c.position);
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
  EXPECT_EQ(reported_reason(document), "The text is not valid UTF-8 here.\n");
  EXPECT_EQ(document.verdict.error().line, 2);
  EXPECT_EQ(document.verdict.error().column, 2);
  EXPECT_TRUE(document.document.empty());

  // A lone surrogate in UTF-16.
  std::string utf16 = "\xFF\xFE<\0a\0>\0\n\0\xE9\0"s + "\x00\xD8"s + "x\0<\0/\0a\0>\0"s;
  loaded = load_from_bytes(document, utf16, "doc.xml");
  EXPECT_FALSE(loaded);
  EXPECT_EQ(reported_reason(document), "The text is not valid UTF-16 here.\n");
  EXPECT_EQ(document.verdict.error().line, 2);
  EXPECT_EQ(document.verdict.error().column, 2);
}

// UTF-8 text as UTF-32 units, with a byte order mark when `bom`.
std::string utf32_bytes(const std::string& text, bool big_endian, bool bom) {
  std::string bytes;
  auto put = [&](char32_t code) {
    for (int i = 0; i < 4; ++i) {
      const int shift = big_endian ? 8 * (3 - i) : 8 * i;
      bytes += static_cast<char>((code >> shift) & 0xFF);
    }
  };
  if (bom) put(0xFEFF);
  for (char16_t unit : testing::utf8_to_utf16(text)) put(unit);  // no pairs in these texts
  return bytes;
}

std::string decl(const char* encoding) {
  return std::string("<?xml version=\"1.0\" encoding=\"") + encoding + "\"?>\n<a/>";
}

std::string utf16(const std::string& text, bool big_endian, bool bom) {
  return testing::utf16_bytes(testing::utf8_to_utf16(text), big_endian, bom);
}

// What the source is written in against what it declares, and what no
// document is, refused before any markup is read, where Expat (or, for
// UTF-32, which it does not read, the same rules) finds it: at the declared
// name, at the end, at the character.
TEST(WellFormed, SourcesThatAreNotWhatTheyDeclareAreRefusedWhereExpatSays) {
  const std::string kDeclared = "\", but it is written in ";
  const std::string kUnknown =
      "\", which is not read here (UTF-8, UTF-16, UTF-32, ISO-8859-1 and US-ASCII are).\n";
  const struct {
    const char* what;
    std::string bytes;
    std::string reason;
    int line;
    int position;
  } cases[] = {
      {"UTF-8 mark, UTF-16 declared", "\xEF\xBB\xBF" + decl("UTF-16"),
       "The document declares the encoding \"UTF-16" + kDeclared + "UTF-8, by its byte order mark.\n", 1, 31},
      {"UTF-16 mark, UTF-8 declared", utf16(decl("UTF-8"), false, true),
       "The document declares the encoding \"UTF-8" + kDeclared +
           "UTF-16, little-endian, by its byte order mark.\n", 1, 31},
      {"big-endian mark, little-endian declared", utf16(decl("utf-16le"), true, true),
       "The document declares the encoding \"utf-16le" + kDeclared +
           "UTF-16, big-endian, by its byte order mark.\n", 1, 31},
      {"UTF-16 without a mark, UTF-8 declared", utf16(decl("UTF-8"), false, false),
       "The document declares the encoding \"UTF-8" + kDeclared + "UTF-16, little-endian.\n", 1, 31},
      {"8-bit text, UTF-16 declared", decl("UTF-16"),
       "The document declares the encoding \"UTF-16" + kDeclared + "8-bit text.\n", 1, 31},
      {"8-bit text, UTF-32 declared", decl("UTF-32"),
       "The document declares the encoding \"UTF-32" + kDeclared + "8-bit text.\n", 1, 31},
      {"UTF-32, UTF-8 declared", utf32_bytes(decl("UTF-8"), false, true),
       "The document declares the encoding \"UTF-8" + kDeclared +
           "UTF-32, little-endian, by its byte order mark.\n", 1, 31},
      {"EBCDIC declared", decl("IBM037"), "The document declares the encoding \"IBM037" + kUnknown, 1, 31},
      {"code page declared in UTF-16", utf16(decl("windows-1252"), true, true),
       "The document declares the encoding \"windows-1252" + kUnknown, 1, 31},
      {"US-ASCII over a byte beyond it", "<?xml version='1.0' encoding='US-ASCII'?>\n<a>\xC3\xA9</a>",
       "The text is not valid US-ASCII here.\n", 2, 4},
      {"odd-length UTF-16", utf16("<a/>\n", false, true) + "<",
       "The document ends in the middle of a character (UTF-16 text is a whole number of 2-byte units).\n", 2, 1},
      {"UTF-32 cut short", utf32_bytes("<a/>", true, false) + std::string("\0\0", 2),
       "The document ends in the middle of a character (UTF-32 text is a whole number of 4-byte units).\n", 1, 5},
      {"gzip", std::string("\x1F\x8B\x08\x00\x00\x00\x00\x00", 8),
       "The document is compressed (gzip); only uncompressed XML is read.\n", 1, 1},
      {"a NUL first", std::string("\0<?xml version='1.0'?>\n<a/>", 26),
       "The character U+0000 is not allowed in XML.\n", 1, 1},
      {"a NUL in the text", std::string("<a>\n\xC3\xA9\0</a>", 10),
       "The character U+0000 is not allowed in XML.\n", 2, 2},
      {"a NUL in UTF-16 text", utf16(std::string("<a>\n\xC3\xA9\0</a>", 10), true, false),
       "The character U+0000 is not allowed in XML.\n", 2, 2},
      {"a UTF-8 byte order mark alone", "\xEF\xBB\xBF", "The document has no root element.\n", 1, 1},
      {"a UTF-16 byte order mark alone", "\xFF\xFE", "The document has no root element.\n", 1, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    InputDocument document;
    Result loaded = load_from_bytes(document, c.bytes, "doc.xml");
    EXPECT_FALSE(loaded);
    EXPECT_EQ(reported_reason(document), c.reason);
    EXPECT_EQ(document.verdict.error().line, c.line);
    EXPECT_EQ(document.verdict.error().column, c.position);
    EXPECT_TRUE(document.document.empty());
  }
}

// Running out of memory is not a fault of the document: said as such, with
// no position, for a document and for a device file alike.
TEST(WellFormed, NoMemoryToParseIsToldApartFromAMalformedDocument) {
  if (!testing::RefuseAllocations::works()) GTEST_SKIP() << "allocations cannot be refused here";
  const std::string text = "<audio_mixer id=\"0\">" +
                           std::string(2 * testing::RefuseAllocations::kRefusedBytes, 'x') +
                           "</audio_mixer>";
  InputDocument document;
  SimDevice device;
  Result loaded;
  Result device_loaded;
  {
    testing::RefuseAllocations refusing;
    loaded = load_from_bytes(document, text, "doc.xml");
    device_loaded = load_sim_device_bytes(text, "\"device.xml\"", device);
  }
  EXPECT_FALSE(loaded);
  EXPECT_EQ(reported_reason(document), "Not enough memory to load the document.\n");
  EXPECT_EQ(document.verdict.error().line, 0);
  EXPECT_EQ(device_loaded.message(), "not enough memory to load the device file \"device.xml\"");
}

TEST(WellFormed, DocumentsThatAreWellFormedStillLoad) {
  int number = 0;
  for (const std::string& text : std::vector<std::string>{
           // Declarations that fit what the bytes are, as Expat takes them
           // (an 8-bit name over a UTF-8 byte order mark too).
           decl("UTF-8"), decl("us-ascii"), decl("ISO-8859-1"), "\xEF\xBB\xBF" + decl("ISO-8859-1"),
           utf16(decl("UTF-16"), true, true), utf16(decl("UTF-16LE"), false, true),
           utf16(decl("UTF-16"), false, false), utf32_bytes(decl("UTF-32"), true, true),
           utf32_bytes(decl("utf-32le"), false, false),
           // A name that starts "<" and a zero byte (UTF-16 without a mark).
           utf16("<\xE4\xB8\xAD/>", true, false),
           std::string("<?xml version=\"1.0\" encoding=\"UTF-8\"?><a x='&amp;&lt;&#x41;&#65;'>&gt;&quot;&apos;</a>"),
           "<!DOCTYPE a SYSTEM 'a.dtd'><a x='&amp;'>&lt;</a>",
           "<a xmlns:p='urn:x'><p:b p:y='1'/></a>",
           std::string("<!--c--><?pi x?><a>\xC3\xA9\xE2\x82\xAC\xF0\x9F\x8E\xA7\t\r\n</a><!--after-->"),
       }) {
    SCOPED_TRACE("document " + std::to_string(number++));
    InputDocument document;
    EXPECT_TRUE(testing::succeeded(load_from_bytes(document, text, "doc.xml")));
    EXPECT_TRUE(document.document.document_element());
  }
}

}  // namespace
}  // namespace quorvel
