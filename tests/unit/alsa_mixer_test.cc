// The ALSA back-end's mapping of a card onto the mixer model, on the virtual
// ALSA cards: lines, controls, names, volumes, and what reaches the card.
// The mixer contract is tested in tests/contract.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "app/console_reporter.h"
#include "fakes/alsa_card/virtual_card.h"
#include "platform/alsa/alsa_mixer.h"
#include "platform/alsa/alsa_names.h"
#include "platform/alsa/alsa_volume_scale.h"
#include "app/mixer_select.h"

namespace quorvel {
namespace {

using testing::ProgramResult;
using testing::VirtualCard;

constexpr std::uint32_t kDst0 = 0xFFFF0000u;
constexpr std::uint32_t kDst1 = 0xFFFF0001u;

class AlsaMixerTest : public ::testing::Test {
 protected:
  void open_card(const std::string& device) {
    layout_ = nullptr;
    mixer_.reset();
    card_.reset();
    card_ = std::make_unique<VirtualCard>(device);
    Expected<std::unique_ptr<Mixer>> opened = open_alsa_mixer(card_->device());
    ASSERT_TRUE(testing::succeeded(opened));
    mixer_ = std::move(opened).value();
    ASSERT_NE(mixer_, nullptr);
    ASSERT_EQ(mixer_->device_count(), 1u);
    ASSERT_EQ(mixer_->describe(0, layout_), kMixerOk);
  }

  const ModelLine& line(std::uint32_t id) const {
    static const ModelLine none;
    const ModelLine* found = layout_->line_by_id(id);
    if (found == nullptr) ADD_FAILURE() << "no line " << id;
    return found == nullptr ? none : *found;
  }

  // The control `k` of `owner`, in order.
  const ModelControl& control_of(const ModelLine& owner, std::size_t k) const {
    static const ModelControl none;
    if (k >= owner.controls.size()) ADD_FAILURE() << owner.name << " has no control " << k;
    return k < owner.controls.size() ? layout_->controls[owner.controls[k]] : none;
  }

  // The control named `name`, as the mixer describes it now (the bounds of
  // a volume cover what it was given since).
  const ModelControl& control(const std::string& name) const {
    static const ModelControl none;
    for (const ModelControl& c : layout_->controls) {
      if (c.name == name) return c;
    }
    ADD_FAILURE() << "no control " << name;
    return none;
  }

  std::vector<std::int32_t> read(const std::string& name, std::uint32_t channels = 1) {
    std::vector<std::int32_t> values;
    EXPECT_EQ(read_control(*mixer_, control(name).id, channels, values), kMixerOk) << name;
    return values;
  }

  MixerResult write(const std::string& name, std::vector<std::int32_t> values) {
    return write_control(*mixer_, control(name).id, std::move(values));
  }

  std::vector<std::string> names(const ModelLine& owner) const {
    std::vector<std::string> out;
    for (std::size_t c : owner.controls) out.push_back(layout_->controls[c].name);
    return out;
  }

  std::vector<std::uint32_t> types(const ModelLine& owner) const {
    std::vector<std::uint32_t> out;
    for (std::size_t c : owner.controls) out.push_back(layout_->controls[c].type);
    return out;
  }

