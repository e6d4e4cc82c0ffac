// The one pass of the conforming parser that builds the simulated device:
// it must give the nodes the DOM's own parser makes, or hand the file back
// to the path that parses it with both parsers into a tree.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/sim/sim_device_file.h"
#include "platform/xml/well_formed.h"
#include "platform/xml/xml_dom.h"
#include "platform/xml/xml_parse.h"
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

std::string utf16le(const std::string& utf8) {
  return testing::utf16_bytes(testing::utf8_to_utf16(utf8), false, true);
}

// What the DOM's parser makes of `bytes`, as a node stream.
std::string dom_nodes(const std::string& bytes) {
  pugi::xml_document dom;
  EXPECT_TRUE(dom.load_buffer(bytes.data(), bytes.size(), kParseOptions | pugi::parse_fragment));
  Describer described;
  EXPECT_TRUE(walk_xml_nodes(dom, described));
  return described.out;
}

struct Document {
  const char* what;
  std::string text;  // UTF-8
  bool one_pass;     // the one pass takes it (else both parsers read it)
};

const Document kDocuments[] = {
    {"declaration, comments and instructions around the root",
     "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone='yes'?>\n<!-- c -->\n<?pi  a b ?>"
     "<r/>\n<!--after-->",
     true},
    {"text runs split by markup, references and white space",
     "<r>\n\t<a>x &amp; y&#x41;</a>\n\t<b> </b><c>&#32;</c><d>\n&lt;\n</d>a<!--c-->b</r>", true},
    {"CDATA, empty or white space", "<r><![CDATA[]]><![CDATA[ ]]> <![CDATA[<x>]]>t</r>", true},
    {"attributes: order, references, white space made spaces",
     "<r b='2' a=\"&quot;1&apos;\" c='x\ty\nz\r\nw&#10;'/>", true},
    {"CR LF and CR in text and comments", "<r>a\r\nb\rc<!--x\r\ny--></r>", true},
    {"white space from a reference next to a line end", "<r>\r\n&#9;</r>", true},
    {"names beyond ASCII", "<r\xC3\xA9 \xC3\xA9='\xE2\x82\xAC'>\xF0\x9F\x8E\xB5</r\xC3\xA9>", true},
    {"a document type declaration naming a DTD, as saved documents have",
     "<?xml version=\"1.0\"?>\n<!DOCTYPE r SYSTEM \"r.dtd\">\n<r a='&amp;'>&lt;</r>", true},
    {"one with a public identifier", "<!DOCTYPE  r\tPUBLIC 'p' \"s>\" ><r/>", true},
    {"one with an internal subset", "<!DOCTYPE r [<!ATTLIST r a CDATA 'd'>]><r/>", false},
    {"namespace declarations", "<r xmlns='u' xmlns:p='v'><p:a p:b='1'/></r>", false},
    {"the xml prefix", "<r xml:lang='en'/>", false},
    {"a CR in an instruction", "<r><?p a\rb?></r>", false},
    {"a declared ISO-8859-1", "<?xml version='1.0' encoding='iso-8859-1'?><r>\xE9</r>", false},
};

TEST(XmlOnePass, GivesTheNodesTheDomParserMakes) {
  for (const Document& document : kDocuments) {
    for (const bool wide : {false, true}) {
      SCOPED_TRACE(std::string(document.what) + (wide ? " (UTF-16)" : " (UTF-8)"));
      // A declared 8-bit encoding cannot be read from UTF-16.
      if (wide && document.text.find("encoding=") != std::string::npos) continue;
      const std::string bytes = wide ? utf16le(document.text) : document.text;
      const std::string expected = dom_nodes(bytes);

      Describer one_pass;
      const std::optional<pugi::xml_encoding> encoding = certain_xml_encoding(bytes);
      ASSERT_TRUE(encoding.has_value());
      EXPECT_EQ(read_xml_nodes(bytes, *encoding, one_pass), document.one_pass);
      if (document.one_pass) {
        EXPECT_EQ(one_pass.out, expected);
      }
    }
  }
}

// Read in one pass while its file is read, or from the DOM's tree, a
// device is the same; so is its refusal.
TEST(XmlOnePass, DevicesReadAsTheirTreesRead) {
  const std::vector<std::string> devices = {
      // Names: CR made LF, CDATA, a comment first (no name), white space
      // dropped before the text.
      "<audio_mixer>Card\r\nA<destination channels='2'><!--x-->Out"
      "<line_control ctrlid='3' ctrltype='536936449' min='0' max='65535' steps='5'>\n"
      "  <![CDATA[Vol\r]]><value position='FL'>7</value><value position='FR'><!--c-->9</value>"
      "<value>11</value></line_control></destination></audio_mixer>",
      // Positions from the first control that gives one per channel; a
      // source between controls; elements out of place passed over.
      "<audio_mixer>D<destination channels='2' server_name='s'>Out"
      "<line_control ctrlid='1'>A<value>1</value><value position='FR'>2</value></line_control>"
      "<source channels='1' line_type='4099'>Mic<line_control ctrlid='2'>B<value "
      "position='MONO'>3</value></line_control></source>"
      "<line_control ctrlid='4'>C<value position='L'>5</value><value position='R'>6</value>"
      "<destination><line_control/></destination></line_control>"
      "<value>9</value></destination><source/></audio_mixer>",
      // Lists: the first list counts, its items only.
      "<audio_mixer>D<destination channels='1'>Out<line_control ctrlid='5' "
      "ctrltype='1879113729'>Sel<other><item>no</item></other>"
      "<mux_list><item selected='1'>One</item><x/><item>Two</item></mux_list>"
      "<mixer_list><item>Three</item></mixer_list></line_control>"
      "<line_control ctrlid='6' ctrltype='1879113729'>Empty</line_control>"
      "</destination></audio_mixer>",
      // Refusals.
      "<mixer/>",
      "<audio_mixer><destination channels='65'/></audio_mixer>",
  };
  for (const std::string& text : devices) {
    SCOPED_TRACE(text);
    for (const std::string& bytes : {text, utf16le(text)}) {
      SimDevice read;
      const Result one_pass = load_sim_device_bytes(bytes, "f", read);
      pugi::xml_document dom;
      ASSERT_EQ(parse_xml_document(dom, bytes).problem, XmlProblem::kNone);
      SimDevice from_tree;
      const Result tree = load_sim_device(dom, from_tree);
      EXPECT_EQ(static_cast<bool>(one_pass), static_cast<bool>(tree));
      if (one_pass && tree) {
        EXPECT_EQ(read, from_tree);
      } else {
        EXPECT_EQ(one_pass.message(), "f is not a valid device: " + tree.message());
      }
    }
  }
}

}  // namespace
}  // namespace quorvel
