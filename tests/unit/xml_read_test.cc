// The one pass of the parser: the nodes it hands over, as they stand in
// the document, whatever its encoding.
#include "platform/xml/xml_read.h"

#include <gtest/gtest.h>

#include <string>

#include "support/test_util.h"

namespace quorvel {
namespace {

// The node stream as text, one line per node.
class Describer : public XmlNodeHandler {
 public:
  std::string out;
  bool declaration(const char* version, const char* encoding, int standalone) override {
    out += "decl " + std::string(version) + " " + (encoding ? encoding : "-") + " " +
           std::to_string(standalone) + "\n";
    return true;
  }
  bool doctype(std::string_view value) override {
    out += "doctype [" + std::string(value) + "]\n";
    return true;
  }
  bool start_element(const char* name, const char** attributes) override {
    out += "<" + std::string(name);
    for (const char** a = attributes; *a != nullptr; a += 2) {
      out += " " + std::string(a[0]) + "=[" + a[1] + "]";
    }
    out += "\n";
    return true;
  }
  bool end_element() override {
    out += ">\n";
    return true;
  }
  bool text(std::string_view value, bool cdata) override {
    out += (cdata ? "cdata [" : "text [") + std::string(value) + "]\n";
    return true;
  }
  bool comment(const char* value) override {
    out += "comment [" + std::string(value) + "]\n";
    return true;
  }
  bool processing_instruction(const char* target, const char* value) override {
    out += "pi " + std::string(target) + " [" + value + "]\n";
    return true;
  }
};

struct NodesCase {
  const char* what;
  std::string text;   // UTF-8
  std::string nodes;  // as Describer writes them
};

const NodesCase kNodeCases[] = {
    {"declaration, comments and instructions around the root",
     "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone='yes'?>\n<!-- c -->\n<?pi  a b ?>"
     "<r/>\n<!--after-->",
     "decl 1.0 UTF-8 1\ncomment [ c ]\npi pi [a b ]\n<r\n>\ncomment [after]\n"},
    {"text runs split by markup, references and white space",
     "<r>\n\t<a>x &amp; y&#x41;</a>\n\t<b> </b><c>&#32;</c><d>\n&lt;\n</d>a<!--c-->b</r>",
     "<r\n<a\ntext [x & yA]\n>\n<b\n>\n<c\ntext [ ]\n>\n<d\ntext [\n<\n]\n>\ntext [a]\n"
     "comment [c]\ntext [b]\n>\n"},
    {"CDATA, empty or white space", "<r><![CDATA[]]><![CDATA[ ]]> <![CDATA[<x>]]>t</r>",
     "<r\ncdata []\ncdata [ ]\ncdata [<x>]\ntext [t]\n>\n"},
    {"attributes: order, references, white space made spaces",
     "<r b='2' a=\"&quot;1&apos;\" c='x\ty\nz\r\nw&#10;'/>",
     "<r b=[2] a=[\"1'] c=[x y z w\n]\n>\n"},
    {"CR LF and CR in text, comments and instructions", "<r>a\r\nb\rc<!--x\r\ny--><?p a\rb?></r>",
     "<r\ntext [a\nb\nc]\ncomment [x\ny]\npi p [a\nb]\n>\n"},
    {"white space from a reference next to a line end", "<r>\r\n&#9;</r>", "<r\ntext [\n\t]\n>\n"},
    {"names beyond ASCII", "<r\xC3\xA9 \xC3\xA9='\xE2\x82\xAC'>\xF0\x9F\x8E\xB5</r\xC3\xA9>",
     "<r\xC3\xA9 \xC3\xA9=[\xE2\x82\xAC]\ntext [\xF0\x9F\x8E\xB5]\n>\n"},
    {"a document type declaration naming a DTD, as saved documents have",
     "<?xml version=\"1.0\"?>\n<!DOCTYPE r SYSTEM \"r.dtd\">\n<r a='&amp;'>&lt;</r>",
     "decl 1.0 - -1\ndoctype [r SYSTEM \"r.dtd\"]\n<r a=[&]\ntext [<]\n>\n"},
    {"one with a public identifier", "<!DOCTYPE  r\tPUBLIC 'p' \"s>\" ><r/>",
     "doctype [r\tPUBLIC 'p' \"s>\" ]\n<r\n>\n"},
    // Its declarations are not applied: no attribute is added.
    {"one with an internal subset", "<!DOCTYPE r [<!ATTLIST r a CDATA 'd'>]><r/>",
     "doctype [r [<!ATTLIST r a CDATA 'd'>]]\n<r\n>\n"},
    {"namespace declarations where they are written",
     "<r xmlns='u' a='1' xmlns:p='v'><p:a p:b='1' xmlns:q='w'/></r>",
     "<r xmlns=[u] a=[1] xmlns:p=[v]\n<p:a p:b=[1] xmlns:q=[w]\n>\n>\n"},
    {"the xml prefix", "<r xml:lang='en'/>", "<r xml:lang=[en]\n>\n"},
    {"a declared ISO-8859-1", "<?xml version='1.0' encoding='iso-8859-1'?><r>\xE9</r>",
     "decl 1.0 iso-8859-1 -1\n<r\ntext [\xC3\xA9]\n>\n"},
};

TEST(XmlOnePass, HandsOverTheNodesAsTheDocumentHasThem) {
  for (const NodesCase& c : kNodeCases) {
    for (const bool wide : {false, true}) {
      SCOPED_TRACE(std::string(c.what) + (wide ? " (UTF-16)" : " (UTF-8)"));
      // A declared 8-bit encoding cannot be read from UTF-16.
      if (wide && c.text.find("encoding=") != std::string::npos) continue;
      const std::string bytes =
          wide ? testing::utf16_bytes(testing::utf8_to_utf16(c.text), false, true) : c.text;
      Describer described;
      EXPECT_TRUE(read_xml_nodes(bytes, detect_xml_encoding(bytes), described));
      EXPECT_EQ(described.out, c.nodes);
    }
  }
}

// Refused documents stop the pass; so does a handler that stops.
TEST(XmlOnePass, StopsAtWhatItMustNotRead) {
  for (const char* text : {"<r>&foo;</r>", "<!DOCTYPE r [<!ENTITY e 'x'>]><r>&e;</r>",
                           "<!DOCTYPE r SYSTEM 'r.dtd'><r a='&e;'/>", "<r><a></r>"}) {
    SCOPED_TRACE(text);
    Describer described;
    EXPECT_FALSE(read_xml_nodes(text, XmlEncoding::kUtf8, described));
    EXPECT_EQ(described.out.find("text [x]"), std::string::npos) << "no entity is expanded";
  }
  struct Stopping : Describer {
    bool start_element(const char*, const char**) override { return false; }
  } stopping;
  EXPECT_FALSE(read_xml_nodes("<r/>", XmlEncoding::kUtf8, stopping));
}

TEST(XmlEncodingTest, IsToldFromTheFirstBytes) {
  using namespace std::string_literals;
  const struct {
    std::string head;
    XmlEncoding encoding;
  } cases[] = {
      {"<a/>", XmlEncoding::kUtf8},
      {"\xEF\xBB\xBF<a/>", XmlEncoding::kUtf8},
      {"\xFF\xFE<\0a\0"s, XmlEncoding::kUtf16Le},
      {"\xFE\xFF\0<\0a"s, XmlEncoding::kUtf16Be},
      {" \0<\0"s, XmlEncoding::kUtf16Le},
      {"\0 \0<"s, XmlEncoding::kUtf16Be},
      {"<\0a\0"s, XmlEncoding::kUtf16Le},
      {"\0\0\0<"s, XmlEncoding::kUtf32Be},
      {"\xFF\xFE\0\0<\0\0\0"s, XmlEncoding::kUtf32Le},
      {"<?xml version='1.0' encoding='ISO-8859-1'?>", XmlEncoding::kLatin1},
      {"<?xml version='1.0' encoding=\"Latin1\"?>", XmlEncoding::kLatin1},
      {"<?xml version='1.0' encoding='windows-1252'?>", XmlEncoding::kUtf8},
      {"<a", XmlEncoding::kUtf8},
  };
  int number = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE("head " + std::to_string(number++));
    EXPECT_EQ(detect_xml_encoding(c.head), c.encoding);
  }
}

}  // namespace
}  // namespace quorvel
