// The mixer contract (platform/mixer/mixer.h), one test per clause, run
// against every back-end of the platform being built (each back-end's file
// instantiates the suite).
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "contract/mixer_contract.h"
#include "platform/mixer/control_bounds.h"

namespace quorvel::testing {
namespace {

// Values outside a control's bounds: the 32 bits just past each end, where
// they are outside (bounds that reach as far as 32 bits go have none there).
Values outside_bounds(const ControlView& view) {
  Values out;
  for (std::uint32_t past : {static_cast<std::uint32_t>(view.max()) + 1,
                             static_cast<std::uint32_t>(view.min()) - 1}) {
    const auto value = static_cast<std::int32_t>(past);
    if (!within_bounds(view.min(), view.max(), value)) out.push_back(value);
  }
  return out;
}

// Item states with only item `k` of `items` selected.
Values only(std::uint32_t k, std::uint32_t items) {
  Values states(items, 0);
  states[k] = 1;
  return states;
}

// What a failed read leaves: zeros, or nothing.
bool nothing_read(const Values& values) {
  return std::all_of(values.begin(), values.end(), [](std::int32_t v) { return v == 0; });
}

TEST_P(MixerContractTest, DeviceNumbersAreChecked) {
  const unsigned count = mixer_->device_count();
  ASSERT_GE(count, 1u);
  for (unsigned device : {count, count + 1, UINT_MAX}) {
    const ModelLayout* layout = layout_;
    EXPECT_EQ(mixer_->describe(device, layout), kMixerNoDevice) << device;
  }
  for (unsigned device = 0; device < count; ++device) {
    const ModelLayout* layout = nullptr;
    EXPECT_EQ(mixer_->describe(device, layout), kMixerOk) << device;
    EXPECT_NE(layout, nullptr);
  }
}

TEST_P(MixerContractTest, DeviceIsDescribed) {
  EXPECT_FALSE(layout_->name.empty());
  std::size_t sources = 0;
  for (std::size_t d = 0; d < layout_->destinations.size(); ++d) {
    const ModelLine& destination = layout_->lines[layout_->destinations[d]];
    SCOPED_TRACE(destination.name);
    EXPECT_FALSE(destination.is_source);
    EXPECT_EQ(destination.destination, d);
    EXPECT_EQ(&layout_->destination_of(destination), &destination);
    for (std::size_t s = 0; s < destination.sources.size(); ++s) {
      const ModelLine& source = layout_->lines[destination.sources[s]];
      EXPECT_TRUE(source.is_source) << source.name;
      EXPECT_EQ(source.source, s);
      EXPECT_EQ(&layout_->destination_of(source), &destination);
      EXPECT_TRUE(source.sources.empty()) << "a source has no sources of its own";
    }
    sources += destination.sources.size();
  }
  EXPECT_EQ(layout_->destinations.size() + sources, layout_->lines.size())
      << "every line is a destination or one of a destination's sources";

  // Another mixer object describes the same device.
  std::unique_ptr<Mixer> other = instance_->another_mixer();
  const ModelLayout* again = nullptr;
  ASSERT_EQ(other->describe(0, again), kMixerOk);
  ASSERT_NE(again, nullptr);
  EXPECT_EQ(again->name, layout_->name);
  ASSERT_EQ(again->lines.size(), layout_->lines.size());
  for (std::size_t l = 0; l < layout_->lines.size(); ++l) {
    EXPECT_EQ(again->lines[l].id, layout_->lines[l].id);
    EXPECT_EQ(again->lines[l].name, layout_->lines[l].name);
  }
}

TEST_P(MixerContractTest, LinesAndControlsAreFoundById) {
  std::set<std::uint32_t> line_ids;
  std::set<std::uint32_t> control_ids;
  for (const ModelLine& line : layout_->lines) {
    SCOPED_TRACE(line.name);
    EXPECT_TRUE(line_ids.insert(line.id).second) << "line ids are unique";
    EXPECT_EQ(layout_->line_by_id(line.id), &line);
    EXPECT_TRUE(line.positions.empty() || line.positions.size() == line.channels)
        << line.positions.size() << " positions for " << line.channels << " channels";
    for (const std::string& position : line.positions) EXPECT_FALSE(position.empty());
  }
  for (const ControlView& view : controls()) {
    SCOPED_TRACE(view.name());
    EXPECT_TRUE(control_ids.insert(view.id()).second) << "control ids are unique";
    EXPECT_EQ(layout_->control_by_id(view.id()), view.control);
    EXPECT_EQ(&layout_->lines[view.control->line], view.line) << "the line that owns it";
    EXPECT_EQ(view.is_list(), view.items() > 0) << "items belong to list controls";
  }
}

TEST_P(MixerContractTest, UnknownControlsAreRefused) {
  const ControlView known = controls().front();
  const std::uint32_t unknown = unknown_control_id();
  ValueRead reads[] = {{unknown, 1, Values(2, -7), kMixerOk},
                       {known.id(), 1, {}, kMixerFailed}};
  mixer_->read(0, reads);
  EXPECT_EQ(reads[0].result, kMixerNoControl);
  EXPECT_TRUE(nothing_read(reads[0].values));
  EXPECT_EQ(reads[1].result, kMixerOk) << "the next entry is read all the same";
  ValueWrite write{unknown, {0}, kMixerOk};
  mixer_->write(0, {&write, 1});
  EXPECT_EQ(write.result, kMixerNoControl);
}

TEST_P(MixerContractTest, ValuesAreReadInEveryShape) {
  // All the controls in one call, as a whole, then per channel.
  const std::vector<ControlView> all = controls();
  std::vector<ValueRead> whole;
  std::vector<ValueRead> apart;
  for (const ControlView& view : all) {
    whole.push_back(ValueRead{view.id(), 1, {}, kMixerFailed});
    apart.push_back(ValueRead{view.id(), channel_counts(view).back(), {}, kMixerFailed});
  }
  mixer_->read(0, whole);
  mixer_->read(0, apart);
  for (std::size_t k = 0; k < all.size(); ++k) {
    const ControlView& view = all[k];
    SCOPED_TRACE(view.name());
    ASSERT_EQ(whole[k].result, kMixerOk);
    ASSERT_EQ(apart[k].result, kMixerOk);
    ASSERT_EQ(whole[k].values.size(), view.size(1));
    ASSERT_EQ(apart[k].values.size(), view.size(apart[k].channels));
    // Channel 1 is what a read of the control as a whole gives; a list's
    // states are the same in both.
    if (view.is_list()) {
      EXPECT_EQ(apart[k].values, whole[k].values);
    } else {
      EXPECT_EQ(apart[k].values.front(), whole[k].values.front());
    }
    // The same as a read of the control alone.
    EXPECT_EQ(values_of(view, 1), whole[k].values);
  }
}

TEST_P(MixerContractTest, ValueShapesAreChecked) {
  REQUIRE_FEATURE(Feature::kShapeChecks);
  const ControlView plain =
      first_control([this](const ControlView& v) { return !v.is_list() && settable(v); });
  const Values before = values_of(plain, plain.channels());
  Values values;
  for (std::uint32_t channels : {0u, plain.channels() + 1}) {
    EXPECT_EQ(read(plain, channels, values), kMixerBadShape) << channels << " channels";
    EXPECT_TRUE(nothing_read(values));
    EXPECT_EQ(write(plain, Values(channels, plain.min())), kMixerBadShape)
        << channels << " values";
  }
  EXPECT_EQ(values_of(plain, plain.channels()), before) << "nothing written";
  if (!has(Feature::kListControls)) return;
  const ControlView list = first_control([](const ControlView& v) { return v.is_list(); });
  const Values states = values_of(list, 1);
  EXPECT_EQ(read(list, 0, values), kMixerBadShape);
  for (std::uint32_t items : {list.items() - 1, list.items() + 1}) {
    Values other(items, 0);
    if (items > 0) other.front() = 1;
    EXPECT_EQ(write(list, other), kMixerBadShape) << items << " items";
  }
  EXPECT_EQ(values_of(list, 1), states) << "nothing written";
}

TEST_P(MixerContractTest, ListItemsHaveNames) {
  REQUIRE_FEATURE(Feature::kListControls);
  const std::vector<ControlView> lists = controls([](const ControlView& v) { return v.is_list(); });
  ASSERT_FALSE(lists.empty());
  for (const ControlView& list : lists) {
    SCOPED_TRACE(list.name());
    // The items of a destination's list of as many items as it has sources
    // stand for them, in order.
    const bool items_are_sources = !list.on_source() && list.line->sources.size() == list.items();
    for (std::uint32_t k = 0; k < list.items(); ++k) {
      const ModelItem& item = list.control->items[k];
      EXPECT_FALSE(item.name.empty()) << "item " << k;
      if (!items_are_sources) continue;
      const ModelLine& source = layout_->lines[list.line->sources[k]];
      EXPECT_EQ(item.line_id, source.id) << "item " << k << " stands for source " << k;
      EXPECT_EQ(item.component_type, source.component_type);
    }
  }
}

TEST_P(MixerContractTest, WritesWithinBoundsAreReadBack) {
  REQUIRE_FEATURE(Feature::kWrites);
  const std::vector<ControlView> settable =
      controls([this](const ControlView& v) { return this->settable(v); });
  ASSERT_FALSE(settable.empty());
  for (const ControlView& view : settable) {
    SCOPED_TRACE(view.name());
    for (std::int32_t value : {view.max(), view.min()}) {
      // One value sets every channel alike.
      ASSERT_EQ(write(view, {value}), kMixerOk);
      for (std::uint32_t channels : channel_counts(view)) {
        EXPECT_EQ(values_of(view, channels), Values(channels, value));
      }
    }
    // A value per channel, where the control keeps channels apart.
    if (channel_counts(view).size() < 2 || view.control->uniform) continue;
    Values per_channel(view.channels(), view.min());
    per_channel.back() = view.max();
    ASSERT_EQ(write(view, per_channel), kMixerOk);
    EXPECT_EQ(values_of(view, view.channels()), per_channel);
  }
}

// A value beyond the bounds is refused, changing nothing; a control with
// device_bounds may take it instead, its bounds then covering what it holds.
// A mixer that keeps nothing written refuses every write, its values left
// as they were.
TEST_P(MixerContractTest, ReadOnlyMixersRefuseEveryWrite) {
  if (has(Feature::kWrites)) GTEST_SKIP() << "the mixer keeps what is written";
  for (const ControlView& view : controls()) {
    SCOPED_TRACE(view.name());
    const Values before = values_of(view, 1);
    Values other = before;
    for (std::int32_t& value : other) value = value == view.min() ? view.max() : view.min();
    EXPECT_EQ(write(view, other), kMixerRefused);
    EXPECT_EQ(values_of(view, 1), before);
  }
}

TEST_P(MixerContractTest, WritesOutOfBoundsAreRefusedAllOrNothing) {
  REQUIRE_FEATURE(Feature::kWrites);
  REQUIRE_FEATURE(Feature::kBoundChecks);
  for (const ControlView& view : controls([](const ControlView& v) { return !v.is_meter(); })) {
    SCOPED_TRACE(view.name());
    const std::uint32_t channels = channel_counts(view).back();
    const Values before = values_of(view, channels);
    if (view.is_list()) {
      for (std::int32_t state : {2, -1}) {
        Values states = only(0, view.items());
        states.back() = state;
        EXPECT_EQ(write(view, states), kMixerRefused) << "an item is 0 or 1, not " << state;
      }
      EXPECT_EQ(values_of(view, 1), before) << "the list keeps its states";
      continue;
    }
    for (std::int32_t value : outside_bounds(view)) {
      // Alone, and beside a good value.
      Values mixed(channels, view.max());
      mixed.back() = value;
      for (const Values& values : {Values{value}, mixed}) {
        const MixerResult result = write(view, values);
        if (result == kMixerOk && view.control->device_bounds) {
          const ModelLayout* now = nullptr;
          ASSERT_EQ(mixer_->describe(0, now), kMixerOk);
          const ModelControl& widened = *now->control_by_id(view.id());
          for (std::int32_t held : values_of(view, channels)) {
            EXPECT_TRUE(within_bounds(widened.min, widened.max, held)) << held;
          }
          ASSERT_EQ(write(view, before), kMixerOk);
          continue;
        }
        EXPECT_EQ(result, kMixerRefused) << value;
        EXPECT_EQ(values_of(view, channels), before) << "the control keeps all its values";
      }
    }
  }
}

TEST_P(MixerContractTest, MetersAreReadOnly) {
  REQUIRE_FEATURE(Feature::kMeters);
  const std::vector<ControlView> meters =
      controls([](const ControlView& v) { return v.is_meter(); });
  ASSERT_FALSE(meters.empty());
  for (const ControlView& meter : meters) {
    const Values before = values_of(meter, 1);
    EXPECT_EQ(write(meter, before), kMixerRefused) << "even its own value";
    EXPECT_EQ(values_of(meter, 1), before);
  }
}

TEST_P(MixerContractTest, MuxKeepsExactlyOneItemSelected) {
  REQUIRE_FEATURE(Feature::kWrites);
  REQUIRE_FEATURE(Feature::kMux);
  const std::vector<ControlView> muxes =
      controls([](const ControlView& v) { return v.control->type == ctrl::kMux; });
  ASSERT_FALSE(muxes.empty());
  for (const ControlView& mux : muxes) {
    SCOPED_TRACE(mux.name());
    ASSERT_GE(mux.items(), 2u);
    const Values before = values_of(mux, 1);
    EXPECT_EQ(std::count(before.begin(), before.end(), 1), 1);
    EXPECT_EQ(write(mux, Values(mux.items(), 0)), kMixerRefused);
    Values two = only(0, mux.items());
    two[1] = 1;
    EXPECT_EQ(write(mux, two), kMixerRefused);
    EXPECT_EQ(values_of(mux, 1), before);
    // Selecting an item deselects the others, in one write.
    for (std::uint32_t k = 0; k < mux.items(); ++k) {
      ASSERT_EQ(write(mux, only(k, mux.items())), kMixerOk) << "item " << k;
      EXPECT_EQ(values_of(mux, 1), only(k, mux.items()));
    }
  }
}

TEST_P(MixerContractTest, MixerListTakesAnySelection) {
  REQUIRE_FEATURE(Feature::kWrites);
  REQUIRE_FEATURE(Feature::kMixerList);
  const std::vector<ControlView> lists =
      controls([](const ControlView& v) { return v.control->type == ctrl::kMixer; });
  ASSERT_FALSE(lists.empty());
  for (const ControlView& list : lists) {
    SCOPED_TRACE(list.name());
    for (std::int32_t state : {0, 1}) {
      const Values all(list.items(), state);
      ASSERT_EQ(write(list, all), kMixerOk);
      EXPECT_EQ(values_of(list, 1), all);
    }
  }
}

// Several writes in one call: each gets its own result, a refused one in
// the middle stopping none of the others.
TEST_P(MixerContractTest, WritesInOneCallEachGetTheirResult) {
  REQUIRE_FEATURE(Feature::kWrites);
  const std::vector<ControlView> settable = controls([this](const ControlView& v) {
    return this->settable(v) && v.min() != v.max();
  });
  ASSERT_FALSE(settable.empty());
  struct Entry {
    const ControlView* view;  // null: a control the device does not have
    Values values;
    MixerResult expected;
  };
  // Every settable control set to the bound it does not hold now, with
  // refused entries after the first.
  std::vector<Entry> entries;
  for (const ControlView& view : settable) {
    const std::int32_t now = values_of(view, 1).front();
    entries.push_back({&view, {now == view.max() ? view.min() : view.max()}, kMixerOk});
    if (entries.size() > 1) continue;
    entries.push_back({nullptr, {0}, kMixerNoControl});
    if (has(Feature::kBoundChecks) && !view.control->device_bounds &&
        !outside_bounds(view).empty()) {
      entries.push_back({&view, {outside_bounds(view).front()}, kMixerRefused});
    }
    if (has(Feature::kShapeChecks)) {
      entries.push_back({&view, Values(view.channels() + 1, view.min()), kMixerBadShape});
    }
  }
  std::vector<ValueWrite> writes;
  for (const Entry& entry : entries) {
    writes.push_back(ValueWrite{entry.view != nullptr ? entry.view->id() : unknown_control_id(),
                                entry.values, kMixerFailed});
  }
  mixer_->write(0, writes);
  for (std::size_t k = 0; k < entries.size(); ++k) {
    SCOPED_TRACE(entries[k].view != nullptr ? entries[k].view->name() : "no such control");
    EXPECT_EQ(writes[k].result, entries[k].expected) << "entry " << k;
    if (entries[k].expected != kMixerOk) continue;
    EXPECT_EQ(values_of(*entries[k].view, 1), entries[k].values);
  }
}

TEST_P(MixerContractTest, WriteThroughOneMixerIsSeenByAnother) {
  REQUIRE_FEATURE(Feature::kWrites);
  REQUIRE_FEATURE(Feature::kSharedDevice);
  const ControlView control = first_control([this](const ControlView& v) {
    return settable(v) && !v.on_source() && v.min() != v.max();
  });
  const std::int32_t value =
      values_of(control, 1).front() == control.max() ? control.min() : control.max();
  ASSERT_EQ(write(control, {value}), kMixerOk);
  std::unique_ptr<Mixer> later = instance_->another_mixer();
  const ModelLayout* layout = nullptr;
  ASSERT_EQ(later->describe(0, layout), kMixerOk);
  Values seen;
  ASSERT_EQ(read(control, 1, seen, later.get()), kMixerOk);
  EXPECT_EQ(seen, Values{value});
}

}  // namespace
}  // namespace quorvel::testing
