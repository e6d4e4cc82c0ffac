// The program on the virtual ALSA cards, checked through a real ALSA
// client: save with quorvel, change every element with amixer, restore with
// quorvel, and amixer shows exactly what it showed before.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "fakes/alsa_card/virtual_card.h"
#include "platform/alsa/alsa_volume_scale.h"
#include "platform/document/document_format.h"
#include "platform/document/document_parse.h"

namespace quorvel {
namespace {

using ::testing::HasSubstr;
using testing::ProgramResult;
using testing::VirtualCard;
using testing::read_file;

// `amixer scontents` cut into one block per simple element, by its header
// ("Simple mixer control 'Master',0").
std::map<std::string, std::string> element_blocks(const std::string& contents) {
  std::map<std::string, std::string> blocks;
  std::string name;
  std::size_t at = 0;
  while (at < contents.size()) {
    std::size_t end = contents.find('\n', at);
    if (end == std::string::npos) end = contents.size();
    const std::string line = contents.substr(at, end - at);
    if (line.rfind("Simple mixer control ", 0) == 0) name = line;
    blocks[name] += line + "\n";
    at = end + 1;
  }
  return blocks;
}

std::vector<std::int32_t> saved_values(const std::filesystem::path& file, const std::string& name);

class AlsaRoundTripTest : public ::testing::Test {
 protected:
  void run_ok(const VirtualCard& card, const std::vector<std::string>& args) {
    ProgramResult result = card.quorvel(args);
    EXPECT_EQ(result.exit_code, 0) << result.err;
  }

