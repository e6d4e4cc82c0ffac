// Restoring a mixer from a document: reconciliation with the present mixer
// and the values written, on the simulated device.
#include <gtest/gtest.h>

#include "app/console_reporter.h"
#include "apply/apply.h"
#include "apply/plan_steps.h"
#include "apply/reconcile.h"
#include "apply/restore_plan.h"
#include "platform/document/document_parse.h"
#include "platform/sim/sim_device_file.h"
#include "platform/sim/sim_mixer.h"
#include "snapshot/snapshot.h"
#include "support/recording_mixer.h"
#include "support/test_util.h"

namespace quorvel {
namespace {

using testing::CaptureStream;
using testing::MixerOp;
using testing::RecordingMixer;
using testing::utf16_bytes;
using testing::utf16le_to_utf8;
using testing::utf8_to_utf16;

void parse(std::string_view text, Document& document) {
  const Result parsed = parse_document(text, document);
  ASSERT_EQ(parsed.message(), "");
}

// The device of the device file `xml`.
SimDevice device_of(const std::string& xml) {
  SimDevice device;
  const Result loaded = load_sim_device_bytes(xml, "device.xml", device);
  EXPECT_TRUE(loaded) << loaded.message();
  return device;
}

// Two destinations whose own controls share types, a destination with two
// sources of one line type, a source with two controls of one type, pan,
// bass and treble with left and right values, a MUX, a MIXER, an unknown
// control type (553713680) in the middle of a list, meters and a custom
// control.
SimDevice rich_device() {
  return device_of(
      R"(<audio_mixer>Rich Card<destination line_id="-65536" component_type="4" channels="2">Speakers)"
      R"(<line_control ctrl_id="1" ctrl_type="1342373889" max="65535" steps="65535">Master Volume<value>40000</value><value>41000</value></line_control>)"
      R"(<line_control ctrl_id="2" ctrl_type="536936450" max="1">Master Mute<value>0</value></line_control>)"
      R"(<line_control ctrl_id="3" ctrl_type="1342373890" max="65535" steps="65535">Bass<value>100</value><value>200</value></line_control>)"
      R"(<line_control ctrl_id="4" ctrl_type="1342373891" max="65535" steps="65535">Treble<value>300</value><value>400</value></line_control>)"
      R"(<line_control ctrl_id="5" ctrl_type="553713680" max="1">Bass Boost<value>0</value></line_control>)"
      R"(<line_control ctrl_id="6" ctrl_type="1073872897" min="-32768" max="32767" steps="65535">Balance<value>-1000</value><value>1000</value></line_control>)"
      R"(<line_control ctrl_id="7" ctrl_type="268566529" min="-32768" max="32767">Peak<value>5</value></line_control>)"
      R"(<line_control ctrl_id="8" ctrl_type="0">Custom</line_control>)"
      R"(<line_control ctrl_id="9" ctrl_type="1895890945" max="2">Output Mix<mixer_list><item selected="1">Wave</item><item selected="0">Line A</item><item selected="1">Line B</item></mixer_list></line_control>)"
      R"(<source line_type="4104" channels="2">Wave)"
      R"(<line_control ctrl_id="10" ctrl_type="1342373889" max="65535" steps="65535">Wave Volume<value>30000</value><value>31000</value></line_control>)"
      R"(<line_control ctrl_id="11" ctrl_type="536936450" max="1">Wave Mute<value>0</value></line_control>)"
      R"(<line_control ctrl_id="12" ctrl_type="536936450" max="1">Wave Mute 2<value>1</value></line_control></source>)"
      R"(<source line_type="4098" channels="2">Line A)"
      R"(<line_control ctrl_id="13" ctrl_type="1342373889" max="65535" steps="65535">Line A Volume<value>1000</value><value>2000</value></line_control>)"
      R"(<line_control ctrl_id="14" ctrl_type="536936450" max="1">Line A Mute<value>1</value></line_control></source>)"
      R"(<source line_type="4098" channels="2">Line B)"
      R"(<line_control ctrl_id="15" ctrl_type="1342373889" max="65535" steps="65535">Line B Volume<value>3000</value><value>4000</value></line_control>)"
      R"(<line_control ctrl_id="16" ctrl_type="536936450" max="1">Line B Mute<value>0</value></line_control></source></destination>)"
      R"(<destination line_id="-65535" component_type="7" channels="2">Recording)"
      R"(<line_control ctrl_id="20" ctrl_type="1342373889" max="65535" steps="65535">Recording Volume<value>20000</value><value>21000</value></line_control>)"
      R"(<line_control ctrl_id="21" ctrl_type="536936450" max="1">Recording Mute<value>1</value></line_control>)"
      R"(<line_control ctrl_id="22" ctrl_type="1879113729" max="1">Recording Source<mux_list><item selected="1">Mic</item><item selected="0">Line</item></mux_list></line_control>)"
      R"(<source channels="1" line_type="4099">Mic)"
      R"(<line_control ctrl_id="23" ctrl_type="1342373889" max="65535" steps="65535">Mic Volume<value>5000</value></line_control>)"
      R"(<line_control ctrl_id="24" ctrl_type="536936450" max="1">Mic Mute<value>0</value></line_control></source>)"
      R"(<source line_type="4098" channels="2">Line)"
      R"(<line_control ctrl_id="25" ctrl_type="1342373889" max="65535" steps="65535">Line Volume<value>6000</value><value>6500</value></line_control>)"
      R"(</source></destination></audio_mixer>)");
}

class ApplyTest : public ::testing::Test {
 protected:
  std::string snapshot_of(Mixer& mixer) {
    std::string bytes;
    std::optional<std::string> name;
    EXPECT_TRUE(build_saved_snapshot(bytes, mixer, name, console()));
    return bytes;
  }

