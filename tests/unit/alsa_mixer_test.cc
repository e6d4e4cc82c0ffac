// The ALSA back-end's mapping of a card onto the mixer model, on the virtual
// ALSA cards: lines, controls, names, volumes, and what reaches the card.
// The service's contract is tested in tests/contract.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "fakes/alsa_card/virtual_card.h"
#include "platform/alsa/alsa_mixer.h"
#include "platform/alsa/alsa_names.h"
#include "platform/alsa/alsa_volume_scale.h"
#include "app/mixer_select.h"
#include "support/mixer_layout.h"

namespace quorvel {
namespace {

using testing::LineView;
using testing::ProgramResult;
using testing::read_layout;
using testing::VirtualCard;

constexpr std::uint32_t kDst0 = 0xFFFF0000u;
constexpr std::uint32_t kDst1 = 0xFFFF0001u;

MixerResult read_values(const MixerHandle& handle, std::uint32_t id, std::uint32_t channels,
                        std::uint32_t items, std::vector<std::int32_t>& values) {
  values.assign(items > 0 ? channels * items : channels, -7);
  MixerControlDetails details;
  details.dwControlID = id;
  details.cChannels = channels;
  details.cMultipleItems = items;
  details.cbDetails = sizeof(std::int32_t);
  details.paDetails = values.data();
  return handle.service()->get_control_details(handle, details, DetailsQuery::kValue);
}

MixerResult write_values(const MixerHandle& handle, std::uint32_t id, std::uint32_t channels,
                         std::uint32_t items, std::vector<std::int32_t> values) {
  MixerControlDetails details;
  details.dwControlID = id;
  details.cChannels = channels;
  details.cMultipleItems = items;
  details.cbDetails = sizeof(std::int32_t);
  details.paDetails = values.data();
  return handle.service()->set_control_details(handle, details);
}

class AlsaMixerTest : public ::testing::Test {
 protected:
  void open_card(const std::string& device) {
    handle_.close();
    mixer_.reset();
    card_.reset();
    card_ = std::make_unique<VirtualCard>(device);
    std::string error;
    ASSERT_TRUE(testing::succeeded(open_alsa_mixer(card_->device(), mixer_)));
    ASSERT_NE(mixer_, nullptr);
    ASSERT_EQ(mixer_->device_count(), 1u);
    ASSERT_EQ(mixer_->open(0, handle_), MMSYSERR_NOERROR);
    layout_ = read_layout(handle_);
  }

  const LineView& line(std::uint32_t id) const {
    for (const LineView& view : layout_) {
      if (view.line.dwLineID == id) return view;
    }
    ADD_FAILURE() << "no line " << id;
    return layout_.front();
  }

  MixerControl control(const std::string& name) const {
    for (const LineView& view : layout_) {
      for (const MixerControl& c : view.controls) {
        if (name_of(c.szName) == name) return c;
      }
    }
    ADD_FAILURE() << "no control " << name;
    return MixerControl{};
  }

  // The control as the service describes it now.
  MixerControl control_now(const std::string& name) {
    MixerControl found;
    MixerLineControls one;
    one.dwControlID = control(name).dwControlID;
    one.cControls = 1;
    one.pamxctrl = &found;
    EXPECT_EQ(mixer_->get_line_controls(handle_, one, ControlsQuery::kOneById), MMSYSERR_NOERROR);
    return found;
  }

  std::vector<std::int32_t> read(const std::string& name, std::uint32_t channels = 1) {
    const MixerControl c = control(name);
    std::vector<std::int32_t> values;
    EXPECT_EQ(read_values(handle_, c.dwControlID, channels, c.cMultipleItems, values),
              MMSYSERR_NOERROR)
        << name;
    return values;
  }

  MixerResult write(const std::string& name, std::vector<std::int32_t> values) {
    const MixerControl c = control(name);
    const std::uint32_t items = c.cMultipleItems;
    const auto channels =
        static_cast<std::uint32_t>(items > 0 ? values.size() / items : values.size());
    return write_values(handle_, c.dwControlID, channels, items, std::move(values));
  }

  static std::vector<std::string> names(const LineView& view) {
    std::vector<std::string> out;
    for (const MixerControl& c : view.controls) out.push_back(name_of(c.szName));
    return out;
  }

  static std::vector<std::uint32_t> types(const LineView& view) {
    std::vector<std::uint32_t> out;
    for (const MixerControl& c : view.controls) out.push_back(c.dwControlType);
    return out;
  }

