// Restoring onto a mixer whose lines carry the device's own names and
// speaker positions: lines paired by name, then by kind with the default
// first; values by speaker position; ports by name; the default switch.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <optional>
#include <sstream>

#include "app/console_reporter.h"
#include "apply/preview.h"
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

const std::vector<std::string> kStereo = {"front-left", "front-right"};
const std::vector<std::string> kQuad = {"front-left", "front-right", "rear-left", "rear-right"};
// In the order of a WAVE file's channels, in which a document's values
// by number would give a 4.0 line's rear speakers the centre and LFE ones.
const std::vector<std::string> kFiveOne = {"front-left", "front-right", "front-center",
                                           "lfe",        "rear-left",   "rear-right"};
const std::vector<std::string> kFiveOneSide = {"front-left", "front-right", "front-center",
                                               "lfe",        "side-left",   "side-right"};
const std::vector<std::string> kSevenOne = {"front-left", "front-right", "front-center",
                                            "lfe",        "rear-left",   "rear-right",
                                            "side-left",  "side-right"};

// A sound server's sink or source as a destination: its volume (control
// id `id`), mute (id + 1) and default switch (id + 2).
SimDestination line(std::uint32_t kind, std::string server_name, std::uint32_t id,
                    std::vector<std::int32_t> volume, bool is_default,
                    std::vector<std::string> positions = kStereo) {
  SimDestination destination;
  destination.name = server_name + " description";
  destination.server_name = std::move(server_name);
  destination.line_id = 0xFFFF0000u + id;
  destination.component_type = kind;
  destination.channels = static_cast<std::uint32_t>(positions.size());
  destination.positions = std::move(positions);
  destination.controls = {
      sim_control(id, ctrl::kVolume, "Volume", 0, 65535, 65535, std::move(volume)),
      sim_control(id + 1, ctrl::kMute, "Mute", 0, 1, 0, {0}),
      sim_control(id + 2, ctrl::kDefaultSwitch, "Default", 0, 1, 0, {is_default ? 1 : 0}),
  };
  return destination;
}

constexpr std::uint32_t kSink = kComponentDstSpeakers;
constexpr std::uint32_t kSource = kComponentDstWaveIn;
constexpr std::uint32_t kMonitor = kComponentDstMonitor;

SimDevice server(std::vector<SimDestination> lines) {
  SimDevice device;
  device.name = "Sound Server";
  device.destinations = std::move(lines);
  return device;
}

std::string snapshot_of(Mixer& mixer) {
  std::string bytes;
  std::optional<std::string> name;
  EXPECT_TRUE(build_saved_snapshot(bytes, mixer, name, console()));
  return bytes;
}

// `saved` parsed, and the snapshot of `mixer` to pair it with.
void load(const std::string& saved, Mixer& mixer, Document& input, Document& snapshot) {
  const Result parsed = parse_document(saved, input);
  ASSERT_EQ(parsed.message(), "");
  std::optional<std::string> name;
  ASSERT_TRUE(build_snapshot(snapshot, mixer, name, console()));
}

// Restores `saved` onto `mixer`; what the restore reported on stderr goes
// to `errors`.
ApplyReport restore(const std::string& saved, Mixer& mixer, std::string& errors) {
  Document input, snapshot;
  load(saved, mixer, input, snapshot);
  CaptureStream err(std::cerr);
  ApplyReport report = reconcile_documents(input, snapshot, mixer, console());
  errors = err.text();
  return report;
}

// What a preview of `saved` onto `mixer` prints, the mixer's names in it.
std::string preview(const std::string& saved, Mixer& mixer) {
  Document input, snapshot;
  load(saved, mixer, input, snapshot);
  RestorePlan plan = plan_restore(input, snapshot, mixer, console());
  name_writes_by_mixer(plan, mixer);
  std::ostringstream out;
  print_preview(plan, out, console());
  return out.str();
}

