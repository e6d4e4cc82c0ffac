// The snapshot builder on the simulated device: the document it writes, how
// it treats mixer failures, and which calls it makes of the mixer.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/console_reporter.h"
#include "apply/reconcile.h"
#include "docio/load.h"
#include "platform/document/document_format.h"
#include "platform/document/document_parse.h"
#include "platform/sim/sim_mixer.h"
#include "snapshot/snapshot.h"
#include "support/example_device.h"
#include "support/recording_mixer.h"
#include "support/synthetic_device.h"
#include "support/test_util.h"

namespace quorvel {
namespace {

using testing::CaptureStream;
using testing::MixerOp;
using testing::RecordingMixer;

// A device in canonical form: exactly what a snapshot of it writes. It has
// every capture kind (a switch with channels apart too), lines of 1, 2 and
// 6 channels (every channel saved), a destination without
// sources, a list control on a line without connections, the line id
// 0xFFFF0000 and names with leading and trailing blanks.
constexpr const char* kCanonicalDevice = R"(<?xml version="1.0" encoding="UTF-16"?>
<!--Brevalt Corvane 1.0 -->
<!DOCTYPE audio_mixer SYSTEM "audio_mixer.dtd">
<audio_mixer id="0" destinations="3"> Test Card <destination line_id="-65536" channels="2" connections="3" component_type="4">  Speakers<line_control ctrl_id="1" ctrl_type="1342373889" steps="65535" min="0" max="65535">Volume<value ch="1">1000</value><value ch="2">2000</value></line_control><line_control ctrl_id="2" ctrl_type="536936450" steps="0" min="0" max="1">Mute <value>1</value></line_control><line_control ctrl_id="3" ctrl_type="268500992" steps="0" min="0" max="1">Clip<value ch="1">1</value></line_control><line_control ctrl_id="4" ctrl_type="268566528" steps="0" min="-32768" max="32767">Level<value ch="1">-5</value></line_control><line_control ctrl_id="5" ctrl_type="268566529" steps="0" min="-32768" max="32767">Peak<value>77</value></line_control><line_control ctrl_id="6" ctrl_type="268632064" steps="0" min="0" max="65535">Meter<value>12</value></line_control><line_control ctrl_id="7" ctrl_type="1073872897" steps="65535" min="-32768" max="32767">Pan<value ch="1">-100</value><value ch="2">100</value></line_control><line_control ctrl_id="8" ctrl_type="0" steps="0" min="0" max="0">Custom</line_control><line_control ctrl_id="9" ctrl_type="554696704" steps="0" min="0" max="1">Boost</line_control><line_control ctrl_id="10" ctrl_type="1879113729" steps="3" min="0" max="1">Select<mux_list><item selected="0">Wave</item><item selected="1">CD</item><item selected="0">Mic</item></mux_list></line_control><line_control ctrl_id="11" ctrl_type="1895890945" steps="3" min="0" max="1">Mix<mixer_list><item selected="1">Wave</item><item selected="0">CD</item><item selected="1">Mic</item></mixer_list></line_control><line_control ctrl_id="12" ctrl_type="1895890944" steps="3" min="0" max="1">Multi<mixer_list><item selected="0">Wave</item><item selected="1">CD</item><item selected="1">Mic</item></mixer_list></line_control><line_control ctrl_id="13" ctrl_type="1879113728" steps="0" min="0" max="2">Single<value>2</value></line_control><source src_id="0" channels="2" line_type="4104">Wave<line_control ctrl_id="20" ctrl_type="1342373890" steps="65535" min="0" max="65535">Bass<value ch="1">10</value><value ch="2">20</value></line_control><line_control ctrl_id="21" ctrl_type="1342373891" steps="65535" min="0" max="65535">Treble<value ch="1">30</value><value ch="2">40</value></line_control><line_control ctrl_id="22" ctrl_type="1073872896" steps="65535" min="0" max="65535">Slider<value ch="1">5</value><value ch="2">6</value></line_control><line_control ctrl_id="23" ctrl_type="1342373888" steps="65535" min="0" max="65535">Fader<value ch="1">7</value><value ch="2">8</value></line_control><line_control ctrl_id="24" ctrl_type="536936450" steps="0" min="0" max="1">Wave Mute<value ch="1">1</value><value ch="2">0</value></line_control></source><source src_id="1" channels="1" line_type="4101">CD<line_control ctrl_id="30" ctrl_type="1342373889" steps="65535" min="0" max="65535">CD Volume<value ch="1">300</value></line_control><line_control ctrl_id="31" ctrl_type="536936448" steps="0" min="0" max="1">Bool<value>1</value></line_control><line_control ctrl_id="32" ctrl_type="536936449" steps="0" min="0" max="1">OnOff<value>1</value></line_control><line_control ctrl_id="33" ctrl_type="536936451" steps="0" min="0" max="1">Mono<value>0</value></line_control><line_control ctrl_id="34" ctrl_type="536936453" steps="0" min="0" max="1">Stereo<value>1</value></line_control><line_control ctrl_id="35" ctrl_type="553713664" steps="0" min="0" max="1">Button<value>0</value></line_control></source><source src_id="2" channels="2" line_type="4099">Mic<line_control ctrl_id="40" ctrl_type="805437440" steps="0" min="-100" max="100">Signed<value>-7</value></line_control><line_control ctrl_id="41" ctrl_type="805502976" steps="0" min="0" max="-1">Unsigned<value>-2</value></line_control><line_control ctrl_id="42" ctrl_type="805568512" steps="0" min="-1000" max="1000">Decibels<value>-300</value></line_control><line_control ctrl_id="43" ctrl_type="805634048" steps="0" min="0" max="100">Percent<value>50</value></line_control><line_control ctrl_id="44" ctrl_type="1073872898" steps="0" min="-10" max="10">QSound<value>3</value></line_control><line_control ctrl_id="45" ctrl_type="1342373892" steps="0" min="0" max="100">Equalizer<value>4</value></line_control><line_control ctrl_id="46" ctrl_type="1610809344" steps="0" min="0" max="1000">Micro<value>5</value></line_control><line_control ctrl_id="47" ctrl_type="1627586560" steps="0" min="0" max="1000">Milli<value>6</value></line_control></source></destination><destination line_id="-65535" channels="6" connections="0" component_type="7">Recording <line_control ctrl_id="50" ctrl_type="1342373889" steps="65535" min="0" max="65535">Surround Volume<value ch="1">600</value><value ch="2">610</value><value ch="3">620</value><value ch="4">630</value><value ch="5">640</value><value ch="6">650</value></line_control><line_control ctrl_id="51" ctrl_type="1879113729" steps="0" min="0" max="1">Empty Mux<mux_list /></line_control></destination><destination line_id="5" channels="1" connections="0" component_type="8">Mono Out</destination></audio_mixer>
)";

// An element and all below it as unindented markup, references not
// escaped: what these tests compare documents by. Comments and instructions
// are left out.
std::string markup(DocNode node) {
  if (node.is_text()) {
    const std::string text(node.value());
    return node.kind() == NodeKind::kCdata ? "<![CDATA[" + text + "]]>" : text;
  }
  if (!node.is_element()) return "";
  const std::string name(node.name());
  std::string out = "<" + name;
  for (std::uint32_t i = 0; i < node.attribute_count(); ++i) {
    out += " " + std::string(node.attribute_at(i).name()) + "=\"" +
           std::string(node.attribute_at(i).value()) + "\"";
  }
  std::string inner;
  for (DocNode child = node.first_child(); child; child = child.next_sibling()) {
    inner += markup(child);
  }
  return inner.empty() ? out + "/>" : out + ">" + inner + "</" + name + ">";
}

std::string print_root(Document& document) { return markup(document.document_element()); }

// The four top-level nodes of every document, the root last.
void expect_prolog(Document& document) {
  DocNode node = document.root().first_child();
  ASSERT_EQ(node.kind(), NodeKind::kDeclaration);
  EXPECT_EQ(node.attribute_value("version"), "1.0");
  EXPECT_EQ(node.attribute_value("encoding"), "UTF-16");
  node = node.next_sibling();
  ASSERT_EQ(node.kind(), NodeKind::kComment);
  EXPECT_EQ(node.value(), "Brevalt Corvane 1.0 ");
  node = node.next_sibling();
  ASSERT_EQ(node.kind(), NodeKind::kDoctype);
  EXPECT_EQ(node.value(), "audio_mixer SYSTEM \"audio_mixer.dtd\"");
  EXPECT_EQ(node.next_sibling(), document.document_element());
  EXPECT_FALSE(document.document_element().next_sibling());
}

// The line_control below `node` with the id `id`; none without one.
DocNode control_with_id(DocNode node, std::string_view id) {
  for (DocNode child = node.first_child(); child; child = child.next_sibling()) {
    if (child.is(doc::kLineControl) && child.attribute_value(doc::kCtrlId) == id) return child;
    if (DocNode found = control_with_id(child, id)) return found;
  }
  return DocNode();
}

class SnapshotTest : public ::testing::Test {
 protected:
  void load(const std::string& text) {
    // In UTF-16, as the canonical document declares.
    const std::string bytes = testing::utf16_bytes(testing::utf8_to_utf16(text), false, true);
    Document device_document;
    ASSERT_EQ(parse_document(bytes, device_document).message(), "");
    SimDevice device;
    const Result loaded = load_sim_device_bytes(bytes, "device.xml", device);
    ASSERT_TRUE(loaded) << loaded.message();
    expected_root_ = print_root(device_document);
    recorder_.reset();
    mixer_ = std::make_unique<SimMixer>(std::move(device));
    recorder_ = std::make_unique<RecordingMixer>(*mixer_);
  }

