#include "apply/restore_plan.h"

#include <algorithm>
#include <string_view>

#include "platform/mixer/control_bounds.h"
#include "platform/mixer/control_types.h"
#include "platform/os/console.h"

namespace quorvel {
namespace {

// The bounds as numbers that order as the control orders them.
struct Range {
  std::int64_t low;
  std::int64_t high;
  bool is_signed;

  explicit Range(const ControlBounds& bounds) : is_signed(bounds.min <= bounds.max) {
    low = widen(bounds.min);
    high = widen(bounds.max);
  }
  std::int64_t widen(std::int32_t value) const {
    return is_signed ? value : static_cast<std::int64_t>(static_cast<std::uint32_t>(value));
  }
};

}  // namespace

std::vector<std::int32_t> put_values(std::vector<std::int32_t> values,
                                     const std::vector<SlotValue>& document) {
  for (const SlotValue& put : document) {
    if (put.slot < values.size()) values[put.slot] = put.value;
  }
  return values;
}

void report_problem(const PlanProblem& problem, Reporter& reporter) {
  if (problem.failure) {
    reporter.error(problem.message);
  } else {
    reporter.note(problem.message);
  }
}

std::optional<std::vector<SlotValue>> place_by_position(
    const std::vector<std::int32_t>& values, const std::vector<std::string>& value_positions,
    const std::vector<std::string>& channel_positions) {
  if (values.empty() || value_positions.size() != values.size() || channel_positions.empty()) {
    return std::nullopt;
  }
  // The first value of a position, when the document has one.
  const auto value_at = [&](std::string_view position) -> std::optional<std::int32_t> {
    for (std::size_t k = 0; k < values.size(); ++k) {
      if (value_positions[k] == position) return values[k];
    }
    return std::nullopt;
  };
  const bool mono_channel = std::find(channel_positions.begin(), channel_positions.end(),
                                      "mono") != channel_positions.end();
  const std::optional<std::int32_t> mono = value_at("mono");
  std::vector<SlotValue> placed;
  for (std::size_t channel = 0; channel < channel_positions.size(); ++channel) {
    const std::string& position = channel_positions[channel];
    std::optional<std::int32_t> value = value_at(position);
    if (!value && position == "mono") value = value_at("front-left");
    if (!value && !mono_channel) value = mono;
    if (value) placed.push_back({static_cast<std::uint32_t>(channel), *value});
  }
  if (placed.empty()) return std::nullopt;
  return placed;
}

bool value_in_bounds(std::int32_t value, const ControlBounds& bounds) {
  return within_bounds(bounds.min, bounds.max, value);
}

bool value_would_change(std::int32_t now, std::int32_t wanted, const ControlBounds& bounds) {
  if (now == wanted) return false;
  if (bounds.steps == 0 || !value_in_bounds(now, bounds) || !value_in_bounds(wanted, bounds)) {
    return true;
  }
  const Range range(bounds);
  // Both within the bounds, so the span is at least 1 and below 2^32.
  const auto span = static_cast<std::uint64_t>(range.high - range.low);
  if (bounds.steps >= span) return true;
  // steps < span < 2^32: the product stays below 2^64 - 2^33, the half span
  // added too.
  const auto step = [&](std::int32_t value) {
    const auto offset = static_cast<std::uint64_t>(range.widen(value) - range.low);
    return (offset * bounds.steps + span / 2) / span;
  };
  return step(now) != step(wanted);
}

bool write_would_change(const PlannedWrite& write) {
  for (std::size_t k = 0; k < write.wanted.size() && k < write.now.size(); ++k) {
    if (value_would_change(write.now[k], write.wanted[k], write.bounds)) return true;
  }
  return false;
}

bool value_refused(const PlannedWrite& write, std::int32_t value) {
  if (write.shape == WriteShape::kItems) return value != 0 && value != 1;
  return !write.bounds.beyond_taken && !value_in_bounds(value, write.bounds);
}

ForeseenRefusal foresee_refusal(const PlannedWrite& write) {
  if ((write.control_type & ctrl::kClassMask) == ctrl::kClassMeter) return ForeseenRefusal::kMeter;
  const auto refused = [&](std::int32_t value) { return value_refused(write, value); };
  if (std::any_of(write.wanted.begin(), write.wanted.end(), refused)) {
    return write.shape == WriteShape::kItems ? ForeseenRefusal::kNotZeroOrOne
                                             : ForeseenRefusal::kOutOfBounds;
  }
  if (write.shape == WriteShape::kItems &&
      (write.control_type == ctrl::kMux || write.control_type == ctrl::kPortSelect) &&
      std::count(write.wanted.begin(), write.wanted.end(), 1) != 1) {
    return ForeseenRefusal::kMuxNotOneItem;
  }
  return ForeseenRefusal::kNone;
}

}  // namespace quorvel
