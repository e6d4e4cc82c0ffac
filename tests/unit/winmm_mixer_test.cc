// The Windows multimedia mixer back-end: what the layout takes of winmm's
// records, and a snapshot of the machine's own mixer (under Wine, its mixer
// of the null ALSA device when the tests are run with that configuration).
// The mixer's contract is tested in tests/contract.
#include <windows.h>
#include <mmsystem.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>

#include "app/console_reporter.h"
#include "platform/os/file_name.h"
#include "platform/winmm/winmm_mixer.h"
#include "snapshot/snapshot.h"

namespace quorvel {
namespace {

// A name field as winmm may fill it, and the name the layout gets.
struct NameCase {
  const char* what;
  std::string text;  // with its terminator; none when it fills the field
  std::string name;
};

const NameCase kNames[] = {
    {"a name", "Master Volume", "Master Volume"},
    {"no name", "", ""},
    {"a field filled whole ends a byte before its end", std::string(MIXER_LONG_NAME_CHARS, 'x'),
     std::string(MIXER_LONG_NAME_CHARS - 1, 'x')},
};

template <std::size_t N>
void put_name(char (&field)[N], const std::string& text) {
  std::memset(field, 0, N);
  std::memcpy(field, text.data(), std::min(text.size(), N));
}

TEST(WinmmRecordsTest, NamesEndAtTheirTerminatorOrBeforeTheFieldsEnd) {
  for (const NameCase& c : kNames) {
    MIXERLINEA line{};
    MIXERCONTROLA control{};
    MIXERCONTROLDETAILS_LISTTEXTA text{};
    put_name(line.szName, c.text);
    put_name(control.szName, c.text);
    put_name(text.szName, c.text);
    EXPECT_EQ(line_from_windows(line).name, c.name) << c.what;
    EXPECT_EQ(control_from_windows(control).name, c.name) << c.what;
    EXPECT_EQ(item_from_windows(text).name, c.name) << c.what;
  }
}

TEST(WinmmRecordsTest, LineKeepsItsIdTypeAndChannels) {
  MIXERLINEA windows{};
  windows.dwLineID = 0xFFFF0002;
  windows.dwComponentType = MIXERLINE_COMPONENTTYPE_DST_WAVEIN;
  windows.cChannels = 6;
  windows.cControls = 9;
  const ModelLine line = line_from_windows(windows);
  EXPECT_EQ(line.id, 0xFFFF0002u);
  EXPECT_EQ(line.component_type, kComponentDstWaveIn);
  EXPECT_EQ(line.channels, 6u);
  EXPECT_TRUE(line.device_name.empty() && line.product_id.empty() && line.positions.empty())
      << "winmm knows nothing of a line beyond its record";
}

TEST(WinmmRecordsTest, ControlBoundsStepsAndFlags) {
  struct Case {
    const char* what;
    DWORD flags;
    DWORD min, max, steps;  // as winmm gives them
    std::int32_t model_min, model_max;
    bool uniform, list;
  };
  const Case cases[] = {
      {"a uniform volume", MIXERCONTROL_CONTROLF_UNIFORM, 0, 65535, 192, 0, 65535, true, false},
      {"signed bounds", 0, static_cast<DWORD>(-32768), 32767, 65535, -32768, 32767, false, false},
      {"unsigned bounds above 2^31 keep their bits", 0, 0, 0xFFFFFFFF, 0, 0, -1, false, false},
      {"a list", MIXERCONTROL_CONTROLF_UNIFORM | MIXERCONTROL_CONTROLF_MULTIPLE, 0, 1, 0, 0, 1,
       true, true},
  };
  for (const Case& c : cases) {
    MIXERCONTROLA windows{};
    windows.dwControlID = 77;
    windows.dwControlType = MIXERCONTROL_CONTROLTYPE_PAN;
    windows.fdwControl = c.flags;
    windows.cMultipleItems = 4;
    windows.Bounds.dwMinimum = c.min;
    windows.Bounds.dwMaximum = c.max;
    windows.Metrics.cSteps = c.steps;
    const ModelControl control = control_from_windows(windows);
    EXPECT_EQ(control.id, 77u) << c.what;
    EXPECT_EQ(control.type, ctrl::kPan) << c.what;
    EXPECT_EQ(control.min, c.model_min) << c.what;
    EXPECT_EQ(control.max, c.model_max) << c.what;
    EXPECT_EQ(control.steps, c.steps) << c.what;
    EXPECT_EQ(control.uniform, c.uniform) << c.what;
    EXPECT_EQ(control.list, c.list) << c.what;
    EXPECT_TRUE(control.items.empty()) << c.what << ": items come from their own call";
  }
}

TEST(WinmmRecordsTest, ItemStandsForItsLineAndDetailsHeader) {
  MIXERCONTROLDETAILS_LISTTEXTA text{};
  text.dwParam1 = 0x10001;
  text.dwParam2 = MIXERLINE_COMPONENTTYPE_SRC_MICROPHONE;
  const ModelItem item = item_from_windows(text);
  EXPECT_EQ(item.line_id, 0x10001u);
  EXPECT_EQ(item.component_type, DWORD{MIXERLINE_COMPONENTTYPE_SRC_MICROPHONE});

  std::int32_t values[6] = {};
  const MIXERCONTROLDETAILS details =
      details_of(12, 2, 3, values, sizeof(MIXERCONTROLDETAILS_UNSIGNED));
  EXPECT_EQ(details.cbStruct, sizeof(MIXERCONTROLDETAILS));
  EXPECT_EQ(details.dwControlID, 12u);
  EXPECT_EQ(details.cChannels, 2u);
  EXPECT_EQ(details.cMultipleItems, 3u);
  EXPECT_EQ(details.hwndOwner, reinterpret_cast<HWND>(std::uintptr_t{3}))
      << "the other half of the union is cleared";
  EXPECT_EQ(details.cbDetails, sizeof(MIXERCONTROLDETAILS_UNSIGNED));
  EXPECT_EQ(details.paDetails, values);
}

// The snapshot of the machine's own mixer, when it has one.
TEST(WinmmMixerTest, SnapshotOfTheMachinesMixerIsAMixerDocument) {
  WinmmMixer mixer;
  if (mixer.device_count() == 0) GTEST_SKIP() << "this machine shows no mixer device";
  Document document;
  std::optional<std::string> default_name;
  ASSERT_TRUE(build_snapshot(document, mixer, default_name, console()));
  ASSERT_TRUE(default_name.has_value());
  DocNode root = document.root().child("audio_mixer");
  ASSERT_TRUE(root);
  // The device's name made a file name (Wine's "Out: default" is saved as
  // "Out_ default.xml").
  EXPECT_EQ(*default_name, default_file_name(root.first_child().value()));
  ASSERT_TRUE(root.child("destination"));
  bool controls = false;
  for (DocNode destination : root.children("destination")) {
    controls = controls || destination.child("line_control");
  }
  EXPECT_TRUE(controls);
}

}  // namespace
}  // namespace quorvel
