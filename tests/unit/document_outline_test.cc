// The outline of a mixer document: which elements and texts it keeps of a
// tree, and that the outline the snapshot builds from a mixer is the
// outline of the tree it builds from the same mixer.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "platform/document/document_outline.h"
#include "platform/mixer/control_types.h"
#include "platform/sim/sim_mixer.h"
#include "platform/xml/xml_dom.h"
#include "snapshot/snapshot.h"
#include "support/example_device.h"
#include "support/synthetic_device.h"
#include "support/test_util.h"

namespace quorvel {
namespace {

// An outline as text: each element's kind and key, then a line's name and
// default mark, or a control's id, with its children in brackets.
void print(OutlineItem item, std::string& out) {
  static const char* const kKinds[] = {"M", "D", "S", "C"};
  out += kKinds[static_cast<int>(item.kind())];
  out += item.key() ? std::string(*item.key()) : std::string("-");
  if (item.kind() == OutlineKind::kDestination || item.kind() == OutlineKind::kSource) {
    if (!item.server_name().empty()) out += "@" + std::string(item.server_name());
    if (item.is_default()) out += "*";
  }
  if (item.kind() == OutlineKind::kLineControl) {
    out += "#" + (item.ctrl_id() ? std::string(*item.ctrl_id()) : std::string("-"));
  }
  std::vector<OutlineItem> children;
  for (OutlineKind kind : {OutlineKind::kDestination, OutlineKind::kSource,
                           OutlineKind::kLineControl}) {
    for (OutlineItem child : item.children(kind)) children.push_back(child);
  }
  if (children.empty()) return;
  out += "[";
  for (OutlineItem child : children) {
    print(child, out);
    out += " ";
  }
  out.back() = ']';
}

std::string print(const DocumentOutline& outline) {
  std::string out;
  for (OutlineItem root : outline.roots()) {
    print(root, out);
    out += ";";
  }
  return out;
}

std::string outline_of_text(const char* text) {
  pugi::xml_document tree;
  EXPECT_TRUE(tree.load_string(text, kParseOptions)) << text;
  DocumentOutline outline;
  EXPECT_TRUE(outline_tree(tree, outline));
  return print(outline);
}

// The default switch's type, as a document writes it.
const std::string kDefault = std::to_string(ctrl::kDefaultSwitch);

struct OutlineCase {
  const char* what;
  std::string document;
  const char* outline;
};

TEST(DocumentOutlineTest, KeepsWhatThePairingSelectionsReach) {
  const std::vector<OutlineCase> cases = {
      {"every level, other attributes and values dropped",
       R"(<audio_mixer id="0" destinations="1">Card<destination line_id="1" component_type="4">Out<line_control ctrl_id="5" ctrl_type="99" min="0">Vol<value ch="1">3</value></line_control><source src_id="0" line_type="4104">Wave<line_control ctrl_id="6" ctrl_type="98">Mute<value>1</value></line_control></source></destination></audio_mixer>)",
       "M0[D4[S4104[C98#6] C99#5]];"},
      {"missing keys and ids stay missing",
       R"(<audio_mixer><destination>Out<line_control>X</line_control><source>In</source></destination></audio_mixer>)",
       "M-[D-[S- C-#-]];"},
      {"the first attribute of a name counts",
       R"(<audio_mixer id="1"><destination component_type="4" server_name="a"><line_control ctrl_type="7" ctrl_id="2"/></destination></audio_mixer>)",
       "M1[D4@a[C7#2]];"},
      {"elements outside the selections are not kept",
       R"(<root><audio_mixer id="9"/></root><!-- --><audio_mixer id="2"><line_control ctrl_type="1"/><source line_type="3"/><destination component_type="4"><destination component_type="5"/><source line_type="6"><source line_type="7"/><destination component_type="8"/></source><value><line_control ctrl_type="9"/></value></destination></audio_mixer>)",
       "M2[D4[S6]];"},
      {"several mixers in document order",
       R"(<audio_mixer id="0"><destination component_type="4"/></audio_mixer><audio_mixer id="1"/>)",
       "M0[D4];M1;"},
      {"a default switch of 1 makes its line the default",
       R"(<audio_mixer id="0"><destination component_type="4" server_name="sink"><line_control ctrl_id="3" ctrl_type=")" +
           kDefault + R"("><value>1</value></line_control></destination></audio_mixer>)",
       "M0[D4@sink*[C536936454#3]];"},
      {"only the first default switch counts, and only its first value",
       R"(<audio_mixer id="0"><destination component_type="4"><line_control ctrl_type=")" + kDefault +
           R"("><value>0</value><value>1</value></line_control><line_control ctrl_type=")" +
           kDefault + R"("><value>1</value></line_control></destination></audio_mixer>)",
       "M0[D4[C536936454#- C536936454#-]];"},
      {"a default switch without a value is off; its value may be CDATA",
       R"(<audio_mixer id="0"><destination component_type="4"><line_control ctrl_type=")" + kDefault +
           R"("/></destination><source/><destination component_type="7"><source line_type="1"><line_control ctrl_type=")" +
           kDefault + R"("><value><![CDATA[1]]></value></line_control></source></destination></audio_mixer>)",
       "M0[D4[C536936454#-] D7[S1*[C536936454#-]]];"},
      {"the value's text, not a nested element's, is read",
       R"(<audio_mixer id="0"><destination component_type="4"><line_control ctrl_type=")" + kDefault +
           R"("><value><x>0</x>1</value></line_control></destination></audio_mixer>)",
       "M0[D4*[C536936454#-]];"},
      {"a value that is not exactly 1 is off",
       R"(<audio_mixer id="0"><destination component_type="4"><line_control ctrl_type=")" + kDefault +
           R"("><value>01x</value></line_control></destination></audio_mixer>)",
       "M0[D4[C536936454#-]];"},
  };
  for (const OutlineCase& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(outline_of_text(c.document.c_str()), c.outline);
  }
  EXPECT_EQ(outline_of_text(R"(<?xml version="1.0"?><audio_mixer id="3"/>)"), "M3;");
}

