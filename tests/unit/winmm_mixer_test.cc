// The Windows multimedia mixer back-end: the record conversions, and the
// service on the machine's own mixer (under Wine, its mixer of the null
// ALSA device when the tests are run with that configuration).
#include <windows.h>
#include <mmsystem.h>

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

#include "platform/os/file_name.h"
#include "platform/sim/sim_mixer.h"
#include "platform/winmm/winmm_mixer.h"
#include "platform/xml/xml_dom.h"
#include "snapshot/snapshot.h"

namespace quorvel {
namespace {

template <std::size_t N>
void fill_name(char (&field)[N], char first) {
  for (std::size_t k = 0; k + 1 < N; ++k) field[k] = static_cast<char>(first + k % 26);
  field[N - 1] = '\0';
}

TEST(WinmmRecords, WindowsRecordSizesAreThePlatformsOwn) {
  // The packed 64-bit layouts; ours differ, which is why every call converts.
  EXPECT_EQ(sizeof(MIXERLINEA), 172u);
  EXPECT_EQ(sizeof(MIXERLINECONTROLSA), 28u);
  EXPECT_EQ(sizeof(MIXERCONTROLDETAILS), 32u);
  EXPECT_EQ(sizeof(MIXERCONTROLA), 148u);
  EXPECT_EQ(sizeof(MIXERCAPSA), 48u);
  EXPECT_EQ(sizeof(MIXERCONTROLDETAILS_LISTTEXTA), 72u);
}

TEST(WinmmRecords, LineConvertsEveryFieldBothWays) {
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

TEST(WinmmRecords, NameFieldsAreTerminatedEvenWhenTheServiceFillsThemWhole) {
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

TEST(WinmmRecords, ControlBoundsAndMetricsKeepTheirBits) {
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

TEST(WinmmRecords, ListTextAndDetailsHeader) {
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

TEST(WinmmRecords, QueryFlagsNameTheHandleAndTheQuery) {
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

TEST(WinmmMixerService, HandlesThatAreNotItsOwnAreRefused) {
  WinmmMixer service;
  SimMixer other(SimDevice{"Other", {}});
  MixerHandle foreign;
  ASSERT_EQ(other.open(0, foreign), MMSYSERR_NOERROR);
  MixerCaps caps;
  MixerLine line;
  EXPECT_EQ(service.get_dev_caps(foreign, caps), MMSYSERR_INVALHANDLE);
  EXPECT_EQ(service.get_line_info(foreign, line, LineQuery::kDestination), MMSYSERR_INVALHANDLE);
  MixerHandle never_opened;
  EXPECT_EQ(service.get_dev_caps(never_opened, caps), MMSYSERR_INVALHANDLE);
  EXPECT_EQ(service.open(service.device_count(), never_opened), MMSYSERR_BADDEVICEID);
  EXPECT_FALSE(never_opened.is_open());
}

// The machine's own mixer, when it has one.
class LiveWinmmMixer : public ::testing::Test {
 protected:
  void SetUp() override {
    if (service_.device_count() == 0) GTEST_SKIP() << "this machine shows no mixer device";
    ASSERT_EQ(service_.open(0, handle_), MMSYSERR_NOERROR);
  }

  std::vector<MixerControl> controls_of(const MixerLine& line) {
    std::vector<MixerControl> controls(line.cControls);
    MixerLineControls query;
    query.dwLineID = line.dwLineID;
    query.cControls = line.cControls;
    query.pamxctrl = controls.data();
    EXPECT_EQ(service_.get_line_controls(handle_, query, ControlsQuery::kAll),
              MMSYSERR_NOERROR);
    return controls;
  }

  // Every line of device 0: destinations, each followed by its sources.
  std::vector<MixerLine> lines() {
    std::vector<MixerLine> all;
    MixerCaps caps;
    EXPECT_EQ(service_.get_dev_caps(handle_, caps), MMSYSERR_NOERROR);
    for (std::uint32_t d = 0; d < caps.cDestinations; ++d) {
      MixerLine destination;
      destination.dwDestination = d;
      EXPECT_EQ(service_.get_line_info(handle_, destination, LineQuery::kDestination),
                MMSYSERR_NOERROR);
      all.push_back(destination);
      for (std::uint32_t s = 0; s < destination.cConnections; ++s) {
        MixerLine source;
        source.dwDestination = d;
        source.dwSource = s;
        EXPECT_EQ(service_.get_line_info(handle_, source, LineQuery::kSource), MMSYSERR_NOERROR);
        all.push_back(source);
      }
    }
    return all;
  }

  WinmmMixer service_;
  MixerHandle handle_;
};

TEST_F(LiveWinmmMixer, DescribesItsLinesAndFindsEveryControlById) {
  MixerCaps caps;
  ASSERT_EQ(service_.get_dev_caps(handle_, caps), MMSYSERR_NOERROR);
  EXPECT_FALSE(name_of(caps.szPname).empty());
  ASSERT_GE(caps.cDestinations, 1u);

  std::size_t controls_seen = 0;
  for (const MixerLine& line : lines()) {
    MixerLine by_id;
    by_id.dwLineID = line.dwLineID;
    ASSERT_EQ(service_.get_line_info(handle_, by_id, LineQuery::kLineId), MMSYSERR_NOERROR);
    EXPECT_EQ(by_id.cChannels, line.cChannels);
    EXPECT_EQ(by_id.cControls, line.cControls);
    EXPECT_EQ(name_of(by_id.szName), name_of(line.szName));

    for (const MixerControl& control : controls_of(line)) {
      ++controls_seen;
      // Asked from an unrelated line id, as the snapshot builder asks.
      MixerControl found;
      MixerLineControls query;
      query.dwControlID = control.dwControlID;
      query.cControls = 1;
      query.pamxctrl = &found;
      ASSERT_EQ(service_.get_line_controls(handle_, query, ControlsQuery::kOneById),
                MMSYSERR_NOERROR)
          << "control " << control.dwControlID;
      EXPECT_EQ(found.dwControlID, control.dwControlID);
      EXPECT_EQ(found.dwControlType, control.dwControlType);
      EXPECT_EQ(query.dwLineID, line.dwLineID) << "the line that owns control "
                                               << control.dwControlID;
    }
  }
  EXPECT_GT(controls_seen, 0u);

  MixerControl none;
  MixerLineControls unknown;
  unknown.dwControlID = 0x7FFFFFF0;
  unknown.cControls = 1;
  unknown.pamxctrl = &none;
  EXPECT_NE(service_.get_line_controls(handle_, unknown, ControlsQuery::kOneById),
            MMSYSERR_NOERROR);
}

TEST_F(LiveWinmmMixer, DestinationVolumeAndMuteAreWrittenAndReadBack) {
  MixerLine destination;
  destination.dwDestination = 0;
  ASSERT_EQ(service_.get_line_info(handle_, destination, LineQuery::kDestination),
            MMSYSERR_NOERROR);
  for (const MixerControl& control : controls_of(destination)) {
    if (control.dwControlType != ctrl::kVolume && control.dwControlType != ctrl::kMute) continue;
    std::int32_t before = 0;
    MixerControlDetails details;
    details.dwControlID = control.dwControlID;
    details.cChannels = 1;
    details.cbDetails = sizeof(std::int32_t);
    details.paDetails = &before;
    ASSERT_EQ(service_.get_control_details(handle_, details, DetailsQuery::kValue),
              MMSYSERR_NOERROR);

    std::int32_t wanted = control.dwControlType == ctrl::kMute ? (before == 0 ? 1 : 0)
                                                                : (before == 12345 ? 23456 : 12345);
    details.paDetails = &wanted;
    ASSERT_EQ(service_.set_control_details(handle_, details), MMSYSERR_NOERROR);
    std::int32_t after = -1;
    details.paDetails = &after;
    ASSERT_EQ(service_.get_control_details(handle_, details, DetailsQuery::kValue),
              MMSYSERR_NOERROR);
    if (control.dwControlType == ctrl::kMute) {
      EXPECT_EQ(after, wanted);
    } else {
      // A volume may be kept at a coarser step than 16 bits.
      EXPECT_NEAR(after, wanted, 2) << "volume of " << name_of(control.szName);
    }
    details.paDetails = &before;
    EXPECT_EQ(service_.set_control_details(handle_, details), MMSYSERR_NOERROR);
  }
}

TEST_F(LiveWinmmMixer, RecordsOfTheWrongShapeAreRefusedBeforeTheService) {
  MixerLine line;
  line.cbStruct = sizeof(MixerLine) - 4;
  EXPECT_EQ(service_.get_line_info(handle_, line, LineQuery::kDestination), MMSYSERR_INVALPARAM);

  MixerLineControls controls;
  controls.cControls = 1;
  EXPECT_EQ(service_.get_line_controls(handle_, controls, ControlsQuery::kAll),
            MMSYSERR_INVALPARAM)
      << "no array";
  MixerControl one;
  controls.pamxctrl = &one;
  controls.cbmxctrl = sizeof(MIXERCONTROLA);
  EXPECT_EQ(service_.get_line_controls(handle_, controls, ControlsQuery::kAll),
            MMSYSERR_INVALPARAM)
      << "the Windows record's size is not ours";

  std::int32_t value = 0;
  MixerControlDetails details;
  details.cChannels = 1;
  details.cbDetails = 2;
  details.paDetails = &value;
  EXPECT_EQ(service_.get_control_details(handle_, details, DetailsQuery::kValue),
            MMSYSERR_INVALPARAM);
  EXPECT_EQ(service_.set_control_details(handle_, details), MMSYSERR_INVALPARAM);
  details.cbDetails = sizeof value;
  details.paDetails = nullptr;
  EXPECT_EQ(service_.set_control_details(handle_, details), MMSYSERR_INVALPARAM);
}

TEST_F(LiveWinmmMixer, ClosedHandleIsRefused) {
  MixerHandle second;
  ASSERT_EQ(service_.open(0, second), MMSYSERR_NOERROR);
  MixerHandle copy_of_id(&service_, second.id());
  second.close();
  MixerCaps caps;
  EXPECT_EQ(service_.get_dev_caps(copy_of_id, caps), MMSYSERR_INVALHANDLE);
  // The copy closes the id again when it goes; that too is refused quietly.
}

TEST_F(LiveWinmmMixer, SnapshotOfTheMixerIsAMixerDocument) {
  handle_.close();
  pugi::xml_document document;
  std::optional<std::string> default_name;
  ASSERT_TRUE(build_snapshot(document, service_, default_name));
  ASSERT_TRUE(default_name.has_value());
  pugi::xml_node root = document.child("audio_mixer");
  ASSERT_TRUE(root);
  // The device's name made a file name (Wine's "Out: default" is saved as
  // "Out_ default.xml").
  EXPECT_EQ(*default_name, default_file_name(root.first_child().value()));
  std::vector<pugi::xml_node> destinations = select_nodes(document, Pattern::kDestinations);
  ASSERT_FALSE(destinations.empty());
  EXPECT_FALSE(select_nodes(document, Pattern::kDestinationLineControls).empty());
}

}  // namespace
}  // namespace quorvel
