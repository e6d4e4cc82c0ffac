// The simulated device's file: what a device file gives the mixer, and
// which files are refused. The mixer's contract is tested in tests/contract.
#include "platform/sim/sim_mixer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/sim/sim_device_file.h"
#include "support/example_device.h"
#include "support/synthetic_device.h"
#include "support/test_util.h"

namespace quorvel {
namespace {

using testing::load_error;
using testing::mixer_from;
using testing::TempDir;
using testing::write_file;

std::filesystem::path example(const char* name) {
  return testing::source_dir() / "examples" / name;
}

std::vector<std::int32_t> i32(std::initializer_list<std::int64_t> list) {
  std::vector<std::int32_t> out;
  for (std::int64_t v : list) out.push_back(static_cast<std::int32_t>(v));
  return out;
}

// The description of a mixer's device 0; null (a test failure) when it
// fails.
const ModelLayout* describe(Mixer& mixer) {
  const ModelLayout* layout = nullptr;
  EXPECT_EQ(mixer.describe(0, layout), kMixerOk);
  return layout;
}

// The device of the device file `xml`.
SimDevice device_of(const std::string& xml) {
  SimDevice device;
  Result loaded = load_sim_device_bytes(xml, "device.xml", device);
  EXPECT_TRUE(loaded) << loaded.message();
  return device;
}

TEST(SimDeviceFileTest, ExampleSoundCardIsServedAsDescribed) {
  std::string error;
  auto mixer = mixer_from(example("soundcard.xml"), error);
  ASSERT_NE(mixer, nullptr) << error;
  EXPECT_EQ(static_cast<Mixer&>(*mixer).device_count(), 1u);
  const ModelLayout* layout = describe(*mixer);
  ASSERT_NE(layout, nullptr);
  EXPECT_EQ(layout->name, "Demo PCI Sound Card");
  ASSERT_EQ(layout->destinations.size(), 2u);

  const ModelLine& speakers = layout->lines[layout->destinations[0]];
  EXPECT_EQ(speakers.id, 0xFFFF0000u);
  EXPECT_EQ(speakers.component_type, kComponentDstSpeakers);
  EXPECT_EQ(speakers.name, "Speakers");

  const ModelLine& recording = layout->lines[layout->destinations[1]];
  EXPECT_EQ(recording.id, 0xFFFF0001u);
  EXPECT_EQ(recording.component_type, kComponentDstWaveIn);
  ASSERT_GT(recording.sources.size(), 2u);

  // Source j of destination i is line j * 65536 + i, found by id.
  const ModelLine& mic = layout->lines[recording.sources[2]];
  EXPECT_EQ(mic.id, 2u * 65536u + 1u);
  EXPECT_EQ(mic.component_type, 0x1003u);
  EXPECT_EQ(mic.channels, 1u);
  EXPECT_TRUE(mic.sources.empty());
  ASSERT_EQ(layout->line_by_id(mic.id), &mic);
  EXPECT_EQ(mic.name, "Microphone");
  EXPECT_EQ(mic.destination, 1u);
  EXPECT_EQ(mic.source, 2u);
  EXPECT_EQ(&layout->destination_of(mic), &recording);

  // The recording MUX: one item per source of its destination, named after
  // them, exactly one selected.
  const ModelControl* mux = nullptr;
  for (std::size_t c : recording.controls) {
    if (layout->controls[c].type == ctrl::kMux) mux = &layout->controls[c];
  }
  ASSERT_NE(mux, nullptr);
  EXPECT_TRUE(mux->list);
  ASSERT_EQ(mux->items.size(), recording.sources.size());
  EXPECT_EQ(mux->items[2].name, "Microphone");
  EXPECT_EQ(mux->items[2].line_id, mic.id);
  std::vector<std::int32_t> states;
  ASSERT_EQ(read_control(*mixer, mux->id, 1, states), kMixerOk);
  ASSERT_EQ(states.size(), mux->items.size());
  EXPECT_EQ(std::count(states.begin(), states.end(), 1), 1);
  EXPECT_EQ(states, mixer->values(mux->id));

  // Control ids are distinct across the whole device.
  error = check_sim_device(mixer->device()).message();
  EXPECT_EQ(error, "");
  EXPECT_FALSE(mixer->changed());
}

TEST(SimDeviceFileTest, Utf16FilesInEitherByteOrderLoad) {
  SimDevice headset;
  std::string error;
  error = load_error(example("usb_headset.xml"), headset);
  ASSERT_EQ(error, "");
  EXPECT_EQ(headset.name, "USB Headset");
  ASSERT_EQ(headset.destinations.size(), 2u);
  EXPECT_EQ(headset.destinations[1].line_id, 0xFFFF0001u);

  // A long name with two-byte characters comes through whole.
  const std::string name = "Carte son int\xC3\xA9gr\xC3\xA9""e  \xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9";
  const std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-16\"?><audio_mixer id=\"0\">" + name +
                          "<destination line_id=\"-65536\" channels=\"1\" component_type=\"4\">Out"
                          "</destination></audio_mixer>";
  TempDir dir;
  for (bool big_endian : {false, true}) {
    for (bool bom : {false, true}) {
      SCOPED_TRACE(::testing::Message() << "big endian " << big_endian << ", bom " << bom);
      write_file(dir / "d.xml",
                 testing::utf16_bytes(testing::utf8_to_utf16(xml), big_endian, bom));
      auto mixer = mixer_from(dir / "d.xml", error);
      ASSERT_NE(mixer, nullptr) << error;
      EXPECT_EQ(mixer->device().name, name);
      const ModelLayout* layout = describe(*mixer);
      ASSERT_NE(layout, nullptr);
      EXPECT_EQ(layout->name, name);
      EXPECT_EQ(layout->destinations.size(), 1u);
    }
  }
}

TEST(SimDeviceFileTest, InvalidDevicesAreRefusedWithAReason) {
  TempDir dir;
  SimDevice device;
  std::string error;
  error = load_error(dir / "missing.xml", device);
  EXPECT_NE(error, "");
  EXPECT_NE(error.find("cannot read"), std::string::npos) << error;

  write_file(dir / "broken.xml", "<audio_mixer>Card<destination></audio_mixer>");
  error = load_error(dir / "broken.xml", device);
  EXPECT_NE(error, "");
  EXPECT_EQ(error, "\"" + (dir / "broken.xml").string() +
                       "\" is not an XML document: An end tag does not match the start tag, or "
                       "an element is not closed (line 1, position 33)");
  // A duplicate attribute, at the second.
  write_file(dir / "twice.xml", "<audio_mixer id=\"0\" id=\"1\">Card</audio_mixer>");
  error = load_error(dir / "twice.xml", device);
  EXPECT_EQ(error, "\"" + (dir / "twice.xml").string() +
                       "\" is not an XML document: An attribute appears twice in the same tag "
                       "(line 1, position 21)");

  write_file(dir / "other.xml", "<mixer>Card</mixer>");
  error = load_error(dir / "other.xml", device);
  EXPECT_NE(error, "");
  EXPECT_NE(error.find("audio_mixer"), std::string::npos) << error;

  write_file(dir / "empty.xml", "");
  error = load_error(dir / "empty.xml", device);
  EXPECT_NE(error, "");

  const char* dup_control =
      "<audio_mixer>C<destination line_id=\"1\" channels=\"1\">D"
      "<line_control ctrl_id=\"7\" ctrl_type=\"536936450\">M</line_control>"
      "<source channels=\"1\">S<line_control ctrl_id=\"7\" ctrl_type=\"536936450\">M2</line_control>"
      "</source></destination></audio_mixer>";
  write_file(dir / "dup_control.xml", dup_control);
  error = load_error(dir / "dup_control.xml", device);
  EXPECT_NE(error, "");
  EXPECT_NE(error.find("duplicate control identifier 7"), std::string::npos) << error;

  // Source 1 of destination 0 is line 65536, which the second destination claims.
  const char* dup_line =
      "<audio_mixer>C<destination line_id=\"-65536\">D<source>S0</source><source>S1</source>"
      "</destination><destination line_id=\"65536\">E</destination></audio_mixer>";
  write_file(dir / "dup_line.xml", dup_line);
  error = load_error(dir / "dup_line.xml", device);
  EXPECT_NE(error, "");
  EXPECT_NE(error.find("duplicate line identifier 65536"), std::string::npos) << error;

  // A failed load leaves the caller's device alone.
  device.name = "kept";
  error = load_error(dir / "dup_line.xml", device);
  EXPECT_NE(error, "");
  EXPECT_EQ(device.name, "kept");
}

TEST(SimDeviceFileTest, StateAndCountsComeFromTheDocument) {
  // connections is not trusted; missing values read 0; one value fills
  // every channel; a second value is channel 2; items keep `selected`.
  SimMixer mixer(device_of(
      "<audio_mixer>C<destination line_id=\"-65536\" channels=\"2\" connections=\"9\" component_type=\"4\">D"
      "<line_control ctrl_id=\"1\" ctrl_type=\"1342373889\" min=\"0\" max=\"65535\">V<value ch=\"1\">10</value></line_control>"
      "<line_control ctrl_id=\"2\" ctrl_type=\"1342373889\" steps=\"255\" min=\"-5\" max=\"65535\">V2<value>10</value><value>-20</value></line_control>"
      "<line_control ctrl_id=\"3\" ctrl_type=\"536936450\" min=\"0\" max=\"1\">M</line_control>"
      "<line_control ctrl_id=\"4\" ctrl_type=\"1879113729\">X<mux_list><item selected=\"0\">a</item><item selected=\"1\">b</item></mux_list></line_control>"
      "<line_control ctrl_id=\"5\" ctrl_type=\"1879048192\">Single<value>3</value></line_control>"
      "<source src_id=\"5\" channels=\"2\" line_type=\"4104\">a</source><source channels=\"1\" line_type=\"4101\">b</source>"
      "</destination></audio_mixer>"));
  EXPECT_EQ(mixer.values(1), i32({10, 10}));
  EXPECT_EQ(mixer.values(2), i32({10, -20}));
  EXPECT_EQ(mixer.values(3), i32({0, 0}));
  EXPECT_EQ(mixer.values(4), i32({0, 1}));
  EXPECT_TRUE(mixer.values(99).empty());

  const ModelLayout* layout = describe(mixer);
  ASSERT_NE(layout, nullptr);
  const ModelLine& line = layout->lines[layout->destinations[0]];
  EXPECT_EQ(line.sources.size(), 2u);
  EXPECT_EQ(line.controls.size(), 5u);
  // A SINGLESELECT without a list is a plain valued control.
  const ModelControl* single = layout->control_by_id(5);
  ASSERT_NE(single, nullptr);
  EXPECT_FALSE(single->list);
  EXPECT_TRUE(single->items.empty());
  EXPECT_EQ(layout->lines[single->line].id, 0xFFFF0000u);
  // Bounds and steps as the document gives them, the bounds widened to
  // cover the value -20 that the device holds.
  const ModelControl* volume = layout->control_by_id(2);
  ASSERT_NE(volume, nullptr);
  EXPECT_EQ(volume->name, "V2");
  EXPECT_EQ(volume->min, -20);
  EXPECT_EQ(volume->max, 65535);
  EXPECT_EQ(volume->steps, 255u);
  EXPECT_EQ(volume->type, ctrl::kVolume);
}

// Whether the device file is rewritten after a run depends on changed().
TEST(SimMixerTest, ChangedOnlyWhenAWriteChangesAValue) {
  SimMixer mixer(device_of(
      "<audio_mixer>Card<destination line_id=\"-65536\" channels=\"2\">Out"
      "<line_control ctrl_id=\"1\" ctrl_type=\"1342373889\" steps=\"65535\" min=\"0\" max=\"65535\">"
      "Volume<value>100</value><value>200</value></line_control>"
      "<line_control ctrl_id=\"2\" ctrl_type=\"1879113729\">Select<mux_list>"
      "<item selected=\"1\">A</item><item selected=\"0\">B</item></mux_list></line_control>"
      "</destination></audio_mixer>"));
  EXPECT_EQ(write_control(mixer, 1, {5, 70000}), kMixerRefused);
  EXPECT_EQ(write_control(mixer, 2, {1, 1}), kMixerRefused);
  EXPECT_EQ(write_control(mixer, 1, {100, 200}), kMixerOk);
  EXPECT_EQ(write_control(mixer, 2, {1, 0}), kMixerOk);
  EXPECT_FALSE(mixer.changed()) << "refused writes and the values already held";

  EXPECT_EQ(write_control(mixer, 2, {0, 1}), kMixerOk);
  EXPECT_TRUE(mixer.changed());
  EXPECT_EQ(mixer.values(2), i32({0, 1}));
}

TEST(SyntheticDeviceTest, HasTheRequestedSize) {
  SimDevice device = make_sim_device(100000, 3, 10);
  std::string error;
  error = check_sim_device(device).message();
  ASSERT_EQ(error, "");
  SimMixer mixer(std::move(device));
  std::size_t total = 0;
  for (const SimDestination& d : mixer.device().destinations) {
    total += d.controls.size();
    for (const SimSource& s : d.sources) total += s.controls.size();
  }
  EXPECT_EQ(total, 100000u);
  ASSERT_NE(mixer.control(100000), nullptr);
  EXPECT_EQ(mixer.control(1)->type, ctrl::kMux);
  EXPECT_EQ(mixer.control(1)->items.size(), 10u);
}

}  // namespace
}  // namespace quorvel