  // Saves the card, changes every element with `changes` (amixer argument
  // lists), checks that each element shows the change, restores the saved
  // document and compares.
  void round_trip(const std::string& device,
                  const std::vector<std::vector<std::string>>& changes) {
    VirtualCard card(device);
    run_ok(card, {"-out", "saved.xml"});
    const std::string before = card.amixer({"scontents"}).out;
    ASSERT_NE(before, "");

    for (const std::vector<std::string>& change : changes) {
      ProgramResult result = card.amixer(change);
      ASSERT_EQ(result.exit_code, 0) << change[1] << ": " << result.err;
    }
    const std::map<std::string, std::string> before_blocks = element_blocks(before);
    const std::map<std::string, std::string> changed_blocks =
        element_blocks(card.amixer({"scontents"}).out);
    ASSERT_EQ(changed_blocks.size(), before_blocks.size());
    for (const auto& [element, block] : before_blocks) {
      EXPECT_NE(changed_blocks.at(element), block) << element << " was not changed";
    }

    // A preview finds the changes and writes nothing.
    const std::string changed = card.amixer({"scontents"}).out;
    ProgramResult preview = card.quorvel({"-n", "saved.xml"});
    EXPECT_EQ(preview.exit_code, 1) << preview.err;
    EXPECT_EQ(preview.out.rfind("change: ", 0), 0u) << preview.out;
    EXPECT_EQ(card.amixer({"scontents"}).out, changed);

    // Restore, and save the state after it: the same document again.
    ProgramResult restored = card.quorvel({"-local", "saved.xml", "-out", "after.xml"});
    EXPECT_EQ(restored.exit_code, 0) << restored.err;
    EXPECT_EQ(card.amixer({"scontents"}).out, before);
    EXPECT_EQ(read_file(card.dir() / "after.xml"), read_file(card.dir() / "saved.xml"));
    // The card's own steps: after the restore the preview finds nothing.
    preview = card.quorvel({"-n", "saved.xml"});
    EXPECT_EQ(preview.exit_code, 0) << preview.out << preview.err;
  }
};

TEST_F(AlsaRoundTripTest, LaptopCardComesBackExactlyAfterEveryElementChanged) {
  round_trip("quorvel_laptop", {
                                   {"sset", "Master", "9,17", "mute"},
                                   {"sset", "Headphone", "5", "unmute"},
                                   {"sset", "Speaker", "0", "mute"},
                                   {"sset", "PCM", "100,120"},
                                   {"sset", "Front Mic", "30", "unmute"},
                                   {"sset", "Mic Boost", "3"},
                                   {"sset", "Line", "31", "unmute"},
                                   {"sset", "CD", "2", "mute"},
                                   {"sset", "Beep", "20", "mute"},
                                   {"sset", "Capture", "5,6", "nocap"},
                                   {"sset", "Line", "cap"},  // moves the Capture Source
                                   {"cset", "name=Auto-Mute Mode", "Disabled"},
                               });
}

TEST_F(AlsaRoundTripTest, HeadsetCardComesBackExactlyAfterEveryElementChanged) {
  round_trip("quorvel_headset", {
                                    {"sset", "PCM", "10%,40%", "mute"},
                                    {"sset", "Sidetone", "99999", "unmute"},
                                    {"sset", "Mic", "3", "nocap"},
                                    {"sset", "Line", "1,2", "cap"},
                                    {"sset", "IEC958", "on"},
                                    {"sset", "Auto Gain Control", "off"},
                                    {"cset", "name=Channel Mode", "6ch"},
                                    {"sset", "Mic Select", "Front"},
                                });
}

// A switch that alsa-lib builds from two controls is on only when both
// are: a restore that turns it on turns on both.
TEST_F(AlsaRoundTripTest, SwitchOfTwoControlsComesBackOn) {
  VirtualCard card("quorvel_headset");
  ASSERT_EQ(card.amixer({"sset", "Sidetone", "unmute"}).exit_code, 0);
  run_ok(card, {"-out", "saved.xml"});
  const std::string before = card.amixer({"sget", "Sidetone"}).out;
  ASSERT_THAT(before, HasSubstr("[on]"));

  ASSERT_EQ(card.amixer({"cset", "name=Sidetone Switch", "off"}).exit_code, 0);
  ASSERT_NE(card.amixer({"sget", "Sidetone"}).out, before);
  run_ok(card, {"saved.xml"});
  EXPECT_EQ(card.amixer({"sget", "Sidetone"}).out, before);
  EXPECT_THAT(card.amixer({"cget", "name=Sidetone Switch"}).out, HasSubstr(": values=on"));
}

// Six channels and switches whose channels are apart come back channel for
// channel.
TEST_F(AlsaRoundTripTest, SurroundCardComesBackExactlyAfterEveryElementChanged) {
  round_trip("quorvel_surround", {
                                     {"sset", "Master", "1,2,3,4,5,6", "mute"},
                                     {"cset", "name=PCM Playback Switch", "on,off"},
                                     {"sset", "PCM", "5,6"},
                                     {"sset", "Capture", "3,4", "nocap"},
                                 });
}

// A sound server's sink at 150 % in one channel comes back, though its
// declared maximum is 100 %; its virtual source's volume, which has no
// channels, is not in the document.
// The virtual default source (a volume without channels and a switch that
// always reads "on") is left out whole: a restore never writes its switch.
TEST_F(AlsaRoundTripTest, SoundServerComesBackExactlyAboveItsDeclaredMaximum) {
  VirtualCard card("quorvel_server");
  run_ok(card, {"-out", "server.xml"});
  EXPECT_EQ(saved_values(card.dir() / "server.xml", "Master Volume"),
            (std::vector<std::int32_t>{65536, 65536, 32768, 32768, 49152, 98304}));
  for (const char* name : {"Capture Volume", "Capture Mute"}) {
    EXPECT_EQ(saved_values(card.dir() / "server.xml", name), std::vector<std::int32_t>{}) << name;
  }
  const std::map<std::string, std::string> before = element_blocks(card.amixer({"scontents"}).out);
  ASSERT_EQ(card.amixer({"sset", "Master", "20000", "mute"}).exit_code, 0);
  ASSERT_EQ(card.amixer({"sset", "Capture", "nocap"}).exit_code, 0);
  const std::map<std::string, std::string> changed = element_blocks(card.amixer({"scontents"}).out);
  run_ok(card, {"server.xml"});
  const std::map<std::string, std::string> after = element_blocks(card.amixer({"scontents"}).out);
  const std::string master = "Simple mixer control 'Master',0";
  const std::string capture = "Simple mixer control 'Capture',0";
  EXPECT_EQ(after.at(master), before.at(master));
  EXPECT_NE(changed.at(capture), before.at(capture));
  EXPECT_EQ(after.at(capture), changed.at(capture));
}

TEST_F(AlsaRoundTripTest, SavesAreTheSameOnEveryRunAndNamedAfterTheMixer) {
  VirtualCard card("quorvel_laptop");
  run_ok(card, {"-out"});
  run_ok(card, {"-out", "again.xml"});
  const std::string first = read_file(card.dir() / "Virtual HDA Codec.xml");
  EXPECT_EQ(read_file(card.dir() / "again.xml"), first);
  EXPECT_EQ(first.substr(0, 2), std::string("\xFF\xFE", 2));
}

// A run opens the card once, and a restore writes each control element
// that changes once, all its channels together, and nothing else.
TEST_F(AlsaRoundTripTest, ARunOpensTheCardOnceAndWritesOnlyWhatChangesOnce) {
  VirtualCard card("quorvel_laptop");
  std::string log;
  ProgramResult result = card.quorvel_logged({"-out", "saved.xml"}, log);
  EXPECT_EQ(result.exit_code, 0) << result.err;
  EXPECT_EQ(log, "open\n");
  result = card.quorvel_logged({"saved.xml"}, log);
  EXPECT_EQ(result.exit_code, 0) << result.err;
  EXPECT_EQ(log, "open\n") << "the card held the document's values already";

  const std::string before = card.amixer({"scontents"}).out;
  for (const std::vector<std::string>& change : std::vector<std::vector<std::string>>{
           {"sset", "Master", "9,17", "mute"},
           {"sset", "PCM", "100,120"},
           {"sset", "Line", "cap"},
           {"cset", "name=Auto-Mute Mode", "Disabled"}}) {
    ASSERT_EQ(card.amixer(change).exit_code, 0) << change[1];
  }
  result = card.quorvel_logged({"saved.xml", "-out", "after.xml"}, log);
  EXPECT_EQ(result.exit_code, 0) << result.err;
  std::multiset<std::string> lines;
  for (std::size_t at = 0, end; (end = log.find('\n', at)) != std::string::npos; at = end + 1) {
    lines.insert(log.substr(at, end - at));
  }
  EXPECT_EQ(lines, (std::multiset<std::string>{"open", "write Master Playback Volume",
                                               "write Master Playback Switch",
                                               "write PCM Playback Volume", "write Capture Source",
                                               "write Auto-Mute Mode"}))
      << log;
  EXPECT_EQ(card.amixer({"scontents"}).out, before);
  EXPECT_EQ(read_file(card.dir() / "after.xml"), read_file(card.dir() / "saved.xml"));
}

// A card unplugged in the middle of a restore (it answers ENODEV from its
// third write on) is said once, with how far the restore got; nothing more
// is written, and nothing saved.
TEST_F(AlsaRoundTripTest, ACardThatGoesAwayMidRestoreIsSaidOnce) {
  VirtualCard card("quorvel_vanishing");
  run_ok(card, {"-out", "saved.xml"});
  for (const std::vector<std::string>& change : std::vector<std::vector<std::string>>{
           {"sset", "Master", "9,17", "mute"}, {"sset", "PCM", "100,120"}}) {
    ASSERT_EQ(card.amixer(change).exit_code, 0) << change[1];
  }
  ProgramResult result = card.quorvel({"saved.xml", "-out", "after.xml"});
  EXPECT_EQ(result.exit_code, 1);
  EXPECT_THAT(result.err, ::testing::MatchesRegex(
                              "XML document loaded successfully\n"
                              "quorvel: error: the mixer \"[^\"]+\" went away after [0-9]+ of "
                              "[0-9]+ writes; nothing more was written\n"
                              "quorvel: error: \"after.xml\" not saved: the mixer went away\n"
                              "File not found error."));
  EXPECT_FALSE(std::filesystem::exists(card.dir() / "after.xml"));
}

// The document saved after a restore shows what the card holds, where the
// card adjusted what it was given (volumes rounded down to even raw values).
TEST_F(AlsaRoundTripTest, TheStateSavedAfterARestoreIsReadFromTheCard) {
  VirtualCard laptop("quorvel_laptop");
  VirtualCard rounding("quorvel_rounding");
  ASSERT_EQ(laptop.amixer({"sset", "Master", "61,51"}).exit_code, 0);
  ASSERT_EQ(laptop.amixer({"sset", "Line", "25"}).exit_code, 0);
  run_ok(laptop, {"-out", (rounding.dir() / "laptop.xml").string()});

  run_ok(rounding, {"laptop.xml", "-out", "after.xml"});
  EXPECT_EQ(rounding.control_values("Master Playback Volume"), "60,50");
  EXPECT_EQ(rounding.control_values("Line Playback Volume"), "24,24");
  const AlsaVolumeScale master{0, 87};
  const AlsaVolumeScale line{0, 31};
  EXPECT_EQ(saved_values(rounding.dir() / "after.xml", "Master Volume"),
            (std::vector<std::int32_t>{master.to_shown(60), master.to_shown(50)}));
  EXPECT_EQ(saved_values(rounding.dir() / "after.xml", "Line Volume"),
            (std::vector<std::int32_t>{line.to_shown(24), line.to_shown(24)}));
}

// Values of the line_control named `name` in a saved document.
std::vector<std::int32_t> saved_values(const std::filesystem::path& file, const std::string& name) {
  Document document;
  EXPECT_EQ(parse_document(read_file(file), document).message(), "");
  auto number = [](std::string_view text) { return std::atoi(std::string(text).c_str()); };
  std::vector<std::int32_t> values;
  for (DocNode destination : document.document_element().children(doc::kDestination)) {
    // In document order: the destination's controls come before its sources.
    std::vector<DocNode> lines{destination};
    destination.append_children(doc::kSource, lines);
    for (DocNode line : lines) {
      for (DocNode control : line.children(doc::kLineControl)) {
        if (control.text() != name) continue;
        for (DocNode child = control.first_child(); child; child = child.next_sibling()) {
          if (child.is(doc::kValue)) values.push_back(number(child.text()));
          if (!child.is(doc::kMuxList) && !child.is(doc::kMixerList)) continue;
          for (DocNode item : child.children(doc::kItem)) {
            values.push_back(number(item.attribute_value(doc::kSelected)));
          }
        }
      }
    }
  }
  return values;
}

std::string raw_of(long long min, long long max, std::int32_t shown) {
  long long raw = 0;
  AlsaVolumeScale{min, max}.to_raw(shown, raw);
  return std::to_string(raw);
}

TEST_F(AlsaRoundTripTest, DocumentsMoveBetweenTheVirtualCardAndTheSimulatedDevice) {
  VirtualCard card("quorvel_laptop");
  std::filesystem::copy_file(testing::source_dir() / "examples" / "soundcard.xml",
                             card.dir() / "device.xml");
  std::map<std::string, std::string> sim_env = card.env();
  sim_env["QUORVEL_MIXER"] = "sim:" + (card.dir() / "device.xml").string();
  auto sim = [&](const std::vector<std::string>& args) {
    return testing::run_quorvel(args, sim_env, card.dir().path());
  };
  ProgramResult result = sim({"-out", "sim.xml"});
  ASSERT_EQ(result.exit_code, 0) << result.err;
  run_ok(card, {"-out", "card.xml"});
  const std::string headphone = card.control_values("Headphone Playback Volume");

  // The simulated device's document onto the card: by kind, so its Wave
  // source sets PCM, its Microphone the first microphone (Front Mic, both
  // channels from the one value), its PC Speaker the Beep, and its MUX item
  // 2 the card's item 2 (CD, item 3 of the Capture Source enumeration).
  result = card.quorvel({"sim.xml"});
  EXPECT_EQ(result.exit_code, 0) << result.err;
  const std::string master = raw_of(0, 87, 45875);
  EXPECT_EQ(card.control_values("Master Playback Volume"), master + "," + master);
  EXPECT_EQ(card.control_values("PCM Playback Volume"),
            raw_of(0, 255, 52428) + "," + raw_of(0, 255, 49151));
  EXPECT_EQ(card.control_values("CD Playback Switch"), "off,off");
  const std::string mic = raw_of(0, 31, 26214);
  EXPECT_EQ(card.control_values("Front Mic Playback Volume"), mic + "," + mic);
  EXPECT_EQ(card.control_values("Beep Playback Volume"), raw_of(0, 31, 16384));
  const std::string recording = raw_of(0, 63, 49151);
  EXPECT_EQ(card.control_values("Capture Volume"), recording + "," + recording);
  EXPECT_EQ(card.control_values("Capture Source"), "3");
  // What the simulated device lacks stays as it was.
  EXPECT_EQ(card.control_values("Headphone Playback Volume"), headphone);
  EXPECT_EQ(card.control_values("Auto-Mute Mode"), "1");

  // The card's first document onto the simulated device.
  result = sim({"-local", "card.xml", "-out", "sim-after.xml"});
  EXPECT_EQ(result.exit_code, 0) << result.err;
  const std::filesystem::path after = card.dir() / "sim-after.xml";
  EXPECT_EQ(saved_values(after, "Master Volume"), (std::vector<std::int32_t>{45197, 37664}));
  EXPECT_EQ(saved_values(after, "Wave Volume"), (std::vector<std::int32_t>{65535, 51400}));
  EXPECT_EQ(saved_values(after, "CD Mute"), (std::vector<std::int32_t>{0}));
  EXPECT_EQ(saved_values(after, "PC Speaker Volume"), (std::vector<std::int32_t>{10570}));
  EXPECT_EQ(saved_values(after, "Recording Volume"), (std::vector<std::int32_t>{41610, 40569}));
  EXPECT_EQ(saved_values(after, "Recording Source"), (std::vector<std::int32_t>{0, 0, 0, 1}));
  EXPECT_EQ(saved_values(after, "Aux Volume"), saved_values(card.dir() / "sim.xml", "Aux Volume"));
}

// Between cards of different widths: a stereo document sets channels 1 and
// 2 of a 5.1 card and leaves the others; a 5.1 document sets both channels
// of a stereo card; a sound server's virtual source leaves a real capture
// volume alone.
TEST_F(AlsaRoundTripTest, DocumentsMoveBetweenCardsOfDifferentWidths) {
  VirtualCard laptop("quorvel_laptop");
  VirtualCard surround("quorvel_surround");
  VirtualCard server("quorvel_server");
  run_ok(laptop, {"-out", (surround.dir() / "laptop.xml").string()});
  run_ok(surround, {"-out", (laptop.dir() / "surround.xml").string()});
  // (A server's 100 % is 65536, above a card's 65535, which a card refuses.)
  ASSERT_EQ(server.amixer({"sset", "Master", "30000"}).exit_code, 0);
  run_ok(server, {"-out", (laptop.dir() / "server.xml").string()});

  run_ok(surround, {"laptop.xml"});
  // 60 and 50 of 87 on 0..255, both switches on; channels 3 to 6 as they were.
  EXPECT_EQ(surround.control_values("Master Playback Volume"),
            raw_of(0, 255, 45197) + "," + raw_of(0, 255, 37664) + ",30,40,50,60");
  EXPECT_EQ(surround.control_values("Master Playback Switch"), "on,on,on,on,off,on");
  EXPECT_EQ(surround.control_values("Capture Volume"),
            raw_of(0, 31, 41610) + "," + raw_of(0, 31, 40569));

  run_ok(laptop, {"surround.xml"});
  EXPECT_EQ(laptop.control_values("Master Playback Volume"),
            raw_of(0, 87, 2570) + "," + raw_of(0, 87, 5140));
  EXPECT_EQ(laptop.control_values("Master Playback Switch"), "on,off");
  const std::string capture = laptop.control_values("Capture Volume");
  run_ok(laptop, {"server.xml"});
  EXPECT_EQ(laptop.control_values("Capture Volume"), capture);
  EXPECT_EQ(laptop.control_values("Capture Switch"), "on,on");
}

}  // namespace
}  // namespace quorvel