  // Loads `saved` (as written by the program) and applies it to `mixer`.
  ApplyReport restore(const std::string& saved, Mixer& mixer) {
    Document input;
    parse(saved, input);
    return restore_document(input, mixer);
  }

  ApplyReport restore_document(Document& input, Mixer& mixer) {
    Document snapshot;
    std::optional<std::string> name;
    EXPECT_TRUE(build_snapshot(snapshot, mixer, name, console()));
    CaptureStream err(std::cerr);
    ApplyReport report = reconcile_documents(input, snapshot, mixer, console());
    errors_ = err.text();
    return report;
  }

  std::string errors_;
};

TEST_F(ApplyTest, SavedStateComesBackExactly) {
  SimMixer mixer(rich_device());
  const std::string saved = snapshot_of(mixer);

  // Change every settable control.
  std::map<std::uint32_t, std::vector<std::int32_t>> changes = {
      {1, {1, 2}},  {2, {1, 1}},     {3, {7, 7}},   {4, {8, 9}},     {5, {1, 1}},
      {6, {5, -5}}, {9, {0, 1, 0}},  {10, {3, 4}},  {11, {1, 1}},    {12, {0, 0}},
      {13, {9, 9}}, {14, {0, 0}},    {15, {8, 8}},  {16, {1, 1}},    {20, {0, 0}},
      {21, {0, 0}}, {22, {0, 1}},    {23, {17}},    {24, {1}},       {25, {1, 2}}};
  for (const auto& [id, values] : changes) {
    SimControl* control = mixer.control(id);
    ASSERT_NE(control, nullptr) << id;
    if (sim_has_items(*control)) {
      for (std::size_t k = 0; k < values.size(); ++k) control->items[k].selected = values[k];
    } else {
      control->values = values;
    }
  }
  ASSERT_NE(snapshot_of(mixer), saved);

  RecordingMixer recorder(mixer);
  ApplyReport report = restore(saved, recorder);
  EXPECT_EQ(report.reported, 0) << errors_;
  EXPECT_EQ(errors_, "");

  // Everything settable is back; the unknown control keeps its changed value.
  SimControl* unknown = mixer.control(5);
  unknown->values = {0, 0};
  EXPECT_EQ(snapshot_of(mixer), saved);
}

TEST_F(ApplyTest, MuxSelectionMovesInOneWrite) {
  SimMixer mixer(rich_device());
  const std::string saved = snapshot_of(mixer);
  mixer.control(22)->items[0].selected = 0;
  mixer.control(22)->items[1].selected = 1;
  restore(saved, mixer);
  EXPECT_EQ(mixer.values(22), (std::vector<std::int32_t>{1, 0}));
}

// The same kinds of line in another order, one destination missing and one
// extra ahead of the shared ones.
SimDevice other_device() {
  return device_of(
      R"(<audio_mixer>Other Card<destination line_id="-65536" component_type="10" channels="2">Digital Out)"
      R"(<line_control ctrl_id="100" ctrl_type="1342373889" max="65535" steps="65535">Digital Volume<value>11</value><value>12</value></line_control></destination>)"
      R"(<destination line_id="-65535" component_type="7" channels="2">Capture)"
      R"(<line_control ctrl_id="110" ctrl_type="1342373889" max="65535" steps="65535">Capture Volume<value>13</value><value>14</value></line_control>)"
      R"(<line_control ctrl_id="111" ctrl_type="536936450" max="1">Capture Mute<value>0</value></line_control>)"
      R"(<source line_type="4098" channels="2">Line)"
      R"(<line_control ctrl_id="112" ctrl_type="1342373889" max="65535" steps="65535">Line Volume<value>15</value><value>16</value></line_control></source>)"
      R"(<source channels="1" line_type="4099">Mic)"
      R"(<line_control ctrl_id="113" ctrl_type="536936450" max="1">Mic Mute<value>1</value></line_control>)"
      R"(<line_control ctrl_id="114" ctrl_type="1342373889" max="65535" steps="65535">Mic Volume<value>17</value></line_control></source></destination>)"
      R"(<destination line_id="-65534" component_type="4" channels="2">Speakers)"
      R"(<line_control ctrl_id="120" ctrl_type="536936450" max="1">Speaker Mute<value>0</value></line_control>)"
      R"(<line_control ctrl_id="121" ctrl_type="1342373889" max="65535" steps="65535">Speaker Volume<value>18</value><value>19</value></line_control>)"
      R"(<source line_type="4098" channels="2">Line 1)"
      R"(<line_control ctrl_id="122" ctrl_type="1342373889" max="65535" steps="65535">Line 1 Volume<value>20</value><value>21</value></line_control>)"
      R"(</source></destination></audio_mixer>)");
}

TEST_F(ApplyTest, DocumentFromAnotherMixerMovesValuesByKindAndOccurrence) {
  SimMixer source(rich_device());
  SimMixer target(other_device());
  const std::string saved = snapshot_of(source);
  RecordingMixer recorder(target);
  restore(saved, recorder);
  EXPECT_EQ(errors_, "");

  // The extra destination keeps its values.
  EXPECT_EQ(target.values(100), (std::vector<std::int32_t>{11, 12}));
  // Recording: its own volume and mute, its line and mic sources.
  EXPECT_EQ(target.values(110), (std::vector<std::int32_t>{20000, 21000}));
  EXPECT_EQ(target.values(111), (std::vector<std::int32_t>{1, 1}));
  EXPECT_EQ(target.values(112), (std::vector<std::int32_t>{6000, 6500}));
  EXPECT_EQ(target.values(113), (std::vector<std::int32_t>{0}));
  EXPECT_EQ(target.values(114), (std::vector<std::int32_t>{5000}));
  // Speakers: master volume and mute; the first line source of the saved
  // speakers (Line A) goes to the only line source here.
  EXPECT_EQ(target.values(120), (std::vector<std::int32_t>{0, 0}));
  EXPECT_EQ(target.values(121), (std::vector<std::int32_t>{40000, 41000}));
  EXPECT_EQ(target.values(122), (std::vector<std::int32_t>{1000, 2000}));
}

TEST_F(ApplyTest, DocumentsThatApplyNothing) {
  SimMixer mixer(rich_device());
  const std::string saved = snapshot_of(mixer);
  mixer.control(1)->values = {7, 7};
  const std::string changed = snapshot_of(mixer);

  // The saved document with another mixer id, an empty one, and one of
  // another root.
  Document inputs[3];
  ASSERT_NO_FATAL_FAILURE(parse(saved, inputs[0]));
  inputs[0].set_attribute(inputs[0].document_element(), "id", "1");
  ASSERT_NO_FATAL_FAILURE(
      parse("<mixer id=\"0\"><destination component_type=\"4\"/></mixer>", inputs[2]));
  for (Document& input : inputs) {
    RecordingMixer recorder(mixer);
    ApplyReport report = restore_document(input, recorder);
    EXPECT_EQ(report.reported, 0);
    EXPECT_EQ(recorder.calls(MixerOp::kWrite), 0u);
    EXPECT_EQ(snapshot_of(mixer), changed);
  }
}

TEST_F(ApplyTest, ControlTypeWrittenInHexadecimalDoesNotPair) {
  SimMixer mixer(rich_device());
  Document input;
  ASSERT_NO_FATAL_FAILURE(parse(
      "<audio_mixer id=\"0\"><destination component_type=\"4\">S"
      "<line_control ctrl_id=\"1\" ctrl_type=\"0x50030001\">V<value>5</value><value>5</value></line_control>"
      "<line_control ctrl_id=\"2\" ctrl_type=\"536936450\">M<value>1</value></line_control>"
      "</destination></audio_mixer>",
      input));
  restore_document(input, mixer);
  EXPECT_EQ(mixer.values(1), (std::vector<std::int32_t>{40000, 41000}));
  EXPECT_EQ(mixer.values(2), (std::vector<std::int32_t>{1, 1}));
  // The hexadecimal control was removed from the input document.
  const std::vector<DocNode> left =
      input.document_element().child("destination").children("line_control");
  ASSERT_EQ(left.size(), 1u);
  EXPECT_EQ(left[0].attribute_value("ctrl_id"), "2");
}

TEST_F(ApplyTest, EmptyListMakesNoMixerCall) {
  SimMixer mixer(rich_device());
  RecordingMixer recorder(mixer);
  EXPECT_EQ(apply_line_controls({}, recorder, console()).reported, 0);
  EXPECT_EQ(recorder.total_calls(), 0u);
}

class ApplyNodesTest : public ApplyTest {
 protected:
  // Applies the line_control elements of `text` (a <controls> element).
  void apply(const std::string& text, Mixer& mixer) {
    parse(text, document_);
    CaptureStream err(std::cerr);
    report_.reported +=
        apply_line_controls(document_.document_element().children("line_control"), mixer, console())
            .reported;
    errors_ = err.text();
  }