  Result build() {
    CaptureStream err(std::cerr);
    Result status = build_snapshot(snapshot_, *recorder_, default_name_, console());
    errors_ = err.text();
    return status;
  }

  std::unique_ptr<SimMixer> mixer_;
  std::unique_ptr<RecordingMixer> recorder_;  // the snapshot's view of mixer_
  Document snapshot_;
  std::optional<std::string> default_name_;
  std::string expected_root_;
  std::string errors_;
};

TEST_F(SnapshotTest, ReproducesADeviceInCanonicalForm) {
  load(kCanonicalDevice);
  ASSERT_TRUE(build()) << errors_;
  EXPECT_EQ(errors_, "");
  EXPECT_EQ(print_root(snapshot_), expected_root_);
  EXPECT_EQ(default_name_, std::optional<std::string>(" Test Card .xml"));

  expect_prolog(snapshot_);
}

TEST_F(SnapshotTest, SavedSnapshotReloadsByteForByte) {
  load(kCanonicalDevice);
  std::string saved;
  ASSERT_TRUE(build_saved_snapshot(saved, *recorder_, default_name_, console()));
  ASSERT_GE(saved.size(), 2u);
  EXPECT_EQ(saved.substr(0, 2), std::string("\xFF\xFE"));
  Document reloaded;
  ASSERT_EQ(parse_document(saved, reloaded).message(), "");
  EXPECT_EQ(print_root(reloaded), expected_root_);
  // Reloaded as a device, it gives the same snapshot again.
  SimDevice device;
  const Result loaded = load_sim_device_bytes(saved, "saved.xml", device);
  ASSERT_TRUE(loaded) << loaded.message();
  SimMixer again(std::move(device));
  std::string second;
  std::optional<std::string> name;
  ASSERT_TRUE(build_saved_snapshot(second, again, name, console()));
  EXPECT_EQ(second, saved);
}

TEST_F(SnapshotTest, ExampleDevicesAreReproduced) {
  for (const char* file : {"soundcard.xml", "usb_headset.xml"}) {
    SCOPED_TRACE(file);
    auto mixer = testing::example_mixer(file);
    ASSERT_TRUE(mixer);
    Document device_document;
    ASSERT_EQ(parse_document(testing::read_file(testing::source_dir() / "examples" / file),
                             device_document)
                  .message(),
              "");
    Document snapshot;
    std::optional<std::string> name;
    ASSERT_TRUE(build_snapshot(snapshot, *mixer, name, console()));
    EXPECT_EQ(print_root(snapshot), print_root(device_document));
  }
}

// The device file writer shows an unchanged device as a save of it does,
// byte for byte.
TEST_F(SnapshotTest, DeviceFileOfAnUnchangedDeviceIsWhatASaveWrites) {
  load(kCanonicalDevice);
  const auto mixers = testing::with_example_mixers(mixer_->device());
  for (const auto& mixer : mixers) {
    ASSERT_TRUE(mixer);
    std::string saved;
    std::optional<std::string> name;
    ASSERT_TRUE(build_saved_snapshot(saved, *mixer, name, console()));
    EXPECT_EQ(serialize_sim_device(mixer->device()), saved);
  }
}

// Reading the mixer for its verdict alone reports, fails and names the
// default file exactly as a build does, whatever the mixer refuses.
TEST_F(SnapshotTest, ACheckReportsAsABuildDoes) {
  struct Failure {
    MixerOp op;
    std::uint32_t id;  // 0: every call of the kind
  };
  const std::vector<std::optional<Failure>> failures = {
      std::nullopt,
      Failure{MixerOp::kDescribe, 0},
      Failure{MixerOp::kRead, 7},
      Failure{MixerOp::kRead, 0},
  };
  for (const std::optional<Failure>& failure : failures) {
    SCOPED_TRACE(failure ? std::to_string(static_cast<int>(failure->op)) + " on " +
                               std::to_string(failure->id)
                         : "none");
    std::string outcomes[2];
    std::optional<std::string> names[2];
    for (int checked = 0; checked < 2; ++checked) {
      load(kCanonicalDevice);
      if (failure && failure->id == 0) recorder_->fail_next(failure->op, kMixerFailed);
      if (failure && failure->id != 0) recorder_->fail_on(failure->op, failure->id, kMixerFailed);
      CaptureStream err(std::cerr);
      const Result result = checked ? check_snapshot(*recorder_, names[checked], console())
                                    : build_snapshot(snapshot_, *recorder_, names[checked], console());
      outcomes[checked] = (result ? "ok " : "failed: " + result.message() + " ") + err.text();
    }
    EXPECT_EQ(outcomes[1], outcomes[0]);
    EXPECT_EQ(names[1], names[0]);
    EXPECT_EQ(outcomes[0].starts_with("ok "), !failure) << outcomes[0];
  }
}

TEST_F(SnapshotTest, BuildingTwiceKeepsOnlyTheSecondBuild) {
  load(kCanonicalDevice);
  ASSERT_TRUE(build());
  SimControl* volume = mixer_->control(1);
  ASSERT_NE(volume, nullptr);
  volume->values = {4242, 4343};
  ASSERT_TRUE(build());
  EXPECT_EQ(snapshot_.root().children(doc::kAudioMixer).size(), 1u);
  DocNode first_value = snapshot_.document_element()
                            .child(doc::kDestination)
                            .child(doc::kLineControl)
                            .child(doc::kValue);
  EXPECT_EQ(first_value.text(), "4242");
  EXPECT_EQ(first_value.next_sibling().text(), "4343");
}

TEST_F(SnapshotTest, DescribesTheDeviceOncePerBuildAndWritesNothing) {
  load(kCanonicalDevice);
  ASSERT_TRUE(build());
  ASSERT_TRUE(build());
  EXPECT_EQ(recorder_->calls(MixerOp::kDescribe), 2u);
  EXPECT_EQ(recorder_->calls(MixerOp::kWrite), 0u);
}

TEST_F(SnapshotTest, MixerThatCannotBeDescribedFailsTheBuild) {
  load(kCanonicalDevice);
  default_name_ = "earlier.xml";
  recorder_->fail_next(MixerOp::kDescribe, kMixerNoDevice);
  EXPECT_FALSE(build());
  EXPECT_EQ(errors_, "quorvel: error: cannot open mixer device 0: mixer error 2\n");
  // The prolog and an empty root, and the earlier default name.
  EXPECT_EQ(print_root(snapshot_), "<audio_mixer id=\"0\" destinations=\"0\"/>");
  expect_prolog(snapshot_);
  EXPECT_EQ(default_name_, std::optional<std::string>("earlier.xml"));
}

TEST_F(SnapshotTest, UnreadableControlsAreReportedAndFailTheBuild) {
  load(kCanonicalDevice);
  recorder_->fail_on(MixerOp::kRead, 7, kMixerFailed);
  EXPECT_FALSE(build());
  EXPECT_EQ(errors_, "quorvel: error: cannot read control \"Pan\" (id 7): mixer error 1\n");
  // The control is there, read as zeros, and the lines after it too.
  DocNode pan = control_with_id(snapshot_.root(), "7");
  EXPECT_EQ(pan.child(doc::kValue).text(), "0");
  const std::vector<DocNode> destinations = snapshot_.document_element().children(doc::kDestination);
  ASSERT_EQ(destinations.size(), 3u);
  EXPECT_EQ(destinations[0].children(doc::kSource).size(), 3u);
}

TEST_F(SnapshotTest, LineWithoutChannelsShowsNoControl) {
  // A virtual source of a sound server: its volume has no channels.
  load(R"(<audio_mixer id="0" destinations="1">Card<destination line_id="1" channels="0" connections="0" component_type="7">Virtual<line_control ctrl_id="1" ctrl_type="1342373889" steps="65535" min="0" max="65535">Capture Volume</line_control><line_control ctrl_id="2" ctrl_type="536936450" steps="0" min="0" max="1">Capture Mute<value>0</value></line_control></destination></audio_mixer>)");
  ASSERT_TRUE(build()) << errors_;
  EXPECT_EQ(print_root(snapshot_),
            "<audio_mixer id=\"0\" destinations=\"1\">Card<destination line_id=\"1\" "
            "channels=\"0\" connections=\"0\" component_type=\"7\">Virtual</destination>"
            "</audio_mixer>");
}

TEST_F(SnapshotTest, BoundsCoverEveryValueWritten) {
  // The unsigned control's bounds start at 8 (its value, -2, lies within).
  std::string device = kCanonicalDevice;
  const std::string from = R"(ctrl_id="41" ctrl_type="805502976" steps="0" min="0")";
  device.replace(device.find(from), from.size(),
                 R"(ctrl_id="41" ctrl_type="805502976" steps="0" min="8")");
  load(device);
  // Values the device holds beyond the bounds it declares (a sound server's
  // volume above 100 %, an unsigned control below its minimum).
  mixer_->control(1)->values = {98304, -5};
  mixer_->control(41)->values = {7, 7};
  mixer_->control(50)->values = {600, 610, 620, 630, 640, 650};
  ASSERT_TRUE(build()) << errors_;
  DocNode volume = control_with_id(snapshot_.root(), "1");
  EXPECT_EQ(volume.attribute_value(doc::kMin), "-5");
  EXPECT_EQ(volume.attribute_value(doc::kMax), "98304");
  // Unsigned bounds (min above max as signed numbers) widen as unsigned.
  DocNode unsigned_control = control_with_id(snapshot_.root(), "41");
  EXPECT_EQ(unsigned_control.attribute_value(doc::kMin), "7");
  EXPECT_EQ(unsigned_control.attribute_value(doc::kMax), "-1");
  // Values within their bounds leave them as they are.
  EXPECT_EQ(control_with_id(snapshot_.root(), "50").attribute_value(doc::kMax), "65535");
}

TEST_F(SnapshotTest, DeviceWithoutDestinations) {
  load(R"(<audio_mixer id="0" destinations="0">Nothing</audio_mixer>)");
  ASSERT_TRUE(build());
  EXPECT_EQ(print_root(snapshot_), "<audio_mixer id=\"0\" destinations=\"0\">Nothing</audio_mixer>");
  EXPECT_EQ(default_name_, std::optional<std::string>("Nothing.xml"));
}

TEST_F(SnapshotTest, LongProductNameComesThroughWhole) {
  load(R"(<audio_mixer id="0" destinations="0">ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789</audio_mixer>)");
  ASSERT_TRUE(build());
  EXPECT_EQ(default_name_, std::optional<std::string>("ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789.xml"));
}

// Names holding characters that XML cannot hold even as references (a
// device's description may hold any): saved as characters it can, so that
// the document loads again and its lines pair again with the mixer it was
// saved from.
TEST(SnapshotNamesTest, NamesXmlCannotHoldLoadAndPairAgain) {
  struct Case {
    const char* name;
    std::string raw;
    std::string saved;
  } cases[] = {
      {"start of heading", "a\x01" "b", "a\xE2\x90\x81" "b"},
      {"escape", "\x1B[1m", "\xE2\x90\x9B[1m"},
      {"vertical tab and form feed", "\v\f", "\xE2\x90\x8B\xE2\x90\x8C"},
      {"U+FFFE and U+FFFF", "x\xEF\xBF\xBEy\xEF\xBF\xBF", "x\xEF\xBF\xBDy\xEF\xBF\xBD"},
      {"tab, line feed and U+FFFD stay", "a\tb\nc\xEF\xBF\xBD", "a\tb\nc\xEF\xBF\xBD"},
      // Each run decode_utf8 takes becomes one U+FFFD.
      {"bytes that are not UTF-8", "a\xFF\x80\xC3" "b\xC0\x80\xED\xA0\x80",
       "a\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD" "b\xEF\xBF\xBD\xEF\xBF\xBD"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SimDevice device;
    device.name = "Card";
    SimDestination& line = device.destinations.emplace_back();
    line.name = c.raw;
    line.server_name = "sink " + c.raw;
    line.line_id = 1;
    line.controls = {sim_control(2, ctrl::kVolume, c.raw, 0, 65535, 65535, {7, 8}),
                     sim_list_control(3, ctrl::kMux, "Select", {{c.raw, 1}, {"other", 0}})};
    line.sources.emplace_back().name = "In";
    line.sources.emplace_back().name = "Also in";
    SimMixer mixer(std::move(device));

    std::string saved;
    std::optional<std::string> default_name;
    ASSERT_TRUE(build_saved_snapshot(saved, mixer, default_name, console()));
    InputDocument input;
    CaptureStream err(std::cerr);
    ASSERT_TRUE(load_from_bytes(input, saved, "names.xml"));
    const DocNode destination = input.document.document_element().child(doc::kDestination);
    EXPECT_EQ(destination.text(), c.saved);
    EXPECT_EQ(destination.attribute_value(doc::kServerName), "sink " + c.saved);
    EXPECT_EQ(destination.child(doc::kLineControl).text(), c.saved);

    Document snapshot;
    ASSERT_TRUE(build_snapshot(snapshot, mixer, default_name, console()));
    const ApplyReport report = reconcile_documents(input.document, snapshot, mixer, console());
    EXPECT_TRUE(report.matched);
    EXPECT_EQ(report.paired, 2);
    EXPECT_EQ(report.reported, 0);
    EXPECT_EQ(err.text(), "");
  }
}

}  // namespace
}  // namespace quorvel