  std::unique_ptr<VirtualCard> card_;
  std::unique_ptr<Mixer> mixer_;
  const ModelLayout* layout_ = nullptr;
};

TEST_F(AlsaMixerTest, LaptopCardIsPresentedAsSpeakersAndRecording) {
  open_card("quorvel_laptop");
  EXPECT_EQ(layout_->name, "Virtual HDA Codec");  // the mixer name
  EXPECT_EQ(layout_->destinations.size(), 2u);

  const ModelLine& speakers = line(kDst0);
  EXPECT_EQ(speakers.name, "Master");
  EXPECT_EQ(speakers.component_type, kComponentDstSpeakers);
  EXPECT_EQ(speakers.channels, 2u);
  EXPECT_EQ(names(speakers), (std::vector<std::string>{"Master Volume", "Master Mute",
                                                       "Auto-Mute Mode"}));
  EXPECT_EQ(types(speakers),
            (std::vector<std::uint32_t>{ctrl::kVolume, ctrl::kMute, ctrl::kSingleSelect}));
  const ModelControl& master = control_of(speakers, 0);
  EXPECT_EQ(master.min, 0);
  EXPECT_EQ(master.max, 65535);
  EXPECT_EQ(master.steps, 87u);
  EXPECT_FALSE(master.uniform);
  const ModelControl& automute = control_of(speakers, 2);
  EXPECT_EQ(automute.max, 1);
  EXPECT_FALSE(automute.list);
  EXPECT_TRUE(automute.uniform);

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
  ASSERT_EQ(speakers.sources.size(), playback.size());
  for (std::uint32_t j = 0; j < playback.size(); ++j) {
    const ModelLine& source = line(j * 65536u);
    EXPECT_EQ(source.name, playback[j].name);
    EXPECT_EQ(source.component_type, playback[j].type) << playback[j].name;
    EXPECT_EQ(source.channels, playback[j].channels) << playback[j].name;
    EXPECT_EQ(source.source, j);
    EXPECT_EQ(control_of(source, 0).type, ctrl::kVolume);
  }
  EXPECT_EQ(names(line(2u * 65536u)), (std::vector<std::string>{"PCM Volume"}));  // no switch
  EXPECT_TRUE(control_of(line(7u * 65536u), 0).uniform);                        // the mono Beep

  // Recording: the Capture element, and a MUX over the capture sources that
  // the "Capture Source" enumeration selects between.
  const ModelLine& recording = line(kDst1);
  EXPECT_EQ(recording.name, "Capture");
  EXPECT_EQ(recording.component_type, kComponentDstWaveIn);
  EXPECT_EQ(types(recording),
            (std::vector<std::uint32_t>{ctrl::kVolume, ctrl::kMute, ctrl::kMux}));
  const ModelControl& mux = control_of(recording, 2);
  EXPECT_TRUE(mux.list);
  ASSERT_EQ(mux.items.size(), 4u);
  const char* items[] = {"Front Mic", "Line", "CD", "Mic"};
  for (std::uint32_t k = 0; k < 4; ++k) {
    EXPECT_EQ(mux.items[k].name, items[k]);
    EXPECT_EQ(mux.items[k].line_id, k * 65536u + 1u);
    const ModelLine& source = line(k * 65536u + 1u);
    EXPECT_EQ(source.name, items[k]);
    EXPECT_TRUE(source.controls.empty());  // the switch is the list item
  }
  EXPECT_EQ(read("Capture Source"), (std::vector<std::int32_t>{0, 0, 0, 1}));
  EXPECT_EQ(read("Master Volume", 2), (std::vector<std::int32_t>{45197, 37664}));  // 60, 50 of 87
  EXPECT_EQ(read("Headphone Mute"), (std::vector<std::int32_t>{1}));  // the switch is off
  EXPECT_EQ(read("Auto-Mute Mode"), (std::vector<std::int32_t>{1}));
}

TEST_F(AlsaMixerTest, HeadsetCardShowsLoneSwitchesEnumerationsAndWideRanges) {
  open_card("quorvel_headset");
  EXPECT_EQ(layout_->name, "Quorvel Test Headset");  // no mixer name: the card name

  // No Master: PCM is the master. Switches without a volume and the
  // playback enumeration follow on the speakers destination.
  const ModelLine& speakers = line(kDst0);
  EXPECT_EQ(speakers.name, "PCM");
  EXPECT_EQ(names(speakers), (std::vector<std::string>{"PCM Volume", "PCM Mute", "IEC958",
                                                       "Auto Gain Control", "Channel Mode"}));
  EXPECT_EQ(types(speakers), (std::vector<std::uint32_t>{ctrl::kVolume, ctrl::kMute, ctrl::kOnOff,
                                                         ctrl::kOnOff, ctrl::kSingleSelect}));
  EXPECT_FALSE(control_of(speakers, 0).uniform);
  EXPECT_TRUE(control_of(speakers, 1).uniform);  // joined switch
  EXPECT_EQ(control_of(speakers, 4).max, 2);

  // 0..100000 is wider than 65,536 steps: shown raw.
  const ModelControl& sidetone = control("Sidetone Volume");
  EXPECT_EQ(sidetone.min, 0);
  EXPECT_EQ(sidetone.max, 100000);
  EXPECT_EQ(read("Sidetone Volume"), (std::vector<std::int32_t>{25000}));
  EXPECT_EQ(read("PCM Volume", 2), (std::vector<std::int32_t>{49151, 46335}));  // of -10240..0

  // No Capture element; capture switches that are not exclusive make a
  // MIXER; the capture enumeration sits on the recording destination.
  const ModelLine& recording = line(kDst1);
  EXPECT_EQ(recording.name, "Capture");
  EXPECT_EQ(recording.channels, 2u);
  EXPECT_EQ(types(recording),
            (std::vector<std::uint32_t>{ctrl::kMixer, ctrl::kSingleSelect}));
  EXPECT_EQ(names(line(0u * 65536u + 1u)), (std::vector<std::string>{"Line Capture Volume"}));
  EXPECT_EQ(names(line(1u * 65536u + 1u)), (std::vector<std::string>{"Mic Capture Volume"}));
  EXPECT_EQ(read("Capture Source"), (std::vector<std::int32_t>{0, 1}));
  EXPECT_EQ(read("Mic Select"), (std::vector<std::int32_t>{1}));
}

TEST_F(AlsaMixerTest, SurroundCardShowsEveryChannelAndSwitchesApart) {
  open_card("quorvel_surround");
  const ModelLine& speakers = line(kDst0);
  EXPECT_EQ(speakers.channels, 6u);
  EXPECT_EQ(names(speakers), (std::vector<std::string>{"Master Volume", "Master Mute"}));
  for (const char* name : {"Master Volume", "Master Mute", "PCM Mute", "Capture Mute"}) {
    EXPECT_FALSE(control(name).uniform) << name;
  }
  EXPECT_EQ(read("Master Volume", 6),
            (std::vector<std::int32_t>{2570, 5140, 7710, 10280, 12850, 15420}));  // 10..60 of 255
  EXPECT_EQ(read("Master Mute", 6), (std::vector<std::int32_t>{0, 1, 0, 0, 1, 0}));
  EXPECT_EQ(read("PCM Mute", 2), (std::vector<std::int32_t>{1, 0}));

  ASSERT_EQ(write("Master Mute", {1, 0, 0, 0, 0, 1}), kMixerOk);
  EXPECT_EQ(card_->control_values("Master Playback Switch"), "off,on,on,on,on,off");
  ASSERT_EQ(write("Master Volume", {0, 257, 514, 771, 1028, 65535}), kMixerOk);
  EXPECT_EQ(card_->control_values("Master Playback Volume"), "0,1,2,3,4,255");
  ASSERT_EQ(write("Capture Mute", {0, 1}), kMixerOk);
  EXPECT_EQ(card_->control_values("Capture Switch"), "on,off");
}

TEST_F(AlsaMixerTest, SoundServerVolumeAboveItsDeclaredMaximum) {
  open_card("quorvel_server");
  // The virtual source's volume has no channels: not shown, and its switch,
  // which always reads "on", goes with it, so there is no recording line.
  ASSERT_EQ(layout_->lines.size(), 1u);
  EXPECT_EQ(layout_->lines[0].id, kDst0);
  EXPECT_EQ(names(layout_->lines[0]), (std::vector<std::string>{"Master Volume", "Master Mute"}));
  // 0..65536 is shown raw; the bounds cover the 150 % held in channel 6.
  EXPECT_EQ(control("Master Volume").min, 0);
  EXPECT_EQ(control("Master Volume").max, 98304);
  EXPECT_EQ(control("Master Volume").steps, 65536u);
  EXPECT_EQ(read("Master Volume", 6),
            (std::vector<std::int32_t>{65536, 65536, 32768, 32768, 49152, 98304}));

  // A value beyond the bounds goes to the element, which holds up to 400 %:
  // taken, and the bounds cover it from then on.
  ASSERT_EQ(write("Master Volume", {200000}), kMixerOk);
  EXPECT_EQ(card_->control_values("Master Playback Volume"),
            "200000,200000,200000,200000,200000,200000");
  EXPECT_EQ(control("Master Volume").max, 200000);
  ASSERT_EQ(write("Master Volume", {1, 2, 3, 4, 5, 131072}), kMixerOk);
  EXPECT_EQ(card_->control_values("Master Playback Volume"), "1,2,3,4,5,131072");
  // Beyond what the element holds, or below its range: refused, whole.
  EXPECT_EQ(write("Master Volume", {300000}), kMixerRefused);
  EXPECT_EQ(write("Master Volume", {7, -1, 7, 7, 7, 7}), kMixerRefused);
  EXPECT_EQ(write("Master Mute", {2}), kMixerRefused);
  EXPECT_EQ(card_->control_values("Master Playback Volume"), "1,2,3,4,5,131072");
}

// A driver that clamps a value beyond its range and reports success: the
// bounds cover what the element holds after the write, not what was asked.
TEST_F(AlsaMixerTest, ValueThatTheDriverClampsLeavesTheBoundsAsTheyWere) {
  open_card("quorvel_clamping");
  ASSERT_EQ(write("Master Volume", {70000, 80000}), kMixerOk);
  EXPECT_EQ(card_->control_values("Master Playback Volume"), "87,87");
  EXPECT_EQ(control("Master Volume").max, 65535);
  EXPECT_EQ(read("Master Volume", 2), (std::vector<std::int32_t>{65535, 65535}));
}

std::string layout_signature(const ModelLayout& layout) {
  std::string text;
  for (const ModelLine& line : layout.lines) {
    text += std::to_string(line.id) + " " + line.name + "\n";
    for (std::size_t k : line.controls) {
      const ModelControl& c = layout.controls[k];
      text += "  " + std::to_string(c.id) + " " + std::to_string(c.type) + " " + c.name + "\n";
    }
  }
  return text;
}

TEST_F(AlsaMixerTest, IdentifiersAreTheSameForTheSameCardAndEachRunSeesOtherPrograms) {
  open_card("quorvel_laptop");
  std::set<std::uint32_t> lines;
  std::set<std::uint32_t> controls;
  for (const ModelLine& line : layout_->lines) EXPECT_TRUE(lines.insert(line.id).second);
  for (const ModelControl& c : layout_->controls) EXPECT_TRUE(controls.insert(c.id).second);

  // A change made by another program shows in the next mixer (the next
  // run), which opens the card afresh and numbers everything the same.
  ASSERT_EQ(card_->amixer({"sset", "Master", "0%", "mute"}).exit_code, 0);
  Expected<std::unique_ptr<Mixer>> opened = open_alsa_mixer(card_->device());
  ASSERT_TRUE(testing::succeeded(opened));
  const std::unique_ptr<Mixer> next = std::move(opened).value();
  const ModelLayout* again = nullptr;
  ASSERT_EQ(next->describe(0, again), kMixerOk);
  EXPECT_EQ(layout_signature(*again), layout_signature(*layout_));
  std::vector<std::int32_t> values;
  ASSERT_EQ(read_control(*next, control("Master Volume").id, 2, values), kMixerOk);
  EXPECT_EQ(values, (std::vector<std::int32_t>{0, 0}));
  ASSERT_EQ(read_control(*next, control("Master Mute").id, 1, values), kMixerOk);
  EXPECT_EQ(values, (std::vector<std::int32_t>{1}));
}

// The contract's refusals (tests/contract), seen from the card's side.
TEST_F(AlsaMixerTest, RefusedWritesNeverReachTheCard) {
  open_card("quorvel_laptop");
  const std::string before = card_->amixer({"scontents"}).out;
  EXPECT_EQ(write("Master Volume", {65536}), kMixerRefused);
  EXPECT_EQ(write("Master Volume", {100, -1}), kMixerRefused);  // all or nothing
  EXPECT_EQ(write("Master Mute", {2}), kMixerRefused);
  EXPECT_EQ(write("Auto-Mute Mode", {2}), kMixerRefused);
  EXPECT_EQ(write("Auto-Mute Mode", {-1}), kMixerRefused);
  EXPECT_EQ(write("Capture Source", {0, 1, 1, 0}), kMixerRefused);  // a MUX: exactly one
  EXPECT_EQ(write("Capture Source", {0, 0, 0, 0}), kMixerRefused);
  EXPECT_EQ(write("Capture Source", {0, 2, 0, 0}), kMixerRefused);
  EXPECT_EQ(card_->amixer({"scontents"}).out, before);
  EXPECT_EQ(read("Master Volume", 2), (std::vector<std::int32_t>{45197, 37664}));

  open_card("quorvel_headset");
  EXPECT_EQ(write("Sidetone Volume", {100001}), kMixerRefused);  // raw bounds
  EXPECT_EQ(write("Capture Source", {1, 2}), kMixerRefused);
  EXPECT_EQ(write("IEC958", {-1}), kMixerRefused);
  EXPECT_EQ(card_->control_values("Sidetone Playback Volume"), "25000");
}

TEST_F(AlsaMixerTest, WritesReachTheCardAsOtherProgramsSeeThem) {
  open_card("quorvel_laptop");
  // Per channel, and as a whole; round half up (32768 of 87 is 43.5006).
  ASSERT_EQ(write("Master Volume", {0, 65535}), kMixerOk);
  EXPECT_EQ(card_->control_values("Master Playback Volume"), "0,87");
  ASSERT_EQ(write("Master Volume", {32768}), kMixerOk);
  EXPECT_EQ(card_->control_values("Master Playback Volume"), "44,44");
  EXPECT_EQ(read("Master Volume", 2), (std::vector<std::int32_t>{33144, 33144}));  // 44 of 87
  ASSERT_EQ(write("Capture Volume", {65535, 1040}), kMixerOk);
  EXPECT_EQ(card_->control_values("Capture Volume"), "63,1");

  // MUTE is the inverse of the switch.
  ASSERT_EQ(write("Master Mute", {1}), kMixerOk);
  EXPECT_EQ(card_->control_values("Master Playback Switch"), "off,off");
  ASSERT_EQ(write("Master Mute", {0, 1}), kMixerOk);  // per channel
  EXPECT_EQ(card_->control_values("Master Playback Switch"), "on,off");
  ASSERT_EQ(write("Capture Mute", {1}), kMixerOk);
  EXPECT_EQ(card_->control_values("Capture Switch"), "off,off");
  ASSERT_EQ(write("Beep Mute", {1}), kMixerOk);
  EXPECT_EQ(card_->control_values("Beep Playback Switch"), "off");

  // An enumeration takes the item's index; a common volume (Mic Boost)
  // writes through.
  ASSERT_EQ(write("Auto-Mute Mode", {0}), kMixerOk);
  EXPECT_EQ(card_->control_values("Auto-Mute Mode"), "0");
  ASSERT_EQ(write("Mic Boost Volume", {65535, 21845}), kMixerOk);
  EXPECT_EQ(card_->control_values("Mic Boost Volume"), "3,1");

  // The MUX moves the "Capture Source" enumeration, in one write, and
  // selecting one source deselects the others.
  ASSERT_EQ(write("Capture Source", {0, 0, 1, 0}), kMixerOk);
  EXPECT_EQ(card_->control_values("Capture Source"), "3");  // "CD", the enumeration's item 3
  EXPECT_EQ(read("Capture Source"), (std::vector<std::int32_t>{0, 0, 1, 0}));
  ASSERT_EQ(write("Capture Source", {1, 0, 0, 0}), kMixerOk);
  EXPECT_EQ(read("Capture Source"), (std::vector<std::int32_t>{1, 0, 0, 0}));
}

TEST_F(AlsaMixerTest, HeadsetListsSwitchesAndJoinedControls) {
  open_card("quorvel_headset");
  // A MIXER takes any combination of its sources.
  ASSERT_EQ(write("Capture Source", {1, 1}), kMixerOk);
  EXPECT_EQ(card_->control_values("Line Capture Switch"), "on,on");
  EXPECT_EQ(card_->control_values("Mic Capture Switch"), "on");
  ASSERT_EQ(write("Capture Source", {0, 0}), kMixerOk);
  EXPECT_EQ(card_->control_values("Mic Capture Switch"), "off");
  EXPECT_EQ(read("Capture Source"), (std::vector<std::int32_t>{0, 0}));

  // ONOFF is the switch itself.
  ASSERT_EQ(write("IEC958", {1}), kMixerOk);
  EXPECT_EQ(card_->control_values("IEC958 Playback Switch"), "on");
  ASSERT_EQ(write("Auto Gain Control", {0}), kMixerOk);
  EXPECT_EQ(card_->control_values("Auto Gain Control"), "off");

  // A joined switch on a stereo line takes the first value for both
  // channels and reads the same on both.
  ASSERT_EQ(write("PCM Mute", {1, 0}), kMixerOk);
  EXPECT_EQ(card_->control_values("PCM Playback Switch"), "off");
  EXPECT_EQ(read("PCM Mute", 2), (std::vector<std::int32_t>{1, 1}));

  // A raw range goes through as it is; the capture enumeration by index.
  ASSERT_EQ(write("Sidetone Volume", {99999}), kMixerOk);
  EXPECT_EQ(card_->control_values("Sidetone Playback Volume"), "99999");
  ASSERT_EQ(write("Mic Select", {0}), kMixerOk);
  EXPECT_EQ(card_->control_values("Mic Select Capture Enum"), "0");
  ASSERT_EQ(write("PCM Volume", {0, 65535}), kMixerOk);
  EXPECT_EQ(card_->control_values("PCM Playback Volume"), "-10240,0");
}

// A card that adjusts what it is given (its volumes keep even raw values
// only, rounding down) is read as it holds the values right after a write:
// never as they were written.
TEST_F(AlsaMixerTest, ReadsAfterWritesShowWhatTheCardMadeOfThem) {
  open_card("quorvel_rounding");
  const AlsaVolumeScale master{0, 87};
  const AlsaVolumeScale mic{0, 31};

  // 61 and 51 become 60 and 50, which the card held already.
  ASSERT_EQ(write("Master Volume", {master.to_shown(61), master.to_shown(51)}), kMixerOk);
  EXPECT_EQ(card_->control_values("Master Playback Volume"), "60,50");
  EXPECT_EQ(read("Master Volume", 2),
            (std::vector<std::int32_t>{master.to_shown(60), master.to_shown(50)}));
  // 31 becomes 30, in both channels; the switch beside it is written as
  // given.
  ASSERT_EQ(write("Front Mic Volume", {mic.to_shown(31)}), kMixerOk);
  ASSERT_EQ(write("Front Mic Mute", {0}), kMixerOk);
  EXPECT_EQ(card_->control_values("Front Mic Playback Volume"), "30,30");
  EXPECT_EQ(read("Front Mic Volume", 2),
            (std::vector<std::int32_t>{mic.to_shown(30), mic.to_shown(30)}));
  EXPECT_EQ(read("Front Mic Mute", 2), (std::vector<std::int32_t>{0, 0}));
  // The same value again changes nothing, and reads the same.
  ASSERT_EQ(write("Front Mic Volume", {mic.to_shown(31)}), kMixerOk);
  EXPECT_EQ(read("Front Mic Volume", 2),
            (std::vector<std::int32_t>{mic.to_shown(30), mic.to_shown(30)}));
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
  std::string error;
  error = open_mixer("alsa:quorvel_nosuchcard", console()).message();
  EXPECT_NE(error, "");
  EXPECT_NE(error.find("\"quorvel_nosuchcard\""), std::string::npos) << error;
  error = open_mixer("alsa:", console()).message();
  EXPECT_NE(error, "");
  error = open_mixer("oss:/dev/mixer", console()).message();
  EXPECT_NE(error, "");
  EXPECT_NE(error.find("\"oss\""), std::string::npos) << error;

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
