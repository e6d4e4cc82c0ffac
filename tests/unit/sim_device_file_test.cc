// The simulated device's file: what a device file gives the service, and
// which files are refused. The service's contract is tested in
// tests/contract.
#include "platform/sim/sim_mixer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "platform/mixer/control_values.h"
#include "platform/os/text_encoding.h"
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

struct Open {
  explicit Open(SimMixer& mixer) { EXPECT_EQ(mixer.open(0, handle), MMSYSERR_NOERROR); }
  MixerHandle handle;
};

std::vector<std::int32_t> i32(std::initializer_list<std::int64_t> list) {
  std::vector<std::int32_t> out;
  for (std::int64_t v : list) out.push_back(static_cast<std::int32_t>(v));
  return out;
}

TEST(SimDeviceFileTest, ExampleSoundCardIsServedAsDescribed) {
  std::string error;
  auto mixer = mixer_from(example("soundcard.xml"), error);
  ASSERT_NE(mixer, nullptr) << error;
  EXPECT_EQ(mixer->device_count(), 1u);
  Open o(*mixer);

  MixerCaps caps;
  ASSERT_EQ(mixer->get_dev_caps(o.handle, caps), MMSYSERR_NOERROR);
  EXPECT_EQ(name_of(caps.szPname), "Demo PCI Sound Card");
  ASSERT_EQ(caps.cDestinations, 2u);

  MixerLine speakers;
  speakers.dwDestination = 0;
  ASSERT_EQ(mixer->get_line_info(o.handle, speakers, LineQuery::kDestination), MMSYSERR_NOERROR);
  EXPECT_EQ(speakers.dwLineID, 0xFFFF0000u);
  EXPECT_EQ(speakers.dwComponentType, kComponentDstSpeakers);
  EXPECT_EQ(name_of(speakers.szName), "Speakers");

  MixerLine recording;
  recording.dwDestination = 1;
  ASSERT_EQ(mixer->get_line_info(o.handle, recording, LineQuery::kDestination), MMSYSERR_NOERROR);
  EXPECT_EQ(recording.dwLineID, 0xFFFF0001u);
  EXPECT_EQ(recording.dwComponentType, kComponentDstWaveIn);
  ASSERT_GT(recording.cConnections, 1u);

  // Source j of destination i is line j * 65536 + i, found by index and by id.
  MixerLine mic;
  mic.dwDestination = 1;
  mic.dwSource = 2;
  ASSERT_EQ(mixer->get_line_info(o.handle, mic, LineQuery::kSource), MMSYSERR_NOERROR);
  EXPECT_EQ(mic.dwLineID, 2u * 65536u + 1u);
  EXPECT_EQ(mic.dwComponentType, 0x1003u);
  EXPECT_EQ(mic.cChannels, 1u);
  EXPECT_EQ(mic.cConnections, 0u);
  MixerLine by_id;
  by_id.dwLineID = mic.dwLineID;
  ASSERT_EQ(mixer->get_line_info(o.handle, by_id, LineQuery::kLineId), MMSYSERR_NOERROR);
  EXPECT_EQ(name_of(by_id.szName), "Microphone");
  EXPECT_EQ(by_id.dwDestination, 1u);
  EXPECT_EQ(by_id.dwSource, 2u);

  // The recording MUX: one item per source of its destination, named after
  // them, exactly one selected.
  std::vector<MixerControl> controls(recording.cControls);
  MixerLineControls query;
  query.dwLineID = recording.dwLineID;
  query.cControls = recording.cControls;
  query.pamxctrl = controls.data();
  ASSERT_EQ(mixer->get_line_controls(o.handle, query, ControlsQuery::kAll), MMSYSERR_NOERROR);
  const MixerControl* mux = nullptr;
  for (const MixerControl& c : controls) {
    if (c.dwControlType == ctrl::kMux) mux = &c;
  }
  ASSERT_NE(mux, nullptr);
  EXPECT_EQ(mux->cMultipleItems, recording.cConnections);
  EXPECT_TRUE(mux->fdwControl & ctrl::kFlagMultiple);
  std::vector<ListText> texts(mux->cMultipleItems);
  MixerControlDetails d;
  d.dwControlID = mux->dwControlID;
  d.cChannels = 1;
  d.cMultipleItems = mux->cMultipleItems;
  d.cbDetails = sizeof(ListText);
  d.paDetails = texts.data();
  ASSERT_EQ(mixer->get_control_details(o.handle, d, DetailsQuery::kListText), MMSYSERR_NOERROR);
  EXPECT_EQ(name_of(texts[2].szName), "Microphone");
  EXPECT_EQ(texts[2].dwParam1, mic.dwLineID);
  std::vector<std::int32_t> states = mixer->values(mux->dwControlID);
  ASSERT_EQ(states.size(), mux->cMultipleItems);
  EXPECT_EQ(std::count(states.begin(), states.end(), 1), 1);

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

  // A name longer than 31 bytes with a two-byte character at the cut.
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
      Open o(*mixer);
      MixerCaps caps;
      ASSERT_EQ(mixer->get_dev_caps(o.handle, caps), MMSYSERR_NOERROR);
      // Names are the platform's 8-bit text (on Windows the system code page).
      EXPECT_EQ(system_to_utf8(name_of(caps.szPname)), name.substr(0, 30));  // 31 would split an "é"
      EXPECT_EQ(caps.cDestinations, 1u);
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
  // What only the well-formedness check finds.
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
  const char* xml =
      "<audio_mixer>C<destination line_id=\"-65536\" channels=\"2\" connections=\"9\" component_type=\"4\">D"
      "<line_control ctrl_id=\"1\" ctrl_type=\"1342373889\" min=\"0\" max=\"65535\">V<value ch=\"1\">10</value></line_control>"
      "<line_control ctrl_id=\"2\" ctrl_type=\"1342373889\" steps=\"255\" min=\"-5\" max=\"65535\">V2<value>10</value><value>-20</value></line_control>"
      "<line_control ctrl_id=\"3\" ctrl_type=\"536936450\" min=\"0\" max=\"1\">M</line_control>"
      "<line_control ctrl_id=\"4\" ctrl_type=\"1879113729\">X<mux_list><item selected=\"0\">a</item><item selected=\"1\">b</item></mux_list></line_control>"
      "<line_control ctrl_id=\"5\" ctrl_type=\"1879048192\">Single<value>3</value></line_control>"
      "<source src_id=\"5\" channels=\"2\" line_type=\"4104\">a</source><source channels=\"1\" line_type=\"4101\">b</source>"
      "</destination></audio_mixer>";
  pugi::xml_document document;
  ASSERT_TRUE(document.load_string(xml));
  SimDevice device;
  std::string error;
  error = load_error(document, device);
  ASSERT_EQ(error, "");
  SimMixer mixer(std::move(device));
  EXPECT_EQ(mixer.values(1), i32({10, 10}));
  EXPECT_EQ(mixer.values(2), i32({10, -20}));
  EXPECT_EQ(mixer.values(3), i32({0, 0}));
  EXPECT_EQ(mixer.values(4), i32({0, 1}));
  EXPECT_TRUE(mixer.values(99).empty());

  Open o(mixer);
  MixerLine line;
  ASSERT_EQ(mixer.get_line_info(o.handle, line, LineQuery::kDestination), MMSYSERR_NOERROR);
  EXPECT_EQ(line.cConnections, 2u);
  EXPECT_EQ(line.cControls, 5u);
  // A SINGLESELECT without a list is a plain valued control.
  MixerControl c;
  MixerLineControls one;
  one.dwControlID = 5;
  one.cControls = 1;
  one.pamxctrl = &c;
  ASSERT_EQ(mixer.get_line_controls(o.handle, one, ControlsQuery::kOneById), MMSYSERR_NOERROR);
  EXPECT_EQ(c.cMultipleItems, 0u);
  EXPECT_EQ(c.fdwControl & ctrl::kFlagMultiple, 0u);
  EXPECT_EQ(one.dwLineID, 0xFFFF0000u);
  // Bounds and steps as the document gives them, the bounds widened to
  // cover the value -20 that the device holds.
  one.dwControlID = 2;
  ASSERT_EQ(mixer.get_line_controls(o.handle, one, ControlsQuery::kOneById), MMSYSERR_NOERROR);
  EXPECT_EQ(name_of(c.szName), "V2");
  EXPECT_EQ(c.Bounds.lMinimum, -20);
  EXPECT_EQ(c.Bounds.lMaximum, 65535);
  EXPECT_EQ(c.Metrics.cSteps, 255u);
  EXPECT_EQ(c.dwControlType, ctrl::kVolume);
}

