// The simulated device's file: written from the device's whole state and
// read back the same, and refused beyond its bounds.
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "app/console_reporter.h"
#include "platform/sim/sim_device_file.h"
#include "platform/sim/sim_mixer.h"
#include "snapshot/snapshot.h"
#include "support/example_device.h"
#include "support/test_util.h"

namespace quorvel {
namespace {

using testing::TempDir;
using testing::write_file;

// A device with what a snapshot does not show: six channels that differ, a
// mute whose channels differ, values of custom and unknown-type controls, a
// value on a MUX, lists on source lines and a list with more items than the
// line has sources, a single-select with a list, a volume with a list,
// names of blanks only and with carriage returns, and a value past the
// line's channel count (not part of the device), and a port select whose
// file gives no list (it has items all the same).
constexpr const char* kRichDevice = R"(<audio_mixer id="0"><![CDATA[ ]]><destination line_id="-65536" channels="6" component_type="4">Surround<line_control ctrl_id="1" ctrl_type="1342373889" min="0" max="65535" steps="65535">Volume<value>1</value><value>2</value><value>3</value><value>1</value><value>5</value><value>6</value><value>7</value></line_control><line_control ctrl_id="2" ctrl_type="536936450" max="1">Mute<value>0</value><value>1</value></line_control><line_control ctrl_id="3" ctrl_type="0">Custom<value>5</value><value>7</value></line_control><line_control ctrl_id="4" ctrl_type="123456">Unknown<value>-9</value></line_control><line_control ctrl_id="5" ctrl_type="1879113729" max="1">Select<value>3</value><mux_list><item selected="1">A</item><item selected="0">B</item><item selected="0">extra</item></mux_list></line_control><line_control ctrl_id="6" ctrl_type="1879113728" max="1">Single<value>1</value><mux_list><item selected="0">x</item><item selected="1">y</item></mux_list></line_control><line_control ctrl_id="7" ctrl_type="1342373889" max="65535">Listed Volume<value>9</value><mixer_list><item selected="1">z</item></mixer_list></line_control><line_control ctrl_id="8" ctrl_type="1879113730">Port</line_control><source channels="2" line_type="4104">A<line_control ctrl_id="10" ctrl_type="1895890945" max="1">Source Mix<mixer_list><item selected="1">p</item><item selected="1">q</item></mixer_list></line_control><line_control ctrl_id="11" ctrl_type="1879113729">Source Mux<mux_list><item selected="1">only</item></mux_list></line_control></source><source channels="1" line_type="4099">&#13;B&#13;&#10;C<line_control ctrl_id="12" ctrl_type="1895890944">Multi<mixer_list><item selected="1"><![CDATA[ ]]></item></mixer_list></line_control></source></destination><destination line_id="7" channels="0" component_type="7"><![CDATA[  ]]><line_control ctrl_id="20" ctrl_type="268632064">Meter<value>4</value></line_control></destination></audio_mixer>)";

// Loads the text of a device file into `device`: the message that refuses
// it, "" when it loads.
std::string text_error(const std::string& text, SimDevice& device) {
  const Result loaded = load_sim_device_bytes(text, "device.xml", device);
  return loaded ? std::string() : loaded.message();
}

SimDevice load_text(const std::string& text) {
  SimDevice device;
  EXPECT_EQ(text_error(text, device), "");
  return device;
}

// The device as the service holds it: channel values filled.
SimDevice served(SimDevice device) { return SimMixer(std::move(device)).device(); }

TEST(SimDeviceWriterTest, WhatIsWrittenReadsBackAsTheSameDevice) {
  const SimDevice device = served(load_text(kRichDevice));
  TempDir dir;
  ASSERT_TRUE(testing::succeeded(save_sim_device_file(device, dir / "device.xml")));
  SimDevice reloaded;
  ASSERT_EQ(testing::load_error(dir / "device.xml", reloaded), "");
  EXPECT_TRUE(served(reloaded) == device);

  // What the snapshot form would have lost is there.
  SimMixer mixer(std::move(reloaded));
  EXPECT_EQ(mixer.device().name, " ");
  EXPECT_EQ(mixer.device().destinations[0].sources[1].name, "\nB\nC");
  EXPECT_EQ(mixer.device().destinations[1].name, "  ");
  EXPECT_EQ(mixer.values(1), (std::vector<std::int32_t>{1, 2, 3, 1, 5, 6}));
  EXPECT_EQ(mixer.values(2), (std::vector<std::int32_t>{0, 1, 0, 0, 0, 0}));
  EXPECT_EQ(mixer.control(3)->values, (std::vector<std::int32_t>{5, 7, 5, 5, 5, 5}));
  EXPECT_EQ(mixer.control(4)->values, std::vector<std::int32_t>(6, -9));
  EXPECT_EQ(mixer.control(5)->values, std::vector<std::int32_t>(6, 3));
  EXPECT_EQ(mixer.values(5), (std::vector<std::int32_t>{1, 0, 0}));
  EXPECT_EQ(mixer.values(6), (std::vector<std::int32_t>{0, 1}));
  EXPECT_EQ(mixer.control(7)->items.size(), 1u);
  EXPECT_EQ(mixer.values(10), (std::vector<std::int32_t>{1, 1}));
  EXPECT_EQ(mixer.values(11), (std::vector<std::int32_t>{1}));
  EXPECT_EQ(mixer.control(12)->items[0].name, " ");
  // A line without channels serves no control, but the device keeps it.
  EXPECT_EQ(mixer.values(20), std::vector<std::int32_t>{});
  EXPECT_EQ(mixer.device().destinations[1].controls[0].values, (std::vector<std::int32_t>{4}));

  // Written again, the file is the same file.
  const std::string first = testing::read_file(dir / "device.xml");
  ASSERT_TRUE(testing::succeeded(save_sim_device_file(mixer.device(), dir / "device.xml")));
  EXPECT_EQ(testing::read_file(dir / "device.xml"), first);
}

TEST(SimDeviceWriterTest, ChangedValuesAreWrittenAndNothingElseMoves) {
  SimMixer mixer(load_text(kRichDevice));
  const std::vector<std::int32_t> volume{10, 20, 30, 40, 50, 60};
  ASSERT_EQ(write_control(mixer, 1, volume), kMixerOk);
  TempDir dir;
  ASSERT_TRUE(testing::succeeded(save_sim_device_file(mixer.device(), dir / "device.xml")));
  SimDevice reloaded;
  ASSERT_EQ(testing::load_error(dir / "device.xml", reloaded), "");
  SimDevice expected = served(load_text(kRichDevice));
  expected.destinations[0].controls[0].values = volume;
  EXPECT_TRUE(served(reloaded) == expected);
}

// The device file and the snapshot are written by the same code: the file
// of the device a snapshot shows is, byte for byte, the saved snapshot,
// whatever the names hold (references, control characters, blanks, "]]>",
// characters of every length, bytes that are not UTF-8).
TEST(SimDeviceWriterTest, DeviceFileOfWhatASnapshotShowsIsTheSavedSnapshot) {
  auto same = [](const SimDevice& device) {
    SimMixer mixer(device);
    std::string expected;
    std::optional<std::string> name;
    EXPECT_TRUE(testing::succeeded(build_saved_snapshot(expected, mixer, name, console())));
    // The device as the saved snapshot shows it.
    SimDevice shown;
    EXPECT_EQ(text_error(expected, shown), "");
    const std::string written = serialize_sim_device(served(shown));
    EXPECT_EQ(written, expected);
    return written == expected;
  };
  EXPECT_TRUE(same(SimDevice{}));

  const std::vector<std::string> names = {
      "", " ", "\t\n ", "a&b<c>d\"e'f", "\x01\x1F\x7F\x0B", "x]]>y", "]]>", "nul\0after",
      "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80", "\xFF\x80\xC3", "\xED\xA0\x80\xF7\xBF\xBF\xBF",
      "\xC0\x80\xF0\x80\x80\x80", std::string(27, 'n') + "\xE2\x82\xAC&"};
  std::uint32_t seed = 12345;
  auto next = [&seed] { return seed = seed * 1103515245u + 12345u; };
  for (int round = 0; round < 20; ++round) {
    SimDevice device;
    device.name = names[next() % names.size()];
    std::uint32_t id = 1;
    for (std::uint32_t d = 0; d < 1 + next() % 3; ++d) {
      SimDestination& destination = device.destinations.emplace_back();
      destination.name = names[next() % names.size()];
      destination.line_id = next();
      destination.channels = next() % 4;
      // Some lines carry a server's name and their channels' positions.
      auto identity = [&](std::string& server_name, std::vector<std::string>& positions,
                          std::uint32_t channels) {
        if (next() % 2 == 0) return;
        server_name = names[next() % names.size()];
        for (std::uint32_t k = 0; k < channels; ++k) {
          positions.push_back(k % 2 == 0 ? names[next() % names.size()] : "front-right");
        }
      };
      identity(destination.server_name, destination.positions, destination.channels);
      auto controls = [&](std::vector<SimControl>& list, std::uint32_t channels) {
        // The first four types show values, the others none.
        static const std::uint32_t types[] = {0x50030001, 0x20010002, 0x10020001, 0x70010000, 0,
                                              123456, 0x70010001, 0x71010001, 0x71010000};
        for (std::uint32_t c = 0; channels > 0 && c < next() % 5; ++c) {
          SimControl& control = list.emplace_back();
          control.id = id++;
          const std::size_t type = next() % (sizeof types / sizeof types[0]);
          control.type = types[type];
          control.name = names[next() % names.size()];
          control.min = static_cast<std::int32_t>(next());
          control.max = static_cast<std::int32_t>(next());
          control.steps = next();
          for (std::uint32_t v = 0; type < 4 && v < next() % 4; ++v) {
            control.values.push_back(static_cast<std::int32_t>(next() % 3) - 1);
          }
          for (std::uint32_t k = 0; k < next() % 3; ++k) {
            control.items.push_back(SimItem{names[next() % names.size()],
                                            static_cast<std::int32_t>(next() % 2)});
          }
        }
      };
      controls(destination.controls, destination.channels);
      for (std::uint32_t j = 0; j < next() % 3; ++j) {
        SimSource& source = destination.sources.emplace_back();
        source.name = names[next() % names.size()];
        source.channels = next() % 3;
        source.line_type = next();
        identity(source.server_name, source.positions, source.channels);
        controls(source.controls, source.channels);
      }
    }
    SCOPED_TRACE(round);
    if (!same(device)) break;
  }
}

// A device file past a bound is refused with one line that says which.
TEST(SimDeviceBoundsTest, CountsBeyondTheBoundsAreRefusedBeforeAnythingIsMade) {
  // What is wrong with the device, after the file's name.
  auto error_of = [](const std::string& text) {
    SimDevice device;
    const std::string error = text_error(text, device);
    const std::string invalid = "device.xml is not a valid device: ";
    EXPECT_TRUE(testing::begins_with(error, invalid));
    return error.substr(std::min(error.size(), invalid.size()));
  };
  const std::string control = "<line_control ctrl_id=\"1\" ctrl_type=\"1342373889\">V</line_control>";
  EXPECT_EQ(error_of("<audio_mixer><destination channels=\"-1\">D" + control +
                     "</destination></audio_mixer>"),
            "destination 0: 4294967295 channels (a line has at most 64)");
  EXPECT_EQ(error_of("<audio_mixer><destination channels=\"64\">D</destination>"
                     "<destination line_id=\"1\" channels=\"2\"><source/><source channels=\"65\"/>"
                     "</destination></audio_mixer>"),
            "destination 1 source 1: 65 channels (a line has at most 64)");

  std::string many_items = "<audio_mixer><destination><line_control ctrl_id=\"4\" ctrl_type=\"1895890945\"><mixer_list>";
  for (std::size_t i = 0; i <= kMaxSimItemsPerList; ++i) many_items += "<item/>";
  EXPECT_EQ(error_of(many_items + "</mixer_list></line_control></destination></audio_mixer>"),
            "destination 0, control 4: more than 65536 list items");

  std::string many_destinations = "<audio_mixer>";
  for (std::size_t i = 0; i <= kMaxSimDestinations; ++i) many_destinations += "<destination/>";
  EXPECT_EQ(error_of(many_destinations + "</audio_mixer>"), "more than 65536 destinations");

  std::string many_sources = "<audio_mixer><destination>";
  for (std::size_t i = 0; i <= kMaxSimSourcesPerDestination; ++i) many_sources += "<source/>";
  EXPECT_EQ(error_of(many_sources + "</destination></audio_mixer>"),
            "destination 0: more than 65536 sources");

  // 2^24 channel values: 2^18 controls on lines of 64 channels, plus one.
  std::string many_values = "<audio_mixer><destination channels=\"64\">";
  for (std::size_t i = 0; i <= kMaxSimValues / 64; ++i) many_values += "<line_control/>";
  EXPECT_EQ(error_of(many_values + "</destination></audio_mixer>"),
            "more than 16777216 channel values and list items in all");
}

TEST(SimDeviceBoundsTest, FilesThatNeverEndAreReadUnderTheDocumentBound) {
#ifdef _WIN32
  GTEST_SKIP() << "no /dev/zero on Windows";
#endif
  SimDevice device;
  EXPECT_EQ(testing::load_error(std::filesystem::path("/dev/zero"), device),
            "cannot read the device file \"/dev/zero\": the file is larger than 67108864 bytes");
}

}  // namespace
}  // namespace quorvel