  Document document_;
  ApplyReport report_;
};

TEST_F(ApplyNodesTest, UnknownTypeIsPassedOverAndTheWalkGoesOn) {
  SimMixer mixer(rich_device());
  RecordingMixer recorder(mixer);
  apply(
      "<c><line_control ctrl_id=\"2\" ctrl_type=\"536936450\">A<value>1</value></line_control>"
      "<line_control ctrl_id=\"5\" ctrl_type=\"-1\">B<value>1</value></line_control>"
      "<line_control ctrl_id=\"7\" ctrl_type=\"268566529\">Meter<value>99</value></line_control>"
      "<line_control ctrl_id=\"8\" ctrl_type=\"0\">Custom</line_control>"
      "<line_control ctrl_id=\"11\" ctrl_type=\"536936450\">C<value>1</value></line_control></c>",
      recorder);
  EXPECT_EQ(errors_, "");
  EXPECT_EQ(report_.reported, 0);
  EXPECT_EQ(mixer.values(2), (std::vector<std::int32_t>{1, 1}));
  EXPECT_EQ(mixer.values(11), (std::vector<std::int32_t>{1, 1}));
  EXPECT_EQ(mixer.values(7), (std::vector<std::int32_t>{5, 5}));
  EXPECT_EQ(recorder.calls(MixerOp::kDescribe), 1u);
}

TEST_F(ApplyNodesTest, ListItems) {
  SimMixer mixer(rich_device());
  apply(
      // Items beyond the line's connections are ignored.
      "<c><line_control ctrl_id=\"9\" ctrl_type=\"1895890945\">Mix<mixer_list>"
      "<item selected=\"0\"/><item selected=\"1\"/><item selected=\"0\"/><item selected=\"1\"/>"
      "</mixer_list></line_control>"
      // An item without a number is passed over; the others are written.
      "<line_control ctrl_id=\"22\" ctrl_type=\"1879113729\">Mux<mux_list>"
      "<item selected=\"x\"/><item selected=\"1\"/></mux_list></line_control>"
      // A list without items writes nothing.
      "<line_control ctrl_id=\"9\" ctrl_type=\"1895890945\">Empty<mixer_list/></line_control></c>",
      mixer);
  EXPECT_EQ(mixer.values(9), (std::vector<std::int32_t>{0, 1, 0}));
  // Mic unselected by the kept item would leave no selection: only the
  // passed-over item is reported, and the mixer refuses the rest.
  EXPECT_EQ(report_.reported, 2) << errors_;
  EXPECT_NE(errors_.find("item 0: \"selected\" \"x\" is not a number; item passed over"),
            std::string::npos)
      << errors_;
  EXPECT_NE(errors_.find("the mixer refused the selection 1 1 (mixer error 1026)"),
            std::string::npos)
      << errors_;
  EXPECT_EQ(mixer.values(22), (std::vector<std::int32_t>{1, 0}));
}

TEST_F(ApplyNodesTest, BadInputAndRefusedWritesAreReportedNotWritten) {
  SimMixer mixer(rich_device());
  apply(
      "<c><line_control ctrl_id=\"1\" ctrl_type=\"1342373889\">Master Volume<value>abc</value></line_control>"
      "<line_control ctrl_type=\"536936450\">No Id<value>1</value></line_control>"
      "<line_control ctrl_id=\"2\">No Type<value>1</value></line_control>"
      "<line_control ctrl_id=\"11\" ctrl_type=\"536936450\">No Value</line_control>"
      "<line_control ctrl_id=\"10\" ctrl_type=\"1342373889\">Too Loud<value>70000</value><value>1</value></line_control>"
      // Digits that something other than white space follows.
      "<line_control ctrl_id=\"14\" ctrl_type=\"536936450\">Hex<value> +0x1</value></line_control></c>",
      mixer);
  EXPECT_EQ(report_.reported, 6) << errors_;
  EXPECT_NE(errors_.find("control \"Hex\" (type 536936450, id 14): the first value \" +0x1\" is "
                         "not a number\n"),
            std::string::npos)
      << errors_;
  EXPECT_NE(errors_.find("quorvel: error: control \"Master Volume\" (type 1342373889, id 1): "
                         "the first value \"abc\" is not a number\n"),
            std::string::npos)
      << errors_;
  EXPECT_NE(errors_.find("control \"Too Loud\" (type 1342373889, id 10): the mixer refused the "
                         "value 70000 1 (mixer error 1026)\n"),
            std::string::npos)
      << errors_;
  EXPECT_NE(errors_.find("\"No Id\""), std::string::npos);
  EXPECT_NE(errors_.find("\"No Type\""), std::string::npos);
  EXPECT_NE(errors_.find("\"No Value\""), std::string::npos);
  EXPECT_EQ(mixer.values(1), (std::vector<std::int32_t>{40000, 41000}));
  EXPECT_EQ(mixer.values(10), (std::vector<std::int32_t>{30000, 31000}));
  EXPECT_EQ(mixer.values(11), (std::vector<std::int32_t>{0, 0}));
  EXPECT_EQ(mixer.values(14), (std::vector<std::int32_t>{1, 1}));  // as it was
}

// A 5.1 destination (six channels) with a volume, a pan, a switch whose
// channels are apart and one that is uniform, and a MUX of four items.
SimDevice surround_device() {
  return device_of(
      R"(<audio_mixer>Surround Card<destination line_id="-65536" channels="6">Speakers)"
      R"(<line_control ctrl_id="1" ctrl_type="1342373889" max="65535" steps="65535">Volume)"
      R"(<value>10</value><value>20</value><value>30</value><value>40</value><value>50</value><value>60</value></line_control>)"
      R"(<line_control ctrl_id="2" ctrl_type="1073872897" min="-100" max="100" steps="200">Pan)"
      R"(<value>-3</value><value>-2</value><value>-1</value><value>1</value><value>2</value><value>3</value></line_control>)"
      R"(<line_control ctrl_id="3" ctrl_type="536936450" max="1">Mute)"
      R"(<value>1</value><value>0</value><value>1</value><value>0</value><value>1</value><value>0</value></line_control>)"
      R"(<line_control ctrl_id="4" ctrl_type="536936450" max="1">All Mute<value>0</value></line_control>)"
      R"(<line_control ctrl_id="5" ctrl_type="1879113729" max="3">Select<mux_list><item selected="0">A</item>)"
      R"(<item selected="0">B</item><item selected="1">C</item><item selected="0">D</item></mux_list></line_control>)"
      R"(</destination></audio_mixer>)");
}

TEST_F(ApplyTest, SixChannelStateComesBackExactly) {
  SimMixer mixer(surround_device());
  const std::string saved = snapshot_of(mixer);
  // Restoring the unchanged snapshot changes nothing.
  RecordingMixer unchanged(mixer);
  EXPECT_EQ(restore(saved, unchanged).reported, 0) << errors_;
  EXPECT_EQ(snapshot_of(mixer), saved);

  mixer.control(1)->values = {1, 2, 3, 4, 5, 6};
  mixer.control(2)->values = {0, 0, 0, 0, 0, 0};
  mixer.control(3)->values = {0, 1, 0, 1, 0, 1};
  ASSERT_NE(snapshot_of(mixer), saved);
  EXPECT_EQ(restore(saved, mixer).reported, 0) << errors_;
  EXPECT_EQ(mixer.values(1), (std::vector<std::int32_t>{10, 20, 30, 40, 50, 60}));
  EXPECT_EQ(mixer.values(3), (std::vector<std::int32_t>{1, 0, 1, 0, 1, 0}));
  EXPECT_EQ(snapshot_of(mixer), saved);
}

TEST_F(ApplyNodesTest, UniformSwitchTakesTheFirstOfSeveralValues) {
  SimMixer mixer(surround_device());
  RecordingMixer recorder(mixer);
  apply("<c><line_control ctrl_id=\"4\" ctrl_type=\"536936450\">M<value>1</value><value>0</value>"
        "</line_control></c>",
        recorder);
  EXPECT_EQ(errors_, "");
  EXPECT_EQ(mixer.values(4), (std::vector<std::int32_t>(6, 1)));
}

TEST_F(ApplyNodesTest, ControlsWithoutTheirValueElementAreReportedAlike) {
  SimMixer mixer(surround_device());
  RecordingMixer recorder(mixer);
  apply(
      "<c><line_control ctrl_id=\"1\" ctrl_type=\"1342373889\">Volume</line_control>"
      "<line_control ctrl_id=\"4\" ctrl_type=\"536936450\">Mute<!--1--></line_control>"
      "<line_control ctrl_id=\"5\" ctrl_type=\"1879113729\">Mux<mixer_list><item selected=\"1\"/></mixer_list></line_control>"
      "<line_control ctrl_id=\"7\" ctrl_type=\"1895890945\">Mix</line_control>"
      // An empty list is there, with nothing to write: not reported.
      "<line_control ctrl_id=\"5\" ctrl_type=\"1879113729\">Empty<mux_list/></line_control></c>",
      recorder);
  EXPECT_EQ(report_.reported, 4) << errors_;
  for (const char* expected :
       {"control \"Volume\" (type 1342373889, id 1): no value to write\n",
        "control \"Mute\" (type 536936450, id 4): no value to write\n",
        "control \"Mux\" (type 1879113729, id 5): no mux_list to write\n",
        "control \"Mix\" (type 1895890945, id 7): no mixer_list to write\n"}) {
    EXPECT_NE(errors_.find(expected), std::string::npos) << expected << "\n" << errors_;
  }
  EXPECT_EQ(recorder.calls(MixerOp::kWrite), 0u);
}

TEST_F(ApplyNodesTest, ValueIsTheWholeTextOfItsElement) {
  SimMixer mixer(surround_device());
  apply(
      "<c><line_control ctrl_id=\"1\" ctrl_type=\"1342373889\">V<!--c--><?pi x?><value>1<!--x-->7</value>"
      "<value><![CDATA[2]]>8</value><?pi y?></line_control></c>",
      mixer);
  EXPECT_EQ(errors_, "");
  EXPECT_EQ(mixer.values(1), (std::vector<std::int32_t>{17, 28, 30, 40, 50, 60}));
}

TEST_F(ApplyNodesTest, RefusalsShowExactlyTheValuesSent) {
  SimDevice device = surround_device();
  SimSource& mono = device.destinations[0].sources.emplace_back();
  mono.name = "Mono";
  mono.channels = 1;
  mono.controls = {sim_control(6, ctrl::kVolume, "Mono Volume", 0, 65535, 65535, {2000})};
  SimMixer mixer(std::move(device));
  apply(
      // One value on a mono line: one value is sent, not a pair.
      "<c><line_control ctrl_id=\"6\" ctrl_type=\"1342373889\">Mono Volume<value>70000</value></line_control>"
      // Two values on six channels: the other four as they were.
      "<line_control ctrl_id=\"1\" ctrl_type=\"1342373889\">Volume<value>70000</value><value>1</value></line_control>"
      // Items 0 and 1 with items 2 and 3 as read: two selected in a MUX.
      "<line_control ctrl_id=\"5\" ctrl_type=\"1879113729\">Select<mux_list><item selected=\"0\"/>"
      "<item selected=\"1\"/></mux_list></line_control></c>",
      mixer);
  EXPECT_EQ(report_.reported, 3) << errors_;
  for (const char* expected :
       {"\"Mono Volume\" (type 1342373889, id 6): the mixer refused the value 70000 (mixer error 1026)\n",
        "\"Volume\" (type 1342373889, id 1): the mixer refused the value 70000 1 30 40 50 60 "
        "(mixer error 1026)\n",
        "\"Select\" (type 1879113729, id 5): the mixer refused the selection 0 1 1 0 "
        "(mixer error 1026)\n"}) {
    EXPECT_NE(errors_.find(expected), std::string::npos) << expected << "\n" << errors_;
  }
  EXPECT_EQ(mixer.values(5), (std::vector<std::int32_t>{0, 0, 1, 0}));
}

TEST_F(ApplyNodesTest, ListItemCountIsTheControlsOwn) {
  // A MUX of four items on a destination without sources.
  SimMixer mixer(surround_device());
  apply("<c><line_control ctrl_id=\"5\" ctrl_type=\"1879113729\">Select<mux_list>"
        "<item selected=\"0\"/><item selected=\"0\"/><item selected=\"0\"/><item selected=\"1\"/>"
        "</mux_list></line_control></c>",
        mixer);
  EXPECT_EQ(errors_, "");
  EXPECT_EQ(mixer.values(5), (std::vector<std::int32_t>{0, 0, 0, 1}));
}

// What a plan holds for each kind of control and number of values, and
// that executing it leaves the mixer as planned.
TEST(RestorePlanTest, WantedValuesPerKind) {
  struct Case {
    const char* control;  // a line_control of the surround device
    WriteShape shape;
    std::vector<std::int32_t> now, wanted, after;
  };
  const std::vector<std::int32_t> volume = {10, 20, 30, 40, 50, 60};
  const Case cases[] = {
      // One volume value: channels 1 and 2; the rest keep theirs.
      {"ctrl_id=\"1\" ctrl_type=\"1342373889\">V<value>5</value>", WriteShape::kChannels, volume,
       {5, 5, 30, 40, 50, 60}, {5, 5, 30, 40, 50, 60}},
      // Fewer values than channels, and more: the first six.
      {"ctrl_id=\"1\" ctrl_type=\"1342373889\">V<value>7</value><value>8</value>",
       WriteShape::kChannels, volume, {7, 8, 30, 40, 50, 60}, {7, 8, 30, 40, 50, 60}},
      {"ctrl_id=\"1\" ctrl_type=\"1342373889\">V<value>1</value><value>2</value><value>3</value>"
       "<value>4</value><value>5</value><value>6</value><value>7</value>",
       WriteShape::kChannels, volume, {1, 2, 3, 4, 5, 6}, {1, 2, 3, 4, 5, 6}},
      // One pan value: the control as a whole; three, channels 1 to 3.
      {"ctrl_id=\"2\" ctrl_type=\"1073872897\">P<value>-9</value>", WriteShape::kWhole, {-3},
       {-9}, std::vector<std::int32_t>(6, -9)},
      {"ctrl_id=\"2\" ctrl_type=\"1073872897\">P<value>9</value><value>9</value><value>9</value>",
       WriteShape::kChannels, {-3, -2, -1, 1, 2, 3}, {9, 9, 9, 1, 2, 3}, {9, 9, 9, 1, 2, 3}},
      // A switch with channels apart; a uniform one takes the first value.
      {"ctrl_id=\"3\" ctrl_type=\"536936450\">M<value>0</value><value>1</value>",
       WriteShape::kChannels, {1, 0, 1, 0, 1, 0}, {0, 1, 1, 0, 1, 0}, {0, 1, 1, 0, 1, 0}},
      {"ctrl_id=\"4\" ctrl_type=\"536936450\">M<value>1</value><value>0</value>",
       WriteShape::kChannels, {0}, {1}, std::vector<std::int32_t>(6, 1)},
      // List items merged into the control's own items.
      {"ctrl_id=\"5\" ctrl_type=\"1879113729\">S<mux_list><item selected=\"1\"/>"
       "<item selected=\"x\"/><item selected=\"0\"/></mux_list>",
       WriteShape::kItems, {0, 0, 1, 0}, {1, 0, 0, 0}, {1, 0, 0, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.control);
    SimMixer mixer(surround_device());
    RecordingMixer recorder(mixer);
    Document document;
    ASSERT_NO_FATAL_FAILURE(
        parse(std::string("<d>Speakers<line_control ") + c.control + "</line_control></d>",
              document));
    MixerSession session(recorder, console());
    RestorePlan plan;
    plan_line_controls({document.document_element().first_child().next_sibling()}, session,
                       plan);
    EXPECT_EQ(recorder.calls(MixerOp::kWrite), 0u);
    const PlannedWrite& write = std::get<PlannedWrite>(plan.entries.back());
    EXPECT_EQ(write.line_name, "Speakers");
    EXPECT_EQ(write.shape, c.shape);
    EXPECT_EQ(write.now, c.now);
    EXPECT_EQ(write.wanted, c.wanted);
    EXPECT_TRUE(write_would_change(write));

    CaptureStream err(std::cerr);
    EXPECT_EQ(execute_entries(plan.entries, session), static_cast<int>(plan.entries.size()) - 1);
    EXPECT_EQ(mixer.values(write.control_id), c.after);
    EXPECT_EQ(recorder.calls(MixerOp::kDescribe), 1u);
  }
}

// A restore of the mixer's own snapshot plans writes that change nothing;
// one changed control plans the one write that would.
TEST_F(ApplyTest, PlanOfTheMixersOwnStateChangesNothing) {
  SimMixer mixer(rich_device());
  const std::string saved = snapshot_of(mixer);
  for (bool changed : {false, true}) {
    if (changed) mixer.control(13)->values = {1, 2001};
    Document input, snapshot;
    ASSERT_NO_FATAL_FAILURE(parse(saved, input));
    std::optional<std::string> name;
    ASSERT_TRUE(build_snapshot(snapshot, mixer, name, console()));
    RecordingMixer recorder(mixer);
    const RestorePlan plan = plan_restore(input, snapshot, recorder, console());
    EXPECT_EQ(recorder.calls(MixerOp::kWrite), 0u);
    EXPECT_EQ(plan.paired, 22);
    std::vector<std::uint32_t> would_change;
    for (const PlanEntry& entry : plan.entries) {
      const PlannedWrite& write = std::get<PlannedWrite>(entry);
      EXPECT_EQ(foresee_refusal(write), ForeseenRefusal::kNone) << write.control_name;
      if (write_would_change(write)) would_change.push_back(write.control_id);
    }
    EXPECT_EQ(would_change, changed ? std::vector<std::uint32_t>{13} : std::vector<std::uint32_t>{});
    EXPECT_EQ(execute_plan(plan, recorder, console()).reported, 0);
    EXPECT_EQ(snapshot_of(mixer), saved);
  }
}

// A restore executes each entry as soon as it is planned: it says and
// writes exactly what planning the whole restore and then executing the
// plan does, problems of pairing and of values included.
TEST_F(ApplyTest, RestoreSaysAndWritesWhatItsWholePlanWould) {
  SimMixer original(rich_device());
  const std::string saved = snapshot_of(original);
  for (bool edited : {false, true}) {
    SCOPED_TRACE(edited);
    // Every value changed, one not a number and one beyond its bounds, and
    // a source without its key: edited in the saved text, as a user would.
    std::string text = saved;
    if (edited) {
      std::string utf8 = utf16le_to_utf8(saved);
      std::size_t k = 0;
      for (std::size_t at = utf8.find("<value"); at != std::string::npos;
           at = utf8.find("<value", at + 1), ++k) {
        const std::size_t start = utf8.find('>', at) + 1;
        utf8.replace(start, utf8.find('<', start) - start, k == 0 ? "abc" : k == 2 ? "-5" : "1");
      }
      ASSERT_GE(k, 3u);
      const std::size_t key = utf8.find(" line_type=\"", utf8.find("<source"));
      ASSERT_NE(key, std::string::npos);
      utf8.erase(key, utf8.find('"', key + 12) + 1 - key);
      text = utf16_bytes(utf8_to_utf16(utf8), false, true);
    }

    SimMixer streamed(rich_device());
    const ApplyReport report = restore(text, streamed);
    const std::string streamed_errors = errors_;

    SimMixer whole(rich_device());
    Document whole_input, snapshot;
    ASSERT_NO_FATAL_FAILURE(parse(text, whole_input));
    std::optional<std::string> name;
    ASSERT_TRUE(build_snapshot(snapshot, whole, name, console()));
    CaptureStream err(std::cerr);
    const RestorePlan plan = plan_restore(whole_input, snapshot, whole, console());
    const ApplyReport whole_report = execute_plan(plan, whole, console());
    const std::string whole_errors = err.text();

    EXPECT_EQ(streamed_errors, whole_errors);
    EXPECT_EQ(report.reported, whole_report.reported);
    EXPECT_EQ(report.paired, whole_report.paired);
    EXPECT_EQ(snapshot_of(streamed), snapshot_of(whole));
    // The edits show: problems reported, and the mixer changed.
    EXPECT_EQ(report.reported > 0, edited) << streamed_errors;
    EXPECT_EQ(snapshot_of(streamed) != saved, edited);
  }
}

// Whether a value would change, on the control's own step grid.
TEST(RestorePlanTest, ValueWouldChangeOnTheStepGrid) {
  struct Case {
    std::int32_t now, wanted;
    ControlBounds bounds;
    bool changes;
  };
  const ControlBounds volume_32_levels = {0, 65535, 31};
  const ControlBounds unsigned_halves = {10, -1, 1};  // 10 to 2^32 - 1, two steps
  const Case cases[] = {
      {5, 5, {0, 65535, 0}, false},
      {5, 6, {0, 65535, 0}, true},        // no steps named: exact
      {5, 6, {0, 65535, 65535}, true},    // a step per value
      {-1, 0, {-100, 100, 200}, true},
      {0, 1057, volume_32_levels, false},  // 1057 * 31 / 65535 rounds to step 0
      {0, 1058, volume_32_levels, true},   // and 1058 to step 1
      {65535, 64478, volume_32_levels, false},  // the last step from 64478 up
      {65535, 64477, volume_32_levels, true},
      {65535, 70000, volume_32_levels, true},  // beyond the bounds: exact
      {70000, 70000, volume_32_levels, false},
      {-2, -1, unsigned_halves, false},
      {10, -1, unsigned_halves, true},
      {-2, -1, {10, -1, 4294967284u}, true},  // the widest grid does not wrap
  };
  for (const Case& c : cases) {
    EXPECT_EQ(value_would_change(c.now, c.wanted, c.bounds), c.changes)
        << c.now << " -> " << c.wanted << " over " << c.bounds.min << ".." << c.bounds.max
        << " in " << c.bounds.steps;
  }
}

TEST(RestorePlanTest, RefusalsForeseen) {
  struct Case {
    std::uint32_t type;
    WriteShape shape;
    std::vector<std::int32_t> wanted;
    ForeseenRefusal refusal;
  };
  const Case cases[] = {
      {ctrl::kVolume, WriteShape::kChannels, {0, 65535}, ForeseenRefusal::kNone},
      {ctrl::kVolume, WriteShape::kChannels, {0, 65536}, ForeseenRefusal::kOutOfBounds},
      {ctrl::kPeakMeter, WriteShape::kWhole, {0}, ForeseenRefusal::kMeter},
      {ctrl::kMux, WriteShape::kItems, {0, 1, 0}, ForeseenRefusal::kNone},
      {ctrl::kMux, WriteShape::kItems, {1, 1, 0}, ForeseenRefusal::kMuxNotOneItem},
      {ctrl::kMux, WriteShape::kItems, {0, 0, 0}, ForeseenRefusal::kMuxNotOneItem},
      {ctrl::kMixer, WriteShape::kItems, {1, 1, 0}, ForeseenRefusal::kNone},
      {ctrl::kMixer, WriteShape::kItems, {1, 2, 0}, ForeseenRefusal::kNotZeroOrOne},
  };
  for (const Case& c : cases) {
    PlannedWrite write;
    write.control_type = c.type;
    write.shape = c.shape;
    write.bounds = {0, 65535, 65535};
    write.wanted = c.wanted;
    EXPECT_EQ(foresee_refusal(write), c.refusal) << c.type;
  }
}

TEST(PruneUnpairedTest, PairsByOccurrenceAndCopiesIdentifiers) {
  Document first, second;
  ASSERT_NO_FATAL_FAILURE(parse(
      "<s><line_control ctrl_id=\"a\" ctrl_type=\"1\"/><line_control ctrl_id=\"b\" ctrl_type=\"2\"/>"
      "<line_control ctrl_id=\"c\" ctrl_type=\"1\"/><line_control ctrl_id=\"d\" ctrl_type=\"1\"/>"
      "<line_control ctrl_id=\"e\"/><line_control ctrl_id=\"f\" ctrl_type=\"1 \"/></s>",
      first));
  ASSERT_NO_FATAL_FAILURE(parse(
      "<s><line_control ctrl_id=\"x\"/><line_control ctrl_id=\"1\" ctrl_type=\"1\"/>"
      "<line_control ctrl_id=\"2\" ctrl_type=\"2\"/><line_control ctrl_id=\"3\" ctrl_type=\"1\"/></s>",
      second));
  const std::vector<DocNode> b = second.document_element().children("line_control");
  PrunedList pruned = prune_unpaired(first.document_element().children("line_control"), b);
  std::vector<std::string> ids;
  for (DocNode node : first.document_element().children("line_control")) {
    ids.emplace_back(node.attribute_value("ctrl_id"));
  }
  // The third control of type 1 and the one whose key has a blank go.
  EXPECT_EQ(ids, (std::vector<std::string>{"1", "2", "3", "e"}));
  ASSERT_EQ(pruned.remaining.size(), 4u);
  EXPECT_FALSE(pruned.partners[3]);
  EXPECT_EQ(pruned.partners[2], b[3]);
}

}  // namespace
}  // namespace quorvel