// What the snapshot outlines straight from a mixer is the outline of the
// tree it builds: awkward names, names of the device's own, defaults on
// and off, and the example devices.
TEST(DocumentOutlineTest, ASnapshotOutlineIsTheOutlineOfTheSnapshotTree) {
  SimDevice named = make_sim_device(60, 3, 2);
  named.destinations[0].server_name = "alsa_output.\"a&b\"\t\x01";
  named.destinations[2].sources[1].server_name = "\xF0\x9F\x8E\xB5 mic";
  named.destinations[0].controls[1].type = ctrl::kDefaultSwitch;
  named.destinations[0].controls[1].values = {1};
  named.destinations[1].controls[1].type = ctrl::kDefaultSwitch;
  named.destinations[1].controls[1].values = {0};
  const auto mixers = testing::with_example_mixers(std::move(named));
  for (const auto& mixer : mixers) {
    ASSERT_TRUE(mixer);
    pugi::xml_document tree;
    std::optional<std::string> tree_name;
    ASSERT_TRUE(build_snapshot(tree, *mixer, tree_name));
    DocumentOutline from_tree;
    ASSERT_TRUE(outline_tree(tree, from_tree));
    DocumentOutline built;
    std::optional<std::string> built_name;
    ASSERT_TRUE(build_snapshot_outline(built, *mixer, built_name));
    EXPECT_EQ(print(built), print(from_tree));
    EXPECT_EQ(built.size(), from_tree.size());
    EXPECT_EQ(built_name, tree_name);
  }
  // The named device's marks, seen: the default, its name, escaping aside.
  pugi::xml_document tree;
  std::optional<std::string> name;
  ASSERT_TRUE(build_snapshot(tree, *mixers[0], name));
  DocumentOutline outline;
  ASSERT_TRUE(outline_tree(tree, outline));
  EXPECT_TRUE(testing::holds(print(outline), "@alsa_output.\"a&b\"\t\xE2\x90\x81*["));
  EXPECT_TRUE(testing::holds(print(outline), "@\xF0\x9F\x8E\xB5 mic["));
}

}  // namespace
}  // namespace quorvel
