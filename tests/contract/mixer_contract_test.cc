// The mixer service contract (platform/mixer/mixer.h), one test per clause,
// run against every back-end of the platform being built (each back-end's
// file instantiates the suite).
#include <gtest/gtest.h>

#include <climits>
#include <initializer_list>
#include <cstdint>
#include <limits>
#include <set>
#include <string>
#include <vector>

#include "contract/mixer_contract.h"
#include "platform/mixer/control_bounds.h"

namespace quorvel::testing {
namespace {

constexpr std::uint32_t kLineSource = 0x80000000u;

// Values outside a control's bounds: the 32 bits just past each end, where
// they are outside (bounds that reach as far as 32 bits go have none there).
std::vector<std::int32_t> outside_bounds(const MixerControl& control) {
  const std::int32_t min = control.Bounds.lMinimum;
  const std::int32_t max = control.Bounds.lMaximum;
  std::vector<std::int32_t> out;
  for (std::uint32_t past :
       {static_cast<std::uint32_t>(max) + 1, static_cast<std::uint32_t>(min) - 1}) {
    const auto value = static_cast<std::int32_t>(past);
    if (!within_bounds(min, max, value)) out.push_back(value);
  }
  return out;
}

// Item states with only item `k` of `items` selected.
std::vector<std::int32_t> only(std::uint32_t k, std::uint32_t items) {
  std::vector<std::int32_t> states(items, 0);
  states[k] = 1;
  return states;
}

TEST_P(MixerContractTest, DeviceNumbersAreChecked) {
  const unsigned count = service_->device_count();
  ASSERT_GE(count, 1u);
  for (unsigned device : {count, count + 1, UINT_MAX}) {
    MixerHandle handle;
    EXPECT_EQ(service_->open(device, handle), MMSYSERR_BADDEVICEID) << device;
    EXPECT_FALSE(handle.is_open());
  }
  for (unsigned device = 0; device < count; ++device) {
    MixerHandle handle;
    EXPECT_EQ(service_->open(device, handle), MMSYSERR_NOERROR) << device;
    EXPECT_TRUE(handle.is_open());
  }
}

TEST_P(MixerContractTest, BadHandleIsRefused) {
  std::unique_ptr<MixerService> other = instance_->another_service();
  MixerHandle foreign;
  ASSERT_EQ(other->open(0, foreign), MMSYSERR_NOERROR);
  const ControlView volume = first_control([](const ControlView&) { return true; });
  const MixerHandle never_opened;
  const MixerHandle forged(service_, std::numeric_limits<std::uintptr_t>::max() - 7);
  const MixerHandle from_other(service_, foreign.id());
  for (const MixerHandle* handle :
       std::initializer_list<const MixerHandle*>{&never_opened, &forged, &from_other, &foreign}) {
    SCOPED_TRACE(handle == &foreign ? "a handle of another service" : "not a handle of this one");
    MixerCaps caps;
    EXPECT_EQ(service_->get_dev_caps(*handle, caps), MMSYSERR_INVALHANDLE);
    MixerLine line;
    EXPECT_EQ(service_->get_line_info(*handle, line, LineQuery::kDestination),
              MMSYSERR_INVALHANDLE);
    MixerControl control;
    MixerLineControls query;
    query.dwControlID = volume.id();
    query.cControls = 1;
    query.pamxctrl = &control;
    EXPECT_EQ(service_->get_line_controls(*handle, query, ControlsQuery::kOneById),
              MMSYSERR_INVALHANDLE);
    std::vector<std::int32_t> values;
    EXPECT_EQ(read(volume, 1, values, handle), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(values.front(), -7) << "nothing read";
    EXPECT_EQ(write(volume, 1, {volume.control.Bounds.lMinimum}, handle), MMSYSERR_INVALHANDLE);
  }
  // The other service still serves its own handle.
  MixerCaps caps;
  EXPECT_EQ(other->get_dev_caps(foreign, caps), MMSYSERR_NOERROR);
}

TEST_P(MixerContractTest, ClosedHandleIsRefusedAndOthersGoOn) {
  MixerHandle second;
  ASSERT_EQ(service_->open(0, second), MMSYSERR_NOERROR);
  EXPECT_NE(second.id(), handle_.id());
  const MixerHandle stale(service_, second.id());  // closes the id again when it goes: refused
  second.close();
  EXPECT_FALSE(second.is_open());
  MixerCaps caps;
  EXPECT_EQ(service_->get_dev_caps(stale, caps), MMSYSERR_INVALHANDLE);
  MixerLine line;
  EXPECT_EQ(service_->get_line_info(stale, line, LineQuery::kDestination), MMSYSERR_INVALHANDLE);
  const ControlView any = first_control([](const ControlView&) { return true; });
  std::vector<std::int32_t> values;
  EXPECT_EQ(read(any, 1, values, &stale), MMSYSERR_INVALHANDLE);
  // The first handle is not touched by the other's close.
  EXPECT_EQ(service_->get_dev_caps(handle_, caps), MMSYSERR_NOERROR);
  EXPECT_EQ(read(any, 1, values), MMSYSERR_NOERROR);
}

TEST_P(MixerContractTest, RecordSizesAreChecked) {
  const ControlView control = first_control([](const ControlView&) { return true; });
  const LineView& line = *control.line;

  MixerLine wrong_line;
  wrong_line.cbStruct = sizeof(MixerLine) - 4;
  EXPECT_EQ(service_->get_line_info(handle_, wrong_line, LineQuery::kDestination),
            MMSYSERR_INVALPARAM);

  std::vector<MixerControl> room(line.controls.size() + 1);
  MixerLineControls query;
  query.dwLineID = line.line.dwLineID;
  query.cControls = line.line.cControls;
  query.pamxctrl = room.data();
  query.cbStruct = sizeof(MixerLineControls) + 4;
  EXPECT_EQ(service_->get_line_controls(handle_, query, ControlsQuery::kAll), MMSYSERR_INVALPARAM);
  query.cbStruct = sizeof(MixerLineControls);
  query.cbmxctrl = sizeof(MixerControl) + 4;
  EXPECT_EQ(service_->get_line_controls(handle_, query, ControlsQuery::kAll), MMSYSERR_INVALPARAM);
  query.cbmxctrl = sizeof(MixerControl);
  EXPECT_EQ(service_->get_line_controls(handle_, query, ControlsQuery::kAll), MMSYSERR_NOERROR);

  std::vector<std::int32_t> values(control.slots(1) + 8, -7);
  MixerControlDetails details = details_for(control.id(), 1, control.items(), values.data());
  details.cbStruct = 20;
  EXPECT_EQ(service_->get_control_details(handle_, details, DetailsQuery::kValue),
            MMSYSERR_INVALPARAM);
  EXPECT_EQ(service_->set_control_details(handle_, details), MMSYSERR_INVALPARAM);
  details.cbStruct = sizeof(MixerControlDetails);
  for (std::uint32_t size : {2u, 8u, static_cast<std::uint32_t>(sizeof(ListText))}) {
    details.cbDetails = size;
    EXPECT_EQ(service_->get_control_details(handle_, details, DetailsQuery::kValue),
              MMSYSERR_INVALPARAM)
        << size;
    EXPECT_EQ(service_->set_control_details(handle_, details), MMSYSERR_INVALPARAM) << size;
  }
  details.cbDetails = sizeof(std::int32_t);
  EXPECT_EQ(service_->get_control_details(handle_, details, DetailsQuery::kListText),
            MMSYSERR_INVALPARAM)
      << "list texts are ListText records";
  EXPECT_EQ(values.front(), -7) << "nothing read";
}

TEST_P(MixerContractTest, UnknownQueryKindsAreRefused) {
  const ControlView control = first_control([](const ControlView&) { return true; });
  MixerLine line;
  EXPECT_EQ(service_->get_line_info(handle_, line, static_cast<LineQuery>(7)),
            MMSYSERR_INVALFLAG);
  MixerControl one;
  MixerLineControls query;
  query.dwControlID = control.id();
  query.cControls = 1;
  query.pamxctrl = &one;
  EXPECT_EQ(service_->get_line_controls(handle_, query, static_cast<ControlsQuery>(7)),
            MMSYSERR_INVALFLAG);
  std::vector<std::int32_t> values(control.slots(1) + 1);
  MixerControlDetails details = details_for(control.id(), 1, control.items(), values.data());
  EXPECT_EQ(service_->get_control_details(handle_, details, static_cast<DetailsQuery>(7)),
            MMSYSERR_INVALFLAG);
}

TEST_P(MixerContractTest, DeviceIsDescribed) {
  MixerCaps caps;
  ASSERT_EQ(service_->get_dev_caps(handle_, caps), MMSYSERR_NOERROR);
  const std::string name = name_of(caps.szPname);
  EXPECT_FALSE(name.empty());
  EXPECT_LT(name.size(), kPnameChars) << "terminated within the field";
  EXPECT_GE(caps.cDestinations, 1u);
  std::uint32_t destinations = 0;
  for (const LineView& view : layout_) {
    if ((view.line.fdwLine & kLineSource) == 0) ++destinations;
  }
  EXPECT_EQ(destinations, caps.cDestinations);

  // Another handle describes the same device.
  MixerHandle second;
  ASSERT_EQ(service_->open(0, second), MMSYSERR_NOERROR);
  MixerCaps again;
  ASSERT_EQ(service_->get_dev_caps(second, again), MMSYSERR_NOERROR);
  EXPECT_EQ(name_of(again.szPname), name);
  EXPECT_EQ(again.cDestinations, caps.cDestinations);
}

TEST_P(MixerContractTest, LinesAreFoundByIndexAndById) {
  std::set<std::uint32_t> ids;
  for (const LineView& view : layout_) {
    const MixerLine& by_index = view.line;
    SCOPED_TRACE(name_of(by_index.szName));
    EXPECT_TRUE(ids.insert(by_index.dwLineID).second) << "line ids are unique";
    const bool is_source = (by_index.fdwLine & kLineSource) != 0;
    if (is_source) {
      EXPECT_EQ(by_index.cConnections, 0u);
    }
    EXPECT_EQ(by_index.cControls, view.controls.size());

    MixerLine by_id;
    by_id.dwLineID = by_index.dwLineID;
    ASSERT_EQ(service_->get_line_info(handle_, by_id, LineQuery::kLineId), MMSYSERR_NOERROR);
    EXPECT_EQ(by_id.cbStruct, sizeof(MixerLine));
    EXPECT_EQ(by_id.dwDestination, by_index.dwDestination);
    EXPECT_EQ(by_id.dwSource, by_index.dwSource);
    EXPECT_EQ(by_id.fdwLine, by_index.fdwLine);
    EXPECT_EQ(by_id.dwComponentType, by_index.dwComponentType);
    EXPECT_EQ(by_id.cChannels, by_index.cChannels);
    EXPECT_EQ(by_id.cConnections, by_index.cConnections);
    EXPECT_EQ(by_id.cControls, by_index.cControls);
    EXPECT_EQ(name_of(by_id.szName), name_of(by_index.szName));
    EXPECT_EQ(name_of(by_id.szShortName), name_of(by_index.szShortName));
  }
}

TEST_P(MixerContractTest, UnknownLinesAreRefused) {
  MixerCaps caps;
  ASSERT_EQ(service_->get_dev_caps(handle_, caps), MMSYSERR_NOERROR);
  MixerLine line;
  line.dwDestination = caps.cDestinations;
  EXPECT_EQ(service_->get_line_info(handle_, line, LineQuery::kDestination), MIXERR_INVALLINE);
  const MixerLine& destination = layout_.front().line;
  line.dwDestination = 0;
  line.dwSource = destination.cConnections;
  EXPECT_EQ(service_->get_line_info(handle_, line, LineQuery::kSource), MIXERR_INVALLINE);
  line.dwLineID = unknown_line_id();
  EXPECT_EQ(service_->get_line_info(handle_, line, LineQuery::kLineId), MIXERR_INVALLINE);

  // The controls of an unknown line, asked with a count some line has.
  std::vector<MixerControl> room(destination.cControls + 1);
  MixerLineControls query;
  query.dwLineID = unknown_line_id();
  query.cControls = destination.cControls;
  query.pamxctrl = room.data();
  EXPECT_EQ(service_->get_line_controls(handle_, query, ControlsQuery::kAll), MIXERR_INVALLINE);
}

// A line's identity: for every line, a name or none and one position per
// channel or none; an unknown line or a handle not open is refused.
TEST_P(MixerContractTest, LineIdentitiesAreGivenPerLine) {
  for (const LineView& view : layout_) {
    SCOPED_TRACE(name_of(view.line.szName));
    LineIdentity identity;
    identity.positions = {"left over"};
    ASSERT_EQ(service_->get_line_identity(handle_, view.line.dwLineID, identity),
              MMSYSERR_NOERROR);
    EXPECT_TRUE(identity.positions.empty() || identity.positions.size() == view.line.cChannels)
        << identity.positions.size() << " positions for " << view.line.cChannels << " channels";
    for (const std::string& position : identity.positions) EXPECT_FALSE(position.empty());
  }
  LineIdentity identity;
  EXPECT_EQ(service_->get_line_identity(handle_, unknown_line_id(), identity), MIXERR_INVALLINE);
  const MixerHandle never_opened;
  EXPECT_EQ(service_->get_line_identity(never_opened, layout_.front().line.dwLineID, identity),
            MMSYSERR_INVALHANDLE);
}

// How much the device describes, where the back-end can say: at least what
// a client walking it finds (a line without channels shows no controls, but
// may hold some); a handle not open is refused.
TEST_P(MixerContractTest, ExtentCoversWhatIsDescribed) {
  MixerExtent extent;
  const MixerResult result = service_->get_extent(handle_, extent);
  if (result == MMSYSERR_NOTSUPPORTED) GTEST_SKIP() << "this back-end does not count its device";
  ASSERT_EQ(result, MMSYSERR_NOERROR);
  EXPECT_EQ(extent.lines, layout_.size());
  std::size_t controls = 0;
  std::size_t values = 0;
  for (const LineView& view : layout_) {
    controls += view.controls.size();
    values += std::size_t{view.line.cChannels} * view.controls.size();
  }
  EXPECT_GE(extent.controls, controls);
  EXPECT_GE(extent.channel_values, values);
  const MixerHandle never_opened;
  EXPECT_EQ(service_->get_extent(never_opened, extent), MMSYSERR_INVALHANDLE);
}

TEST_P(MixerContractTest, LineControlsAreListedAndFoundById) {
  std::set<std::uint32_t> ids;
  for (const LineView& view : layout_) {
    SCOPED_TRACE(name_of(view.line.szName));
    const std::uint32_t count = view.line.cControls;
    std::vector<MixerControl> room(count + 2);
    MixerLineControls query;
    query.dwLineID = view.line.dwLineID;
    query.pamxctrl = room.data();
    query.cControls = count + 1;
    EXPECT_EQ(service_->get_line_controls(handle_, query, ControlsQuery::kAll),
              MMSYSERR_INVALPARAM)
        << "the count must be the line's";
    if (count > 0) {
      query.cControls = count - 1;
      EXPECT_EQ(service_->get_line_controls(handle_, query, ControlsQuery::kAll),
                MMSYSERR_INVALPARAM);
    }
    for (const MixerControl& listed : view.controls) {
      EXPECT_TRUE(ids.insert(listed.dwControlID).second) << "control ids are unique";
      MixerControl found;
      MixerLineControls one;
      one.dwLineID = 0x12345678;  // asked from no line in particular
      one.dwControlID = listed.dwControlID;
      one.cControls = 1;
      one.pamxctrl = &found;
      ASSERT_EQ(service_->get_line_controls(handle_, one, ControlsQuery::kOneById),
                MMSYSERR_NOERROR)
          << listed.dwControlID;
      EXPECT_EQ(one.dwLineID, view.line.dwLineID) << "the line that owns the control";
      EXPECT_EQ(found.dwControlID, listed.dwControlID);
      EXPECT_EQ(found.dwControlType, listed.dwControlType);
      EXPECT_EQ(found.fdwControl, listed.fdwControl);
      EXPECT_EQ(found.cMultipleItems, listed.cMultipleItems);
      EXPECT_EQ(found.Bounds.lMinimum, listed.Bounds.lMinimum);
      EXPECT_EQ(found.Bounds.lMaximum, listed.Bounds.lMaximum);
      EXPECT_EQ(found.Metrics.cSteps, listed.Metrics.cSteps);
      EXPECT_EQ(name_of(found.szName), name_of(listed.szName));
      EXPECT_EQ(name_of(found.szShortName), name_of(listed.szShortName));
      EXPECT_EQ(listed.cMultipleItems > 0, (listed.fdwControl & ctrl::kFlagMultiple) != 0)
          << "items belong to list controls";
    }
  }
}

TEST_P(MixerContractTest, UnknownControlsAreRefused) {
  const std::uint32_t unknown = unknown_control_id();
  MixerControl found[2];
  MixerLineControls one;
  one.dwControlID = unknown;
  one.cControls = 1;
  one.pamxctrl = found;
  EXPECT_EQ(service_->get_line_controls(handle_, one, ControlsQuery::kOneById),
            MIXERR_INVALCONTROL);
  one.dwControlID = first_control([](const ControlView&) { return true; }).id();
  one.cControls = 2;
  EXPECT_EQ(service_->get_line_controls(handle_, one, ControlsQuery::kOneById),
            MMSYSERR_INVALPARAM)
      << "a control by id is one record";

  std::int32_t value = -7;
  MixerControlDetails details = details_for(unknown, 1, 0, &value);
  EXPECT_EQ(service_->get_control_details(handle_, details, DetailsQuery::kValue),
            MIXERR_INVALCONTROL);
  EXPECT_EQ(service_->set_control_details(handle_, details), MIXERR_INVALCONTROL);
  EXPECT_EQ(value, -7);
}

TEST_P(MixerContractTest, ValuesAreReadInEveryShape) {
  for (const ControlView& view : controls()) {
    SCOPED_TRACE(name_of(view.control.szName));
    const std::vector<std::int32_t> whole = values_of(view, 1);
    for (std::uint32_t channels : channel_counts(view)) {
      const std::vector<std::int32_t> read = values_of(view, channels);
      ASSERT_EQ(read.size(), std::max<std::size_t>(view.slots(channels), 1));
      // Channel 1 (or the first block of items) is what a read of the
      // control as a whole gives; a list's blocks are all alike.
      const std::size_t block = view.is_list() ? view.items() : 1;
      for (std::size_t k = 0; k < view.slots(channels); ++k) {
        if (view.is_list() || k == 0) {
          EXPECT_EQ(read[k], whole[k % block]) << "slot " << k;
        }
      }
    }
  }
}

TEST_P(MixerContractTest, ValueShapesAreChecked) {
  REQUIRE_FEATURE(Feature::kShapeChecks);
  const ControlView plain =
      first_control([](const ControlView& v) { return !v.is_list() && v.channels() >= 2; });
  const std::vector<std::int32_t> before = values_of(plain, plain.channels());
  struct Shape {
    std::uint32_t channels, items;
  };
  std::vector<Shape> wrong = {{0, 0}, {plain.channels() + 1, 0}, {1, 1}, {plain.channels(), 2}};
  if (has(Feature::kListControls)) {
    const ControlView list = first_control([](const ControlView& v) { return v.is_list(); });
    ASSERT_GE(list.items(), 1u);
    for (std::uint32_t items : {0u, list.items() - 1, list.items() + 1}) {
      std::vector<std::int32_t> slots(list.items() + 2, -7);
      MixerControlDetails details = details_for(list.id(), 1, items, slots.data());
      EXPECT_EQ(service_->get_control_details(handle_, details, DetailsQuery::kValue),
                MMSYSERR_INVALPARAM)
          << items << " items";
      EXPECT_EQ(service_->set_control_details(handle_, details), MMSYSERR_INVALPARAM);
      EXPECT_EQ(slots.front(), -7) << "nothing read";
    }
  }
  for (const Shape& shape : wrong) {
    SCOPED_TRACE(::testing::Message() << shape.channels << " channels, " << shape.items << " items");
    std::vector<std::int32_t> slots(2 * (plain.channels() + 1) + 2, -7);
    MixerControlDetails details = details_for(plain.id(), shape.channels, shape.items, slots.data());
    EXPECT_EQ(service_->get_control_details(handle_, details, DetailsQuery::kValue),
              MMSYSERR_INVALPARAM);
    EXPECT_EQ(slots.front(), -7) << "nothing read";
    for (std::int32_t& slot : slots) slot = plain.control.Bounds.lMinimum;
    EXPECT_EQ(service_->set_control_details(handle_, details), MMSYSERR_INVALPARAM);
  }
  EXPECT_EQ(values_of(plain, plain.channels()), before) << "nothing written";
}

TEST_P(MixerContractTest, NullArraysAreRefusedWhenThereIsSomethingToFill) {
  const LineView& line = *first_control([](const ControlView&) { return true; }).line;
  MixerLineControls all;
  all.dwLineID = line.line.dwLineID;
  all.cControls = line.line.cControls;
  EXPECT_EQ(service_->get_line_controls(handle_, all, ControlsQuery::kAll), MMSYSERR_INVALPARAM);
  MixerLineControls one;
  one.dwControlID = line.controls.front().dwControlID;
  one.cControls = 1;
  EXPECT_EQ(service_->get_line_controls(handle_, one, ControlsQuery::kOneById),
            MMSYSERR_INVALPARAM);

  for (const ControlView& view : controls()) {
    SCOPED_TRACE(name_of(view.control.szName));
    MixerControlDetails details = details_for(view.id(), 1, view.items(), nullptr);
    EXPECT_EQ(service_->get_control_details(handle_, details, DetailsQuery::kValue),
              MMSYSERR_INVALPARAM);
    EXPECT_EQ(service_->set_control_details(handle_, details), MMSYSERR_INVALPARAM);
    if (view.is_list() && view.items() > 0) {
      details.cbDetails = sizeof(ListText);
      EXPECT_EQ(service_->get_control_details(handle_, details, DetailsQuery::kListText),
                MMSYSERR_INVALPARAM);
    }
  }
}

TEST_P(MixerContractTest, NullArraysAreAcceptedWhenThereIsNothingToFill) {
  REQUIRE_FEATURE(Feature::kLineWithoutControls);
  const LineView* empty = nullptr;
  for (const LineView& view : layout_) {
    if (view.line.cControls == 0) empty = &view;
  }
  ASSERT_NE(empty, nullptr);
  MixerLineControls all;
  all.dwLineID = empty->line.dwLineID;
  all.cControls = 0;
  EXPECT_EQ(service_->get_line_controls(handle_, all, ControlsQuery::kAll), MMSYSERR_NOERROR);
}

TEST_P(MixerContractTest, ListTextsNameEveryItem) {
  REQUIRE_FEATURE(Feature::kListControls);
  for (const ControlView& list : controls([](const ControlView& v) { return v.is_list(); })) {
    SCOPED_TRACE(name_of(list.control.szName));
    std::vector<ListText> texts(list.items() + 1);
    MixerControlDetails details = details_for(list.id(), 1, list.items(), texts.data());
    details.cbDetails = sizeof(ListText);
    ASSERT_EQ(service_->get_control_details(handle_, details, DetailsQuery::kListText),
              MMSYSERR_NOERROR);
    const MixerLine& line = list.line->line;
    const bool items_are_sources =
        (line.fdwLine & kLineSource) == 0 && line.cConnections == list.items();
    for (std::uint32_t k = 0; k < list.items(); ++k) {
      EXPECT_FALSE(name_of(texts[k].szName).empty()) << "item " << k;
      if (!items_are_sources) continue;
      MixerLine source;
      source.dwDestination = line.dwDestination;
      source.dwSource = k;
      ASSERT_EQ(service_->get_line_info(handle_, source, LineQuery::kSource), MMSYSERR_NOERROR);
      EXPECT_EQ(texts[k].dwParam1, source.dwLineID) << "item " << k << " stands for source " << k;
      EXPECT_EQ(texts[k].dwParam2, source.dwComponentType);
    }
    details.cMultipleItems = list.items() + 1;
    EXPECT_EQ(service_->get_control_details(handle_, details, DetailsQuery::kListText),
              MMSYSERR_INVALPARAM)
        << "all the items, no more";
  }
  // A control without items has no item names.
  const ControlView plain = first_control([](const ControlView& v) { return !v.is_list(); });
  ListText text;
  MixerControlDetails details = details_for(plain.id(), 1, 0, &text);
  details.cbDetails = sizeof(ListText);
  EXPECT_EQ(service_->get_control_details(handle_, details, DetailsQuery::kListText),
            MMSYSERR_INVALPARAM);
}

TEST_P(MixerContractTest, WritesWithinBoundsAreReadBack) {
  const std::vector<ControlView> settable =
      controls([this](const ControlView& v) { return this->settable(v); });
  ASSERT_FALSE(settable.empty());
  for (const ControlView& view : settable) {
    SCOPED_TRACE(name_of(view.control.szName));
    for (std::int32_t value : {view.control.Bounds.lMaximum, view.control.Bounds.lMinimum}) {
      // One value sets every channel alike.
      ASSERT_EQ(write(view, 1, {value}), MMSYSERR_NOERROR);
      for (std::uint32_t channels : channel_counts(view)) {
        EXPECT_EQ(values_of(view, channels), std::vector<std::int32_t>(channels, value));
      }
    }
    // A value per channel, where the control keeps channels apart.
    if (channel_counts(view).size() < 2 || (view.control.fdwControl & ctrl::kFlagUniform)) continue;
    std::vector<std::int32_t> per_channel(view.channels(), view.control.Bounds.lMinimum);
    per_channel.back() = view.control.Bounds.lMaximum;
    ASSERT_EQ(write(view, view.channels(), per_channel), MMSYSERR_NOERROR);
    EXPECT_EQ(values_of(view, view.channels()), per_channel);
  }
}

TEST_P(MixerContractTest, WritesOutOfBoundsAreRefusedAllOrNothing) {
  REQUIRE_FEATURE(Feature::kBoundChecks);
  for (const ControlView& view : controls([](const ControlView& v) { return !v.is_meter(); })) {
    SCOPED_TRACE(name_of(view.control.szName));
    const std::uint32_t channels = channel_counts(view).back();
    const std::vector<std::int32_t> before = values_of(view, channels);
    if (view.is_list()) {
      for (std::int32_t state : {2, -1}) {
        std::vector<std::int32_t> states = only(0, view.items());
        states.back() = state;
        EXPECT_EQ(write(view, 1, states), MIXERR_INVALVALUE) << "an item is 0 or 1, not " << state;
      }
    } else {
      for (std::int32_t value : outside_bounds(view.control)) {
        EXPECT_EQ(write(view, 1, {value}), MIXERR_INVALVALUE) << value;
        // One good value beside a bad one: nothing is written.
        std::vector<std::int32_t> mixed(channels, view.control.Bounds.lMaximum);
        mixed.back() = value;
        EXPECT_EQ(write(view, channels, mixed), MIXERR_INVALVALUE) << value;
      }
    }
    EXPECT_EQ(values_of(view, channels), before) << "the control keeps all its values";
  }
}

TEST_P(MixerContractTest, MetersAreReadOnly) {
  REQUIRE_FEATURE(Feature::kMeters);
  const std::vector<ControlView> meters = controls([](const ControlView& v) { return v.is_meter(); });
  ASSERT_FALSE(meters.empty());
  for (const ControlView& meter : meters) {
    const std::vector<std::int32_t> before = values_of(meter, 1);
    EXPECT_EQ(write(meter, 1, before), MIXERR_INVALVALUE) << "even its own value";
    EXPECT_EQ(values_of(meter, 1), before);
  }
}

TEST_P(MixerContractTest, MuxKeepsExactlyOneItemSelected) {
  REQUIRE_FEATURE(Feature::kMux);
  const std::vector<ControlView> muxes =
      controls([](const ControlView& v) { return v.control.dwControlType == ctrl::kMux; });
  ASSERT_FALSE(muxes.empty());
  for (const ControlView& mux : muxes) {
    SCOPED_TRACE(name_of(mux.control.szName));
    ASSERT_GE(mux.items(), 2u);
    const std::vector<std::int32_t> before = values_of(mux, 1);
    EXPECT_EQ(std::count(before.begin(), before.end(), 1), 1);
    EXPECT_EQ(write(mux, 1, std::vector<std::int32_t>(mux.items(), 0)), MIXERR_INVALVALUE);
    std::vector<std::int32_t> two = only(0, mux.items());
    two[1] = 1;
    EXPECT_EQ(write(mux, 1, two), MIXERR_INVALVALUE);
    EXPECT_EQ(values_of(mux, 1), before);
    // Selecting an item deselects the others, in one write.
    for (std::uint32_t k = 0; k < mux.items(); ++k) {
      ASSERT_EQ(write(mux, 1, only(k, mux.items())), MMSYSERR_NOERROR) << "item " << k;
      EXPECT_EQ(values_of(mux, 1), only(k, mux.items()));
    }
  }
}

TEST_P(MixerContractTest, MixerListTakesAnySelection) {
  REQUIRE_FEATURE(Feature::kMixerList);
  const std::vector<ControlView> lists =
      controls([](const ControlView& v) { return v.control.dwControlType == ctrl::kMixer; });
  ASSERT_FALSE(lists.empty());
  for (const ControlView& list : lists) {
    SCOPED_TRACE(name_of(list.control.szName));
    for (std::int32_t state : {0, 1}) {
      const std::vector<std::int32_t> all(list.items(), state);
      ASSERT_EQ(write(list, 1, all), MMSYSERR_NOERROR);
      EXPECT_EQ(values_of(list, 1), all);
    }
  }
}

TEST_P(MixerContractTest, ListWriteTakesTheFirstBlock) {
  REQUIRE_FEATURE(Feature::kListControls);
  const ControlView list =
      first_control([](const ControlView& v) { return v.is_list() && v.channels() >= 2; });
  ASSERT_GE(list.items(), 2u);
  const std::vector<std::int32_t> first = only(0, list.items());
  const std::vector<std::int32_t> last = only(list.items() - 1, list.items());
  for (const auto& [taken, ignored] : {std::pair{first, last}, std::pair{last, first}}) {
    std::vector<std::int32_t> blocks = taken;
    for (std::uint32_t b = 1; b < list.channels(); ++b) {
      blocks.insert(blocks.end(), ignored.begin(), ignored.end());
    }
    ASSERT_EQ(write(list, list.channels(), blocks), MMSYSERR_NOERROR);
    EXPECT_EQ(values_of(list, 1), taken);
  }
}

TEST_P(MixerContractTest, WriteThroughOneHandleIsSeenThroughAnother) {
  const ControlView control = first_control([this](const ControlView& v) {
    return settable(v) && !v.on_source() && v.control.Bounds.lMinimum != v.control.Bounds.lMaximum;
  });
  MixerHandle second;
  ASSERT_EQ(service_->open(0, second), MMSYSERR_NOERROR);
  std::vector<std::int32_t> seen;
  ASSERT_EQ(read(control, 1, seen, &second), MMSYSERR_NOERROR);  // loaded before the write
  const std::int32_t value = seen.front() == control.control.Bounds.lMaximum
                                 ? control.control.Bounds.lMinimum
                                 : control.control.Bounds.lMaximum;
  ASSERT_EQ(write(control, 1, {value}), MMSYSERR_NOERROR);
  ASSERT_EQ(read(control, 1, seen, &second), MMSYSERR_NOERROR);
  EXPECT_EQ(seen.front(), value);
  MixerHandle later;
  ASSERT_EQ(service_->open(0, later), MMSYSERR_NOERROR);
  ASSERT_EQ(read(control, 1, seen, &later), MMSYSERR_NOERROR);
  EXPECT_EQ(seen.front(), value);
}

}  // namespace
}  // namespace quorvel::testing
