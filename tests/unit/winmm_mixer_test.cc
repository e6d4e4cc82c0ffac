// The Windows multimedia mixer back-end: the record conversions, and a
// snapshot of the machine's own mixer (under Wine, its mixer of the null
// ALSA device when the tests are run with that configuration). The
// service's contract is tested in tests/contract.
#include <windows.h>
#include <mmsystem.h>

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

#include "platform/os/file_name.h"
#include "platform/winmm/winmm_mixer.h"
#include "snapshot/snapshot.h"

namespace quorvel {
namespace {

template <std::size_t N>
void fill_name(char (&field)[N], char first) {
  for (std::size_t k = 0; k + 1 < N; ++k) field[k] = static_cast<char>(first + k % 26);
  field[N - 1] = '\0';
}

TEST(WinmmRecordsTest, LineConvertsEveryFieldBothWays) {
  MixerLine ours;
  ours.dwDestination = 3;
  ours.dwSource = 5;
  ours.dwLineID = 0xFFFF0002;
  ours.fdwLine = 0x80000001;
  ours.dwUser = 0x1122334455667788u;
  ours.dwComponentType = kComponentDstWaveIn;
  ours.cChannels = 6;
  ours.cConnections = 7;
  ours.cControls = 9;
  fill_name(ours.szShortName, 'a');
  fill_name(ours.szName, 'A');
  ours.Target.dwType = 2;
  ours.Target.dwDeviceID = 4;
  ours.Target.wMid = 0x1234;
  ours.Target.wPid = 0x5678;
  ours.Target.vDriverVersion = 0x00050001;
  fill_name(ours.Target.szPname, 'k');

  MIXERLINEA windows;
  std::memset(&windows, 0x5A, sizeof windows);
  to_windows(ours, windows);
  EXPECT_EQ(windows.cbStruct, sizeof(MIXERLINEA));
  EXPECT_EQ(windows.dwDestination, 3u);
  EXPECT_EQ(windows.dwSource, 5u);
  EXPECT_EQ(windows.dwLineID, 0xFFFF0002u);
  EXPECT_EQ(windows.fdwLine, 0x80000001u);
  EXPECT_EQ(windows.dwUser, 0x1122334455667788u);
  EXPECT_EQ(windows.dwComponentType, kComponentDstWaveIn);
  EXPECT_EQ(windows.cChannels, 6u);
  EXPECT_EQ(windows.cConnections, 7u);
  EXPECT_EQ(windows.cControls, 9u);
  EXPECT_STREQ(windows.szShortName, ours.szShortName);
  EXPECT_STREQ(windows.szName, ours.szName);
  EXPECT_EQ(windows.Target.dwType, 2u);
  EXPECT_EQ(windows.Target.dwDeviceID, 4u);
  EXPECT_EQ(windows.Target.wMid, 0x1234);
  EXPECT_EQ(windows.Target.wPid, 0x5678);
  EXPECT_EQ(windows.Target.vDriverVersion, 0x00050001u);
  EXPECT_STREQ(windows.Target.szPname, ours.Target.szPname);

  MixerLine back;
  from_windows(windows, back);
  EXPECT_EQ(back.cbStruct, sizeof(MixerLine)) << "our record keeps its own size";
  EXPECT_EQ(std::memcmp(&back, &ours, sizeof ours), 0)
      << "every field (and the padding, zero in both) comes back";
}

TEST(WinmmRecordsTest, NameFieldsAreTerminatedEvenWhenTheServiceFillsThemWhole) {
  MIXERLINEA windows{};
  std::memset(windows.szName, 'x', sizeof windows.szName);
  std::memset(windows.szShortName, 'y', sizeof windows.szShortName);
  MixerLine line;
  from_windows(windows, line);
  EXPECT_EQ(name_of(line.szName), std::string(kNameChars - 1, 'x'));
  EXPECT_EQ(name_of(line.szShortName), std::string(kShortNameChars - 1, 'y'));

  MIXERCAPSA caps{};
  std::memset(caps.szPname, 'z', sizeof caps.szPname);
  MixerCaps ours;
  from_windows(caps, ours);
  EXPECT_EQ(name_of(ours.szPname), std::string(kPnameChars - 1, 'z'));
}

TEST(WinmmRecordsTest, ControlBoundsAndMetricsKeepTheirBits) {
  MIXERCONTROLA windows{};
  windows.cbStruct = sizeof windows;
  windows.dwControlID = 77;
  windows.dwControlType = ctrl::kPan;
  windows.fdwControl = ctrl::kFlagUniform | ctrl::kFlagDisabled;
  windows.cMultipleItems = 4;
  std::strcpy(windows.szShortName, "Pan");
  std::strcpy(windows.szName, "Balance");
  windows.Bounds.lMinimum = -32768;
  windows.Bounds.lMaximum = 32767;
  for (DWORD k = 2; k < 6; ++k) windows.Bounds.dwReserved[k] = 100 + k;
  windows.Metrics.cSteps = 65535;
  for (DWORD k = 1; k < 6; ++k) windows.Metrics.dwReserved[k] = 200 + k;

  MixerControl ours;
  from_windows(windows, ours);
  EXPECT_EQ(ours.dwControlID, 77u);
  EXPECT_EQ(ours.dwControlType, ctrl::kPan);
  EXPECT_EQ(ours.fdwControl, ctrl::kFlagUniform | ctrl::kFlagDisabled);
  EXPECT_EQ(ours.cMultipleItems, 4u);
  EXPECT_EQ(name_of(ours.szShortName), "Pan");
  EXPECT_EQ(name_of(ours.szName), "Balance");
  EXPECT_EQ(ours.Bounds.lMinimum, -32768);
  EXPECT_EQ(ours.Bounds.lMaximum, 32767);
  EXPECT_EQ(ours.Bounds.dwReserved[0], 102u);
  EXPECT_EQ(ours.Bounds.dwReserved[3], 105u);
  EXPECT_EQ(ours.Metrics.cSteps, 65535u);
  EXPECT_EQ(ours.Metrics.dwReserved[0], 201u);
  EXPECT_EQ(ours.Metrics.dwReserved[4], 205u);

  // Unsigned bounds above 2^31 are the same 32 bits.
  windows.Bounds.dwMinimum = 0;
  windows.Bounds.dwMaximum = 0xFFFFFFFF;
  from_windows(windows, ours);
  EXPECT_EQ(ours.Bounds.lMaximum, -1);
}

TEST(WinmmRecordsTest, ListTextAndDetailsHeader) {
  MIXERCONTROLDETAILS_LISTTEXTA text{};
  text.dwParam1 = 0x10001;
  text.dwParam2 = 3;
  std::strcpy(text.szName, "Microphone");
  ListText ours;
  from_windows(text, ours);
  EXPECT_EQ(ours.dwParam1, 0x10001u);
  EXPECT_EQ(ours.dwParam2, 3u);
  EXPECT_EQ(name_of(ours.szName), "Microphone");

  std::int32_t values[6] = {};
  MixerControlDetails details;
  details.dwControlID = 12;
  details.cChannels = 2;
  details.cMultipleItems = 3;
  details.cbDetails = sizeof(std::int32_t);
  details.paDetails = values;
  MIXERCONTROLDETAILS windows;
  std::memset(&windows, 0x5A, sizeof windows);
  to_windows(details, values, sizeof(MIXERCONTROLDETAILS_UNSIGNED), windows);
  EXPECT_EQ(windows.cbStruct, sizeof(MIXERCONTROLDETAILS));
  EXPECT_EQ(windows.dwControlID, 12u);
  EXPECT_EQ(windows.cChannels, 2u);
  EXPECT_EQ(windows.cMultipleItems, 3u);
  EXPECT_EQ(windows.hwndOwner, reinterpret_cast<HWND>(std::uintptr_t{3}))
      << "the other half of the union is cleared";
  EXPECT_EQ(windows.cbDetails, sizeof(MIXERCONTROLDETAILS_UNSIGNED));
  EXPECT_EQ(windows.paDetails, values);
}

TEST(WinmmRecordsTest, QueryFlagsNameTheHandleAndTheQuery) {
  EXPECT_EQ(line_info_flags(LineQuery::kDestination),
            DWORD{MIXER_OBJECTF_HMIXER | MIXER_GETLINEINFOF_DESTINATION});
  EXPECT_EQ(line_info_flags(LineQuery::kSource),
            DWORD{MIXER_OBJECTF_HMIXER | MIXER_GETLINEINFOF_SOURCE});
  EXPECT_EQ(line_info_flags(LineQuery::kLineId),
            DWORD{MIXER_OBJECTF_HMIXER | MIXER_GETLINEINFOF_LINEID});
  EXPECT_EQ(line_controls_flags(ControlsQuery::kAll),
            DWORD{MIXER_OBJECTF_HMIXER | MIXER_GETLINECONTROLSF_ALL});
  EXPECT_EQ(line_controls_flags(ControlsQuery::kOneById),
            DWORD{MIXER_OBJECTF_HMIXER | MIXER_GETLINECONTROLSF_ONEBYID});
  EXPECT_EQ(control_details_flags(DetailsQuery::kValue),
            DWORD{MIXER_OBJECTF_HMIXER | MIXER_GETCONTROLDETAILSF_VALUE});
  EXPECT_EQ(control_details_flags(DetailsQuery::kListText),
            DWORD{MIXER_OBJECTF_HMIXER | MIXER_GETCONTROLDETAILSF_LISTTEXT});
}

// The snapshot of the machine's own mixer, when it has one.
TEST(WinmmMixerTest, SnapshotOfTheMachinesMixerIsAMixerDocument) {
  WinmmMixer service;
  if (service.device_count() == 0) GTEST_SKIP() << "this machine shows no mixer device";
  pugi::xml_document document;
  std::optional<std::string> default_name;
  ASSERT_TRUE(build_snapshot(document, service, default_name));
  ASSERT_TRUE(default_name.has_value());
  pugi::xml_node root = document.child("audio_mixer");
  ASSERT_TRUE(root);
  // The device's name made a file name (Wine's "Out: default" is saved as
  // "Out_ default.xml").
  EXPECT_EQ(*default_name, default_file_name(root.first_child().value()));
  ASSERT_TRUE(root.child("destination"));
  EXPECT_FALSE(document.select_nodes("/audio_mixer/destination/line_control").empty());
}

}  // namespace
}  // namespace quorvel