  std::unique_ptr<VirtualCard> card_;
  std::unique_ptr<MixerService> mixer_;
  MixerHandle handle_;
  std::vector<LineView> layout_;
};

TEST_F(AlsaMixerTest, LaptopCardIsPresentedAsSpeakersAndRecording) {
  open_card("quorvel_laptop");
  MixerCaps caps;
  ASSERT_EQ(mixer_->get_dev_caps(handle_, caps), MMSYSERR_NOERROR);
  EXPECT_EQ(name_of(caps.szPname), "Virtual HDA Codec");  // the mixer name
  EXPECT_EQ(caps.cDestinations, 2u);

  const LineView& speakers = line(kDst0);
  EXPECT_EQ(name_of(speakers.line.szName), "Master");
  EXPECT_EQ(speakers.line.dwComponentType, kComponentDstSpeakers);
  EXPECT_EQ(speakers.line.cChannels, 2u);
  EXPECT_EQ(names(speakers), (std::vector<std::string>{"Master Volume", "Master Mute",
                                                       "Auto-Mute Mode"}));
  EXPECT_EQ(types(speakers),
            (std::vector<std::uint32_t>{ctrl::kVolume, ctrl::kMute, ctrl::kSingleSelect}));
  const MixerControl master = speakers.controls[0];
  EXPECT_EQ(master.Bounds.lMinimum, 0);
  EXPECT_EQ(master.Bounds.lMaximum, 65535);
  EXPECT_EQ(master.Metrics.cSteps, 87u);
  EXPECT_EQ(master.fdwControl & ctrl::kFlagUniform, 0u);
  const MixerControl automute = speakers.controls[2];
  EXPECT_EQ(automute.Bounds.lMaximum, 1);
  EXPECT_EQ(automute.cMultipleItems, 0u);
  EXPECT_NE(automute.fdwControl & ctrl::kFlagUniform, 0u);

  // Every other playback element is a source, typed by its name, in
  // alsa-lib's element order.
  struct Expected {
    const char* name;
    std::uint32_t type;
    std::uint32_t channels;
  };
  const std::vector<Expected> playback = {
      {"Headphone", 0x1000, 2}, {"Speaker", 0x1000, 2}, {"PCM", 0x1008, 2},
      {"Front Mic", 0x1003, 2}, {"Line", 0x1002, 2},    {"CD", 0x1005, 2},
      {"Mic Boost", 0x1003, 2}, {"Beep", 0x1007, 1}};
  ASSERT_EQ(speakers.line.cConnections, playback.size());
  for (std::uint32_t j = 0; j < playback.size(); ++j) {
    const LineView& source = line(j * 65536u);
    EXPECT_EQ(name_of(source.line.szName), playback[j].name);
    EXPECT_EQ(source.line.dwComponentType, playback[j].type) << playback[j].name;
    EXPECT_EQ(source.line.cChannels, playback[j].channels) << playback[j].name;
    EXPECT_EQ(source.line.dwSource, j);
    ASSERT_FALSE(source.controls.empty());
    EXPECT_EQ(source.controls[0].dwControlType, ctrl::kVolume);
  }
  EXPECT_EQ(names(line(2u * 65536u)), (std::vector<std::string>{"PCM Volume"}));  // no switch
  EXPECT_EQ(line(7u * 65536u).controls[0].fdwControl & ctrl::kFlagUniform,
            ctrl::kFlagUniform);  // the mono Beep

  // Recording: the Capture element, and a MUX over the capture sources that
  // the "Capture Source" enumeration selects between.
  const LineView& recording = line(kDst1);
  EXPECT_EQ(name_of(recording.line.szName), "Capture");
  EXPECT_EQ(recording.line.dwComponentType, kComponentDstWaveIn);
  EXPECT_EQ(types(recording),
            (std::vector<std::uint32_t>{ctrl::kVolume, ctrl::kMute, ctrl::kMux}));
  const MixerControl mux = recording.controls[2];
  ASSERT_EQ(mux.cMultipleItems, 4u);
  EXPECT_NE(mux.fdwControl & ctrl::kFlagMultiple, 0u);
  std::vector<ListText> texts(4);
  MixerControlDetails details;
  details.dwControlID = mux.dwControlID;
  details.cChannels = 1;
  details.cMultipleItems = 4;
  details.cbDetails = sizeof(ListText);
  details.paDetails = texts.data();
  ASSERT_EQ(mixer_->get_control_details(handle_, details, DetailsQuery::kListText),
            MMSYSERR_NOERROR);
  const char* items[] = {"Front Mic", "Line", "CD", "Mic"};
  for (std::uint32_t k = 0; k < 4; ++k) {
    EXPECT_EQ(name_of(texts[k].szName), items[k]);
    EXPECT_EQ(texts[k].dwParam1, k * 65536u + 1u);
    const LineView& source = line(k * 65536u + 1u);
    EXPECT_EQ(name_of(source.line.szName), items[k]);
    EXPECT_TRUE(source.controls.empty());  // the switch is the list item
  }
  EXPECT_EQ(read("Capture Source"), (std::vector<std::int32_t>{0, 0, 0, 1}));
  EXPECT_EQ(read("Master Volume", 2), (std::vector<std::int32_t>{45197, 37664}));  // 60, 50 of 87
  EXPECT_EQ(read("Headphone Mute"), (std::vector<std::int32_t>{1}));  // the switch is off
  EXPECT_EQ(read("Auto-Mute Mode"), (std::vector<std::int32_t>{1}));
}

TEST_F(AlsaMixerTest, HeadsetCardShowsLoneSwitchesEnumerationsAndWideRanges) {
  open_card("quorvel_headset");
  MixerCaps caps;
  ASSERT_EQ(mixer_->get_dev_caps(handle_, caps), MMSYSERR_NOERROR);
  EXPECT_EQ(name_of(caps.szPname), "Quorvel Test Headset");  // no mixer name: the card name

  // No Master: PCM is the master. Switches without a volume and the
  // playback enumeration follow on the speakers destination.
  const LineView& speakers = line(kDst0);
  EXPECT_EQ(name_of(speakers.line.szName), "PCM");
  EXPECT_EQ(names(speakers), (std::vector<std::string>{"PCM Volume", "PCM Mute", "IEC958",
                                                       "Auto Gain Control", "Channel Mode"}));
  EXPECT_EQ(types(speakers), (std::vector<std::uint32_t>{ctrl::kVolume, ctrl::kMute, ctrl::kOnOff,
                                                         ctrl::kOnOff, ctrl::kSingleSelect}));
  EXPECT_EQ(speakers.controls[0].fdwControl & ctrl::kFlagUniform, 0u);
  EXPECT_NE(speakers.controls[1].fdwControl & ctrl::kFlagUniform, 0u);  // joined switch
  EXPECT_EQ(speakers.controls[4].Bounds.lMaximum, 2);

  // 0..100000 is wider than 65,536 steps: shown raw.
  const MixerControl sidetone = control("Sidetone Volume");
  EXPECT_EQ(sidetone.Bounds.lMinimum, 0);
  EXPECT_EQ(sidetone.Bounds.lMaximum, 100000);
  EXPECT_EQ(read("Sidetone Volume"), (std::vector<std::int32_t>{25000}));
  EXPECT_EQ(read("PCM Volume", 2), (std::vector<std::int32_t>{49151, 46335}));  // of -10240..0

  // No Capture element; capture switches that are not exclusive make a
  // MIXER; the capture enumeration sits on the recording destination.
  const LineView& recording = line(kDst1);
  EXPECT_EQ(name_of(recording.line.szName), "Capture");
  EXPECT_EQ(recording.line.cChannels, 2u);
  EXPECT_EQ(types(recording),
            (std::vector<std::uint32_t>{ctrl::kMixer, ctrl::kSingleSelect}));
  EXPECT_EQ(names(line(0u * 65536u + 1u)), (std::vector<std::string>{"Line Capture Volume"}));
  EXPECT_EQ(names(line(1u * 65536u + 1u)), (std::vector<std::string>{"Mic Capture Volume"}));
  EXPECT_EQ(read("Capture Source"), (std::vector<std::int32_t>{0, 1}));
  EXPECT_EQ(read("Mic Select"), (std::vector<std::int32_t>{1}));
}

TEST_F(AlsaMixerTest, SurroundCardShowsEveryChannelAndSwitchesApart) {
  open_card("quorvel_surround");
  const LineView& speakers = line(kDst0);
  EXPECT_EQ(speakers.line.cChannels, 6u);
  EXPECT_EQ(names(speakers), (std::vector<std::string>{"Master Volume", "Master Mute"}));
  for (const char* name : {"Master Volume", "Master Mute", "PCM Mute", "Capture Mute"}) {
    EXPECT_EQ(control(name).fdwControl & ctrl::kFlagUniform, 0u) << name;
  }
  EXPECT_EQ(read("Master Volume", 6),
            (std::vector<std::int32_t>{2570, 5140, 7710, 10280, 12850, 15420}));  // 10..60 of 255
  EXPECT_EQ(read("Master Mute", 6), (std::vector<std::int32_t>{0, 1, 0, 0, 1, 0}));
  EXPECT_EQ(read("PCM Mute", 2), (std::vector<std::int32_t>{1, 0}));

  ASSERT_EQ(write("Master Mute", {1, 0, 0, 0, 0, 1}), MMSYSERR_NOERROR);
  EXPECT_EQ(card_->control_values("Master Playback Switch"), "off,on,on,on,on,off");
  ASSERT_EQ(write("Master Volume", {0, 257, 514, 771, 1028, 65535}), MMSYSERR_NOERROR);
  EXPECT_EQ(card_->control_values("Master Playback Volume"), "0,1,2,3,4,255");
  ASSERT_EQ(write("Capture Mute", {0, 1}), MMSYSERR_NOERROR);
  EXPECT_EQ(card_->control_values("Capture Switch"), "on,off");
}

TEST_F(AlsaMixerTest, SoundServerVolumeAboveItsDeclaredMaximum) {
  open_card("quorvel_server");
  // The virtual source's volume has no channels: not shown, and its switch,
  // which always reads "on", goes with it, so there is no recording line.
  ASSERT_EQ(layout_.size(), 1u);
  EXPECT_EQ(layout_[0].line.dwLineID, kDst0);
  EXPECT_EQ(names(layout_[0]), (std::vector<std::string>{"Master Volume", "Master Mute"}));
  // 0..65536 is shown raw; the bounds cover the 150 % held in channel 6.
  const MixerControl master = control("Master Volume");
  EXPECT_EQ(master.Bounds.lMinimum, 0);
  EXPECT_EQ(master.Bounds.lMaximum, 98304);
  EXPECT_EQ(master.Metrics.cSteps, 65536u);
  EXPECT_EQ(read("Master Volume", 6),
            (std::vector<std::int32_t>{65536, 65536, 32768, 32768, 49152, 98304}));

  // A value beyond the bounds goes to the element, which holds up to 400 %:
  // taken, and the bounds cover it from then on.
  ASSERT_EQ(write("Master Volume", {200000}), MMSYSERR_NOERROR);
  EXPECT_EQ(card_->control_values("Master Playback Volume"),
            "200000,200000,200000,200000,200000,200000");
  EXPECT_EQ(control_now("Master Volume").Bounds.lMaximum, 200000);
  ASSERT_EQ(write("Master Volume", {1, 2, 3, 4, 5, 131072}), MMSYSERR_NOERROR);
  EXPECT_EQ(card_->control_values("Master Playback Volume"), "1,2,3,4,5,131072");
  // Beyond what the element holds, or below its range: refused, whole.
  EXPECT_EQ(write("Master Volume", {300000}), MIXERR_INVALVALUE);
  EXPECT_EQ(write("Master Volume", {7, -1, 7, 7, 7, 7}), MIXERR_INVALVALUE);
  EXPECT_EQ(write("Master Mute", {2}), MIXERR_INVALVALUE);
  EXPECT_EQ(card_->control_values("Master Playback Volume"), "1,2,3,4,5,131072");
}

// A driver that clamps a value beyond its range and reports success: the
// bounds cover what the element holds after the write, not what was asked.
TEST_F(AlsaMixerTest, ValueThatTheDriverClampsLeavesTheBoundsAsTheyWere) {
  open_card("quorvel_clamping");
  ASSERT_EQ(write("Master Volume", {70000, 80000}), MMSYSERR_NOERROR);
  EXPECT_EQ(card_->control_values("Master Playback Volume"), "87,87");
  EXPECT_EQ(control_now("Master Volume").Bounds.lMaximum, 65535);
  EXPECT_EQ(read("Master Volume", 2), (std::vector<std::int32_t>{65535, 65535}));
}

std::string layout_signature(const std::vector<LineView>& lines) {
  std::string text;
  for (const LineView& view : lines) {
    text += std::to_string(view.line.dwLineID) + " " + name_of(view.line.szName) + "\n";
    for (const MixerControl& c : view.controls) {
      text += "  " + std::to_string(c.dwControlID) + " " + std::to_string(c.dwControlType) + " " +
              name_of(c.szName) + "\n";
    }
  }
  return text;
}

TEST_F(AlsaMixerTest, IdentifiersAreUniqueAndTheSameForTheSameCard) {
  open_card("quorvel_laptop");
  std::set<std::uint32_t> lines;
  std::set<std::uint32_t> controls;
  std::size_t control_count = 0;
  for (const LineView& view : layout_) {
    EXPECT_TRUE(lines.insert(view.line.dwLineID).second);
    for (const MixerControl& c : view.controls) {
      controls.insert(c.dwControlID);
      ++control_count;
    }
  }
  EXPECT_EQ(controls.size(), control_count);

  // Another service on the same card, after its values changed, numbers
  // everything the same.
  ASSERT_EQ(card_->amixer({"sset", "Master", "0%", "mute"}).exit_code, 0);
  std::unique_ptr<MixerService> other;
  std::string error;
  ASSERT_TRUE(testing::succeeded(open_alsa_mixer(card_->device(), other)));
  MixerHandle handle;
  ASSERT_EQ(other->open(0, handle), MMSYSERR_NOERROR);
  EXPECT_EQ(layout_signature(read_layout(handle)), layout_signature(layout_));
}

// The contract's refusals (tests/contract), seen from the card's side.
TEST_F(AlsaMixerTest, RefusedWritesNeverReachTheCard) {
  open_card("quorvel_laptop");
  const std::string before = card_->amixer({"scontents"}).out;
  EXPECT_EQ(write("Master Volume", {65536}), MIXERR_INVALVALUE);
  EXPECT_EQ(write("Master Volume", {100, -1}), MIXERR_INVALVALUE);  // all or nothing
  EXPECT_EQ(write("Master Mute", {2}), MIXERR_INVALVALUE);
  EXPECT_EQ(write("Auto-Mute Mode", {2}), MIXERR_INVALVALUE);
  EXPECT_EQ(write("Auto-Mute Mode", {-1}), MIXERR_INVALVALUE);
  EXPECT_EQ(write("Capture Source", {0, 1, 1, 0}), MIXERR_INVALVALUE);  // a MUX: exactly one
  EXPECT_EQ(write("Capture Source", {0, 0, 0, 0}), MIXERR_INVALVALUE);
  EXPECT_EQ(write("Capture Source", {0, 2, 0, 0}), MIXERR_INVALVALUE);
  EXPECT_EQ(card_->amixer({"scontents"}).out, before);
  EXPECT_EQ(read("Master Volume", 2), (std::vector<std::int32_t>{45197, 37664}));

  open_card("quorvel_headset");
  EXPECT_EQ(write("Sidetone Volume", {100001}), MIXERR_INVALVALUE);  // raw bounds
  EXPECT_EQ(write("Capture Source", {1, 2}), MIXERR_INVALVALUE);
  EXPECT_EQ(write("IEC958", {-1}), MIXERR_INVALVALUE);
  EXPECT_EQ(card_->control_values("Sidetone Playback Volume"), "25000");
}

TEST_F(AlsaMixerTest, WritesReachTheCardAsOtherProgramsSeeThem) {
  open_card("quorvel_laptop");
  // Per channel, and as a whole; round half up (32768 of 87 is 43.5006).
  ASSERT_EQ(write("Master Volume", {0, 65535}), MMSYSERR_NOERROR);
  EXPECT_EQ(card_->control_values("Master Playback Volume"), "0,87");
  ASSERT_EQ(write("Master Volume", {32768}), MMSYSERR_NOERROR);
  EXPECT_EQ(card_->control_values("Master Playback Volume"), "44,44");
  EXPECT_EQ(read("Master Volume", 2), (std::vector<std::int32_t>{33144, 33144}));  // 44 of 87
  ASSERT_EQ(write("Capture Volume", {65535, 1040}), MMSYSERR_NOERROR);
  EXPECT_EQ(card_->control_values("Capture Volume"), "63,1");

  // MUTE is the inverse of the switch.
  ASSERT_EQ(write("Master Mute", {1}), MMSYSERR_NOERROR);
  EXPECT_EQ(card_->control_values("Master Playback Switch"), "off,off");
  ASSERT_EQ(write("Master Mute", {0, 1}), MMSYSERR_NOERROR);  // per channel
  EXPECT_EQ(card_->control_values("Master Playback Switch"), "on,off");
  ASSERT_EQ(write("Capture Mute", {1}), MMSYSERR_NOERROR);
  EXPECT_EQ(card_->control_values("Capture Switch"), "off,off");
  ASSERT_EQ(write("Beep Mute", {1}), MMSYSERR_NOERROR);
  EXPECT_EQ(card_->control_values("Beep Playback Switch"), "off");

  // An enumeration takes the item's index; a common volume (Mic Boost)
  // writes through.
  ASSERT_EQ(write("Auto-Mute Mode", {0}), MMSYSERR_NOERROR);
  EXPECT_EQ(card_->control_values("Auto-Mute Mode"), "0");
  ASSERT_EQ(write("Mic Boost Volume", {65535, 21845}), MMSYSERR_NOERROR);
  EXPECT_EQ(card_->control_values("Mic Boost Volume"), "3,1");

  // The MUX moves the "Capture Source" enumeration, in one write.
  ASSERT_EQ(write("Capture Source", {0, 0, 1, 0}), MMSYSERR_NOERROR);
  EXPECT_EQ(card_->control_values("Capture Source"), "3");  // "CD", the enumeration's item 3
  EXPECT_EQ(read("Capture Source"), (std::vector<std::int32_t>{0, 0, 1, 0}));
}

TEST_F(AlsaMixerTest, HeadsetListsSwitchesAndJoinedControls) {
  open_card("quorvel_headset");
  // A MIXER takes any combination of its sources.
  ASSERT_EQ(write("Capture Source", {1, 1}), MMSYSERR_NOERROR);
  EXPECT_EQ(card_->control_values("Line Capture Switch"), "on,on");
  EXPECT_EQ(card_->control_values("Mic Capture Switch"), "on");
  ASSERT_EQ(write("Capture Source", {0, 0}), MMSYSERR_NOERROR);
  EXPECT_EQ(card_->control_values("Mic Capture Switch"), "off");
  EXPECT_EQ(read("Capture Source"), (std::vector<std::int32_t>{0, 0}));

  // ONOFF is the switch itself.
  ASSERT_EQ(write("IEC958", {1}), MMSYSERR_NOERROR);
  EXPECT_EQ(card_->control_values("IEC958 Playback Switch"), "on");
  ASSERT_EQ(write("Auto Gain Control", {0}), MMSYSERR_NOERROR);
  EXPECT_EQ(card_->control_values("Auto Gain Control"), "off");

  // A joined switch on a stereo line takes the first value for both
  // channels and reads the same on both.
  ASSERT_EQ(write("PCM Mute", {1, 0}), MMSYSERR_NOERROR);
  EXPECT_EQ(card_->control_values("PCM Playback Switch"), "off");
  EXPECT_EQ(read("PCM Mute", 2), (std::vector<std::int32_t>{1, 1}));

  // A raw range goes through as it is; the capture enumeration by index.
  ASSERT_EQ(write("Sidetone Volume", {99999}), MMSYSERR_NOERROR);
  EXPECT_EQ(card_->control_values("Sidetone Playback Volume"), "99999");
  ASSERT_EQ(write("Mic Select", {0}), MMSYSERR_NOERROR);
  EXPECT_EQ(card_->control_values("Mic Select Capture Enum"), "0");
  ASSERT_EQ(write("PCM Volume", {0, 65535}), MMSYSERR_NOERROR);
  EXPECT_EQ(card_->control_values("PCM Playback Volume"), "-10240,0");
}

TEST_F(AlsaMixerTest, HandlesSeeWritesMadeThroughOthersAndRunsSeeOtherPrograms) {
  open_card("quorvel_laptop");
  MixerHandle first;
  MixerHandle second;
  ASSERT_EQ(mixer_->open(0, first), MMSYSERR_NOERROR);
  ASSERT_EQ(mixer_->open(0, second), MMSYSERR_NOERROR);
  const std::uint32_t volume = control("PCM Volume").dwControlID;
  const std::uint32_t mux = control("Capture Source").dwControlID;
  std::vector<std::int32_t> values;
  ASSERT_EQ(read_values(second, volume, 2, 0, values), MMSYSERR_NOERROR);

  ASSERT_EQ(write_values(first, volume, 2, 0, {0, 257}), MMSYSERR_NOERROR);
  ASSERT_EQ(read_values(second, volume, 2, 0, values), MMSYSERR_NOERROR);
  EXPECT_EQ(values, (std::vector<std::int32_t>{0, 257}));

  // Selecting one source of the MUX deselects the others, also as the
  // writing handle reads it back.
  ASSERT_EQ(write_values(first, mux, 1, 4, {1, 0, 0, 0}), MMSYSERR_NOERROR);
  ASSERT_EQ(read_values(first, mux, 1, 4, values), MMSYSERR_NOERROR);
  EXPECT_EQ(values, (std::vector<std::int32_t>{1, 0, 0, 0}));
  ASSERT_EQ(read_values(second, mux, 1, 4, values), MMSYSERR_NOERROR);
  EXPECT_EQ(values, (std::vector<std::int32_t>{1, 0, 0, 0}));

  // A change made by another program shows in the next service (the next
  // run), which opens the card afresh.
  ASSERT_EQ(card_->amixer({"sset", "PCM", "255,0"}).exit_code, 0);
  std::unique_ptr<MixerService> next;
  ASSERT_TRUE(testing::succeeded(open_alsa_mixer(card_->device(), next)));
  MixerHandle later;
  ASSERT_EQ(next->open(0, later), MMSYSERR_NOERROR);
  ASSERT_EQ(read_values(later, volume, 2, 0, values), MMSYSERR_NOERROR);
  EXPECT_EQ(values, (std::vector<std::int32_t>{65535, 0}));
}

// A card that adjusts what it is given (its volumes keep even raw values
// only, rounding down) is read as it holds the values right after a write,
// through every handle: never as they were written.
TEST_F(AlsaMixerTest, ReadsAfterWritesShowWhatTheCardMadeOfThem) {
  open_card("quorvel_rounding");
  const AlsaVolumeScale master{0, 87};
  const AlsaVolumeScale mic{0, 31};
  MixerHandle other;
  ASSERT_EQ(mixer_->open(0, other), MMSYSERR_NOERROR);
  std::vector<std::int32_t> values;

  // 61 and 51 become 60 and 50, which the card held already.
  ASSERT_EQ(write("Master Volume", {master.to_shown(61), master.to_shown(51)}), MMSYSERR_NOERROR);
  EXPECT_EQ(card_->control_values("Master Playback Volume"), "60,50");
  EXPECT_EQ(read("Master Volume", 2),
            (std::vector<std::int32_t>{master.to_shown(60), master.to_shown(50)}));
  // 31 becomes 30, in both channels; the switch beside it is written as
  // given.
  ASSERT_EQ(write("Front Mic Volume", {mic.to_shown(31)}), MMSYSERR_NOERROR);
  ASSERT_EQ(write("Front Mic Mute", {0}), MMSYSERR_NOERROR);
  EXPECT_EQ(card_->control_values("Front Mic Playback Volume"), "30,30");
  const std::uint32_t volume = control("Front Mic Volume").dwControlID;
  ASSERT_EQ(read_values(other, volume, 2, 0, values), MMSYSERR_NOERROR);
  EXPECT_EQ(values, (std::vector<std::int32_t>{mic.to_shown(30), mic.to_shown(30)}));
  EXPECT_EQ(read("Front Mic Mute", 2), (std::vector<std::int32_t>{0, 0}));
  // The same value again changes nothing, and reads the same.
  ASSERT_EQ(write("Front Mic Volume", {mic.to_shown(31)}), MMSYSERR_NOERROR);
  ASSERT_EQ(read_values(handle_, volume, 2, 0, values), MMSYSERR_NOERROR);
  EXPECT_EQ(values, (std::vector<std::int32_t>{mic.to_shown(30), mic.to_shown(30)}));
}

TEST(AlsaSourceTypeTest, NamesGiveComponentTypes) {
  struct Case {
    const char* name;
    std::uint32_t type;
  } cases[] = {
      {"PCM", 0x1008},        {"pcm,1", 0x1000},       {"Mic", 0x1003},
      {"Front Mic", 0x1003},  {"Mic Boost", 0x1003},   {"Mic2", 0x1003},
      {"Internal MIC", 0x1003}, {"Microphone", 0x1003}, {"CD", 0x1005},
      {"Line", 0x1002},       {"Line Out", 0x1002},    {"Synth", 0x1004},
      {"PC Speaker", 0x1007}, {"Beep", 0x1007},        {"Phone", 0x1006},
      {"Aux", 0x1009},        {"Headphone", 0x1000},   {"Speaker", 0x1000},
      {"Master", 0x1000},     {"Microphone2", 0x1003}, {"Mice", 0x1000},
      {"", 0x1000},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(alsa_source_component_type(c.name), c.type) << c.name;
  }
}

TEST(AlsaPlatformMixerTest, NamedDevicesThatCannotBeUsedAreErrors) {
  VirtualCard card("quorvel_laptop");
  std::unique_ptr<OpenedMixer> mixer;
  std::string error;
  error = open_mixer("alsa:quorvel_nosuchcard", mixer).message();
  EXPECT_NE(error, "");
  EXPECT_NE(error.find("\"quorvel_nosuchcard\""), std::string::npos) << error;
  error = open_mixer("alsa:", mixer).message();
  EXPECT_NE(error, "");
  error = open_mixer("oss:/dev/mixer", mixer).message();
  EXPECT_NE(error, "");
  EXPECT_NE(error.find("\"oss\""), std::string::npos) << error;
  EXPECT_EQ(mixer, nullptr);

  // The program names the setting in one line: no alsa-lib messages.
  std::map<std::string, std::string> env = card.env();
  env["QUORVEL_MIXER"] = "alsa:quorvel_nosuchcard";
  ProgramResult result = testing::run_quorvel({"-out"}, env, card.dir().path());
  EXPECT_EQ(result.exit_code, 1);
  EXPECT_EQ(result.err.rfind("quorvel: error: QUORVEL_MIXER=alsa:quorvel_nosuchcard: ", 0), 0u)
      << result.err;
  EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1) << result.err;
}

TEST(AlsaPlatformMixerTest, WithoutSoundCardsOrDefaultDeviceThereIsNoMixerAndNoNoise) {
  if (!alsa_card_devices().empty()) GTEST_SKIP() << "this machine has a sound card";
  testing::TempDir dir;
  // A configuration of nothing (no default device), one alsa-lib cannot
  // read, and ones whose default is a sound server's plugin: with
  // QUORVEL_MIXER unset a server is never reached through ALSA's plugin for
  // it, which neither names the server nor bounds its waits (here the
  // plugin types are served by the virtual card, which would answer).
  testing::write_file(dir / "empty.conf", "");
  const std::string plugin = (std::filesystem::path(QUORVEL_ALSA_TEST_CONFIG).parent_path() /
                              "libasound_module_ctl_quorveltest.so")
                                 .string();
  for (const std::string type : {"pulse", "pipewire"}) {
    testing::write_file(dir / (type + ".conf"),
                        "ctl_type." + type + " { lib \"" + plugin +
                            "\" open \"_snd_ctl_quorveltest_open\" }\nctl.!default { type " +
                            type + " model server }\n");
  }
  for (const char* config : {"empty.conf", "missing.conf", "pulse.conf", "pipewire.conf"}) {
    ProgramResult result = testing::run_quorvel(
        {"-out"},
        {{"ALSA_CONFIG_PATH", (dir / config).string()}, {"PULSE_SERVER", ""},
         {"PULSE_RUNTIME_PATH", ""}, {"XDG_RUNTIME_DIR", dir.path().string()}},
        dir.path());
    EXPECT_EQ(result.err,
              "Brevalt, Inc.: Tavorin Could not find any mixer drivers on this System!\n")
        << config;
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.exit_code, 1);
  }
}

// A machine whose only mixer is a sound server's: ALSA's default control
// device (here the virtual server card) is device 0.
TEST(AlsaPlatformMixerTest, WithoutSoundCardsTheDefaultDeviceIsTheMixer) {
  if (!alsa_card_devices().empty()) GTEST_SKIP() << "this machine has a sound card";
  testing::TempDir dir;
  testing::write_file(dir / "server.conf", std::string("<") + QUORVEL_ALSA_TEST_CONFIG +
                                               ">\nctl.!default { type quorveltest model server }\n");
  ProgramResult result = testing::run_quorvel(
      {"-out"}, {{"ALSA_CONFIG_PATH", (dir / "server.conf").string()}}, dir.path());
  EXPECT_EQ(result.err, "audio XML file saved OK.");
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_TRUE(std::filesystem::exists(dir / "Quorvel Test Server.xml"));
}

}  // namespace
}  // namespace quorvel