// Whether the device file is rewritten after a run depends on changed().
TEST(SimMixerTest, ChangedOnlyWhenAWriteChangesAValue) {
  SimDevice device;
  device.name = "Card";
  SimDestination out;
  out.line_id = 0xFFFF0000u;
  out.controls = {sim_control(1, ctrl::kVolume, "Volume", 0, 65535, 65535, {100, 200}),
                  sim_list_control(2, ctrl::kMux, "Select", {{"A", 1}, {"B", 0}})};
  device.destinations.push_back(out);
  SimMixer mixer(std::move(device));
  Open o(mixer);
  std::vector<std::int32_t> values{5, 70000};
  EXPECT_EQ(write_control_values(o.handle, 1, 2, 0, values), MIXERR_INVALVALUE);
  values = {1, 1};
  EXPECT_EQ(write_control_values(o.handle, 2, 1, 2, values), MIXERR_INVALVALUE);
  values = {100, 200};
  EXPECT_EQ(write_control_values(o.handle, 1, 2, 0, values), MMSYSERR_NOERROR);
  values = {1, 0};
  EXPECT_EQ(write_control_values(o.handle, 2, 1, 2, values), MMSYSERR_NOERROR);
  EXPECT_FALSE(mixer.changed()) << "refused writes and the values already held";

  values = {0, 1};
  EXPECT_EQ(write_control_values(o.handle, 2, 1, 2, values), MMSYSERR_NOERROR);
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