// Lines from one mixer's document restored onto another: which of the
// second mixer's controls end with which values.
//
// A document that shares lines with the mixer (by name or product) is this
// machine's, or one like it: a named line that is not here stands for a
// device that is gone and gives nothing to another; a line of the same
// product stands in for it; lines of one name never cross.
TEST(LinePairingTest, LinesPairByNameThenByProductThenByKindWithTheDefaultFirst) {
  auto of_product = [](SimDestination destination, std::string product) {
    destination.product_id = std::move(product);
    return destination;
  };
  const std::string kGone =
      "quorvel: note: destination \"usb.headset description\" (\"usb.headset\") is not on this "
      "mixer; none of its values goes to another line\n";
  struct Case {
    const char* name;
    std::vector<SimDestination> saved;
    std::vector<SimDestination> present;
    std::map<std::uint32_t, std::vector<std::int32_t>> after;  // by control id
    std::optional<std::string> errors = std::nullopt;  // the notes, where the row says
  };
  const Case cases[] = {
      {"the default changed: each sink's values go back to it, the saved default is again",
       {line(kSink, "alsa_output.speakers", 10, {100, 200}, true),
        line(kSink, "alsa_output.headset", 20, {300, 400}, false)},
       {line(kSink, "alsa_output.headset", 20, {1, 1}, true),
        line(kSink, "alsa_output.speakers", 10, {2, 2}, false)},
       // The headset stays default too: a restore never turns one off.
       {{10, {100, 200}}, {12, {1, 1}}, {20, {300, 400}}, {22, {1, 1}}}},
      {"another machine: the defaults pair, then the rest by name; a monitor never pairs "
       "with a microphone",
       {line(kSink, "b.hdmi", 10, {1000, 1001}, false),
        line(kSink, "a.speakers", 20, {2000, 2001}, true),
        line(kMonitor, "a.speakers.monitor", 30, {3000, 3001}, false),
        line(kSource, "c.mic", 40, {4000, 4001}, true)},
       {line(kSink, "x.usb", 110, {0, 0}, false), line(kSink, "y.analog", 120, {0, 0}, true),
        line(kSink, "z.bluetooth", 130, {0, 0}, false),
        line(kSource, "y.mic", 140, {0, 0}, false)},
       {{110, {1000, 1001}}, {120, {2000, 2001}}, {130, {0, 0}}, {140, {4000, 4001}},
        {142, {1, 1}}}},
      {"another machine whose default source is a microphone: the saved default monitor's "
       "values go to a monitor, which does not take the default from the microphone",
       {line(kSink, "a.speakers", 10, {100, 101}, true),
        line(kMonitor, "a.speakers.monitor", 20, {200, 201}, true)},
       {line(kSink, "x.usb", 110, {0, 0}, true), line(kMonitor, "x.usb.monitor", 120, {0, 0}, false),
        line(kSource, "x.mic", 130, {0, 0}, true)},
       {{110, {100, 101}}, {120, {200, 201}}, {122, {0, 0}}, {130, {0, 0}}, {132, {1, 1}}}},
      {"the same monitor, paired by name, is the default source again",
       {line(kMonitor, "a.speakers.monitor", 20, {200, 201}, true),
        line(kSource, "a.mic", 30, {300, 301}, false)},
       {line(kSource, "a.mic", 130, {300, 301}, true),
        line(kMonitor, "a.speakers.monitor", 120, {200, 201}, false)},
       {{122, {1, 1}}}},
      {"a name pairs within its kind only; the rest pair by kind",
       {line(kSource, "same", 10, {10, 11}, false), line(kSink, "other", 20, {20, 21}, false)},
       {line(kSink, "same", 110, {0, 0}, false), line(kSource, "mic", 120, {0, 0}, false)},
       {{110, {20, 21}}, {120, {10, 11}}}},
      {"a card's document (no names) goes to the server's default sink",
       {line(kSink, "", 10, {500, 600}, false)},
       {line(kSink, "a.hdmi", 110, {0, 0}, false), line(kSink, "b.analog", 120, {0, 0}, true)},
       {{110, {0, 0}}, {120, {500, 600}}}},
      {"the default headset is unplugged: the speakers get theirs, the new sink nothing",
       {line(kSink, "usb.headset", 10, {100270, 100270}, true),
        line(kSink, "pci.speakers", 20, {300, 400}, false)},
       {line(kSink, "bt.sink", 110, {5, 5}, false), line(kSink, "pci.speakers", 120, {1, 1}, true)},
       {{110, {5, 5}}, {112, {0, 0}}, {120, {300, 400}}, {122, {1, 1}}},
       kGone},
      {"the same product on another port stands in for the headset; a named line left pairs "
       "with nothing",
       {of_product(line(kSink, "usb.headset", 10, {100, 200}, true), "0x046d:0x0a44"),
        line(kSink, "hdmi.tv", 20, {300, 400}, false)},
       {of_product(line(kSink, "usb.headset-2", 110, {0, 0}, false), "0x046d:0x0a44"),
        line(kSink, "pci.speakers", 120, {7, 7}, true)},
       {{110, {100, 200}}, {112, {1, 1}}, {120, {7, 7}}},
       "quorvel: note: destination \"hdmi.tv description\" (\"hdmi.tv\") is not on this mixer; "
       "none of its values goes to another line\n"},
      {"a product identity on one side only pairs nothing",
       {of_product(line(kSink, "usb.headset", 10, {100, 200}, true), "0x046d:0x0a44"),
        line(kSink, "pci.speakers", 20, {300, 400}, false)},
       {line(kSink, "bt.sink", 110, {0, 0}, false), line(kSink, "pci.speakers", 120, {1, 1}, true)},
       {{110, {0, 0}}, {120, {300, 400}}},
       kGone},
      {"two sinks of one name keep their own values",
       {line(kSink, "twin", 10, {100, 101}, false), line(kSink, "twin", 20, {200, 201}, false)},
       {line(kSink, "twin", 110, {0, 0}, true), line(kSink, "twin", 120, {0, 0}, false)},
       {{110, {100, 101}}, {120, {200, 201}}},
       ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SimMixer source(server(c.saved));
    SimMixer target(server(c.present));
    std::string errors;
    const ApplyReport report = restore(snapshot_of(source), target, errors);
    EXPECT_EQ(report.reported, 0) << errors;
    EXPECT_TRUE(report.matched);
    if (c.errors) {
      EXPECT_EQ(errors, *c.errors);
    }
    for (const auto& [id, values] : c.after) {
      EXPECT_EQ(target.values(id), values) << "control " << id;
    }
  }
}

// A mixer that goes away part-way through a restore (a sound server
// stopped or killed) is said once, with how far the restore got; nothing is
// reported as refused, and nothing more is read or written. A snapshot
// built from it then fails in one line too.
TEST(GoneMixerTest, IsSaidOnceWithHowFarTheRestoreGot) {
  SimMixer saved_from(
      server({line(kSink, "a", 10, {100, 100}, false), line(kSink, "b", 20, {200, 200}, false)}));
  const std::string saved = snapshot_of(saved_from);
  SimMixer inner(server({line(kSink, "a", 10, {1, 1}, false), line(kSink, "b", 20, {2, 2}, false)}));
  RecordingMixer mixer(inner);
  // Volume and mute of "a", then the volume of "b": the third write.
  mixer.fail_on(MixerOp::kWrite, 20, kMixerGone);
  std::string errors;
  const ApplyReport report = restore(saved, mixer, errors);
  EXPECT_EQ(errors,
            "quorvel: error: the mixer \"Sound Server\" went away after 2 of 4 writes; nothing "
            "more was written (the write sent as it went may or may not have been made)\n");
  EXPECT_EQ(report.reported, 1);
  EXPECT_EQ(mixer.calls(MixerOp::kWrite), 1u);
  EXPECT_EQ(inner.values(10), (std::vector<std::int32_t>{100, 100}));
  EXPECT_EQ(inner.values(20), (std::vector<std::int32_t>{2, 2}));

  mixer.clear_failures();
  mixer.fail_next(MixerOp::kRead, kMixerGone);
  Document document;
  std::optional<std::string> name;
  CaptureStream err(std::cerr);
  EXPECT_FALSE(build_snapshot(document, mixer, name, console()));
  EXPECT_EQ(err.text(), "quorvel: error: the mixer \"Sound Server\" went away while it was read; "
                        "its document is not complete\n");
}

TEST(LinePairingTest, SourcesUnderADestinationPairByNameToo) {
  auto device = [](std::vector<std::string> names, std::uint32_t first_id) {
    SimDestination playback = line(kSink, "", 1, {0, 0}, false);
    for (std::size_t k = 0; k < names.size(); ++k) {
      SimSource stream;
      stream.name = names[k];
      stream.server_name = names[k];
      stream.line_type = 0x1008;
      const auto id = static_cast<std::uint32_t>(first_id + k);
      const auto value = static_cast<std::int32_t>(id);
      stream.controls = {sim_control(id, ctrl::kVolume, "V", 0, 65535, 65535, {value, value})};
      playback.sources.push_back(stream);
    }
    return server({playback});
  };
  SimMixer source(device({"music", "chat"}, 10));
  SimMixer target(device({"chat", "alerts", "music"}, 20));
  std::string errors;
  restore(snapshot_of(source), target, errors);
  EXPECT_EQ(errors, "");
  EXPECT_EQ(target.values(20), (std::vector<std::int32_t>{11, 11}));  // chat
  EXPECT_EQ(target.values(21), (std::vector<std::int32_t>{21, 21}));  // alerts, not saved
  EXPECT_EQ(target.values(22), (std::vector<std::int32_t>{10, 10}));  // music
}

// Values placed by speaker position, channel by channel (kept: -1).
TEST(PositionPairingTest, ValuesGoToTheChannelsOfTheirPositions) {
  struct Case {
    const char* name;
    std::vector<std::string> document;  // the values' positions; the values are 1, 2, ...
    std::vector<std::string> control;
    std::optional<std::vector<std::int32_t>> placed;  // none: by number
  };
  const Case cases[] = {
      {"5.1 onto 4.0: the rear values to the rear, centre and LFE left out", kFiveOne, kQuad,
       std::vector<std::int32_t>{1, 2, 5, 6}},
      {"4.0 onto 5.1: centre and LFE keep theirs", kQuad, kFiveOne,
       std::vector<std::int32_t>{1, 2, -1, -1, 3, 4}},
      {"7.1 onto 5.1 (side): the side values to the sides", kSevenOne, kFiveOneSide,
       std::vector<std::int32_t>{1, 2, 3, 4, 7, 8}},
      {"mono onto stereo: both", {"mono"}, kStereo, std::vector<std::int32_t>{1, 1}},
      {"mono onto 5.1: every channel", {"mono"}, kFiveOne, std::vector<std::int32_t>(6, 1)},
      {"stereo onto mono: the front left", {"front-right", "front-left"}, {"mono"},
       std::vector<std::int32_t>{2}},
      {"mono onto mono", {"mono"}, {"mono"}, std::vector<std::int32_t>{1}},
      {"the same layout in another order", {"front-right", "front-left"}, kStereo,
       std::vector<std::int32_t>{2, 1}},
      {"no position in common: by number", {"aux0", "aux1"}, kStereo, std::nullopt},
      {"rear only onto mono: by number", {"rear-left", "rear-right"}, {"mono"}, std::nullopt},
      {"a document without positions: by number", {}, kStereo, std::nullopt},
      {"a control without positions: by number", kStereo, {}, std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::int32_t> values = {1, 2};
    if (!c.document.empty()) values.resize(c.document.size());
    for (std::size_t k = 0; k < values.size(); ++k) values[k] = static_cast<std::int32_t>(k + 1);
    const auto placed = place_by_position(values, c.document, c.control);
    ASSERT_EQ(placed.has_value(), c.placed.has_value());
    if (!placed) continue;
    const std::vector<std::int32_t> now(c.control.size(), -1);
    EXPECT_EQ(put_values(now, *placed), *c.placed);
  }
}

// Through a whole restore: a 5.1 sink's document onto a 4.0 sink, whose
// rear speakers get the rear values; the preview shows the same.
TEST(PositionPairingTest, SurroundDocumentOntoQuadMovesValuesBySpeaker) {
  SimMixer source(server({line(kSink, "surround", 10, {1, 2, 3, 4, 5, 6}, true, kFiveOne)}));
  SimMixer target(server({line(kSink, "quad", 10, {0, 0, 0, 0}, true, kQuad)}));
  const std::string saved = snapshot_of(source);

  const std::string out = preview(saved, target);
  EXPECT_NE(out.find("\"Volume\" ch 3: 0 (0%) -> 5 (0%)\n"), std::string::npos) << out;
  EXPECT_NE(out.find("\"Volume\" ch 4: 0 (0%) -> 6 (0%)\n"), std::string::npos) << out;
  EXPECT_EQ(out.find("-> 3 "), std::string::npos) << out;

  std::string errors;
  EXPECT_EQ(restore(saved, target, errors).reported, 0) << errors;
  EXPECT_EQ(target.values(10), (std::vector<std::int32_t>{1, 2, 5, 6}));
}

// A preview names the mixer's own lines and controls, not the document's,
// and tells lines of one description apart by their device names.
TEST(PreviewNamesTest, ThePreviewNamesTheMixersLinesAndControls) {
  auto named = [](SimDestination destination, std::string name) {
    destination.name = std::move(name);
    return destination;
  };
  SimMixer source(server({named(line(kSink, "a.null", 10, {100, 100}, false), "Old name"),
                          named(line(kSink, "b.null", 20, {200, 200}, true), "Null Output")}));
  SimMixer target(server({named(line(kSink, "a.null", 10, {0, 0}, false), "Null Output"),
                          named(line(kSink, "b.null", 20, {200, 200}, true), "Null Output")}));
  EXPECT_EQ(preview(snapshot_of(source), target),
            "change: \"Null Output\" (a.null) / \"Volume\" ch 1: 0 (0%) -> 100 (0%)\n"
            "change: \"Null Output\" (a.null) / \"Volume\" ch 2: 0 (0%) -> 100 (0%)\n"
            "2 values would change, 0 would be refused, 5 already match\n");
}

TEST(DefaultSwitchTest, OnlyAOneIsWrittenAndOnlyWhenItChangesSomething) {
  auto device = [](bool first_default) {
    return server({line(kSink, "a", 10, {5, 5}, first_default),
                   line(kSink, "b", 20, {6, 6}, !first_default)});
  };
  SimMixer source(device(true));
  const std::string saved = snapshot_of(source);
  SimMixer target(device(false));
  RecordingMixer recorder(target);
  // A write of b's default switch (the document's 0) would fail, and be reported.
  recorder.fail_on(MixerOp::kWrite, 22, kMixerFailed);
  std::string errors;
  EXPECT_EQ(restore(saved, recorder, errors).reported, 0) << errors;
  EXPECT_EQ(target.values(12), (std::vector<std::int32_t>{1, 1}));
  EXPECT_EQ(target.values(22), (std::vector<std::int32_t>{1, 1}));

  // a is the default now: restoring again writes no default switch at all.
  recorder.fail_on(MixerOp::kWrite, 12, kMixerFailed);
  EXPECT_EQ(restore(saved, recorder, errors).reported, 0) << errors;
}

// A sound server's sink as the restore sees it: a volume (id 1) and a list
// of its ports (id 2) with the one at `selected` active.
SimDevice port_device(const std::vector<std::string>& ports, std::size_t selected,
                      std::int32_t left, std::int32_t right) {
  std::string items;
  for (std::size_t k = 0; k < ports.size(); ++k) {
    items += "<item selected=\"" + std::string(k == selected ? "1" : "0") + "\">" + ports[k] +
             "</item>";
  }
  SimDevice device;
  const Result loaded = load_sim_device_bytes(
      R"(<audio_mixer>Ports<destination line_id="-65536" server_name="sink" channels="2">Output)"
      R"(<line_control ctrl_id="1" ctrl_type="1342373889" max="65535">Volume<value>)" +
          std::to_string(left) + "</value><value>" + std::to_string(right) +
          R"(</value></line_control><line_control ctrl_id="2" ctrl_type="1879113730">Port<mux_list>)" +
          items + "</mux_list></line_control></destination></audio_mixer>",
      "ports.xml", device);
  EXPECT_TRUE(loaded) << loaded.message();
  return device;
}

TEST(PortPairingTest, PortsPairByNameAndAMissingPortIsANoteNotAFailure) {
  struct Case {
    const char* name;
    std::vector<std::string> saved_ports;
    std::size_t saved_selected;
    std::vector<std::int32_t> after;  // the present mixer's selection
    const char* note;                 // on stderr, or nothing
  };
  const Case cases[] = {
      {"the same port at another place", {"headphones", "speaker"}, 0, {0, 0, 1}, nullptr},
      {"a port this device lacks is left out", {"hdmi", "speaker"}, 0, {0, 1, 0},
       "quorvel: note: control \"Port\" (type 1879113730, id 2): port \"hdmi\" is not on this "
       "device; left out\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SimMixer source(port_device(c.saved_ports, c.saved_selected, 100, 200));
    SimMixer target(port_device({"line-out", "speaker", "headphones"}, 1, 7, 7));
    std::string errors;
    const ApplyReport report = restore(snapshot_of(source), target, errors);
    EXPECT_EQ(report.reported, 0) << errors;
    EXPECT_EQ(target.values(2), c.after);
    EXPECT_EQ(target.values(1), (std::vector<std::int32_t>{100, 200}));
    EXPECT_EQ(errors, c.note != nullptr ? c.note : "");
  }
}

}  // namespace
}  // namespace quorvel
