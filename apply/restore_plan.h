// A restore as a plan: the writes that reconciling a mixer document with the
// present mixer intends, each with the control's values now and the values
// the write would send, and the problems found on the way. Planning only
// reads the mixer; executing the plan (apply.h) writes it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "common/report.h"
#include "platform/mixer/mixer.h"

namespace quorvel {

// How a write reaches its control, as the control type has it.
enum class WriteShape {
  kWhole,     // one value for the control as a whole
  kChannels,  // one value per channel of the control's line
  kItems,     // one value per item of a list control
};

// A control's bounds and steps as the mixer describes them. The bounds are
// signed when min <= max as signed numbers, else the same 32 bits unsigned.
struct ControlBounds {
  std::int32_t min = 0;
  std::int32_t max = 0;
  std::uint32_t steps = 0;  // 0: the mixer names no steps
  bool beyond_taken = false;  // values beyond the bounds go to the device to decide
};

// One value of a write: its position (the channel from 0, the list item, or
// 0 for a control as a whole) and the number.
struct SlotValue {
  std::uint32_t slot = 0;
  std::int32_t value = 0;
};

// One intended write.
struct PlannedWrite {
  std::string line_name;     // the document line that holds the control
  std::string destination_name;  // for a source's control, the source's destination
  std::string control_name;  // the control's name in the document
  // The same as this mixer names them (name_writes_by_mixer), for a preview
  // that shows which of the mixer's own controls a write goes to; each line
  // name with its device name after it where two lines of the mixer share
  // a name. Empty until named.
  std::string mixer_path;
  std::string type_text;     // its ctrl_type and ctrl_id, as the document spells them
  std::string id_text;
  std::uint32_t control_id = 0;
  std::uint32_t control_type = 0;
  WriteShape shape = WriteShape::kWhole;
  // The document's values by position, as the write puts them into what it
  // reads: a lone volume value stands for channels 1 and 2 here, and
  // positions the control lacks are kept (the write passes them over).
  std::vector<SlotValue> document;
  // A list control's item names in the document, by position.
  std::vector<std::string> item_names;
  ControlBounds bounds;
  // The control's values when the plan was made, shaped as the write sends
  // them (one for a uniform control, else one per channel or item), and what
  // the write would send: those values with the document's put in.
  std::vector<std::int32_t> now;
  std::vector<std::int32_t> wanted;
};

// Something found while planning that the restore reports on a line of its
// own (the message as it is printed) and, unless it is only a note of
// something left out that the device cannot take, counts as a failure.
struct PlanProblem {
  std::string message;
  bool failure = true;
};

// Reports the problem: an error, or a note.
void report_problem(const PlanProblem& problem, Reporter& reporter);

// One application of the document, as the restore would write it.
struct PlannedApplication {
  std::string name;  // the document's name of it
  // What the server holds under the key now; `present` false: nothing (no
  // stream runs and no rule is kept), so the write makes a new rule.
  bool present = false;
  MixerApplication now;
  // The write: the document's volume, mute and device (a device the mixer
  // lacks left out, with a note).
  ApplicationWrite write;
};

using PlanEntry = std::variant<PlannedWrite, PlanProblem>;

// The whole restore, in the order the writes and reports happen.
struct RestorePlan {
  std::vector<PlanEntry> entries;
  // A sound server's applications, written after every line.
  std::vector<PlannedApplication> applications;
  int paired = 0;  // line controls of the document that pair with this mixer
  // Whether the document pairs with this mixer at all: a mixer of it pairs,
  // and so does a line of it, or a control; or neither it nor the mixer has
  // a line (the document of a mixer without lines matches that mixer).
  bool matched = false;
};

// Puts `document` into `values` (a read of the control): each position in
// range takes its number, the others are passed over.
std::vector<std::int32_t> put_values(std::vector<std::int32_t> values,
                                     const std::vector<SlotValue>& document);

// The document's `values`, each with its speaker position
// (`value_positions`, one per value), placed on the channels of a control
// whose line gives each channel a position (`channel_positions`): a channel
// takes the value of its own position; a "mono" channel, when the document
// has no "mono" value, takes the "front-left" one; when the control has no
// "mono" channel, a document's "mono" value goes to every channel without
// a value of its own. A value whose position the control lacks is left out
// and a channel that gets no value keeps its own. Nothing when the values
// pair by number instead: a side without positions, or none in common.
std::optional<std::vector<SlotValue>> place_by_position(
    const std::vector<std::int32_t>& values, const std::vector<std::string>& value_positions,
    const std::vector<std::string>& channel_positions);

// Whether writing `wanted` to a control that holds `now` would give it
// another value in the mixer's own steps.
//
// With S steps over [min, max], a value v stands for step
// round((v - min) * S / (max - min)), halves rounded up: the step a back-end
// that spreads S + 1 levels over the range writes for it (ALSA's volume
// scale does exactly this, with S its raw range). Two values on one step are
// the same. Without steps, with as many steps as values or more, or when
// either value lies beyond the bounds (refused by most mixers, taken as they
// are by some), values are the same only when equal.
bool value_would_change(std::int32_t now, std::int32_t wanted, const ControlBounds& bounds);

// Whether any value of the write would change.
bool write_would_change(const PlannedWrite& write);

// Why the mixer can be expected to refuse a write; it still decides.
enum class ForeseenRefusal {
  kNone,
  kMeter,           // a meter cannot be written
  kOutOfBounds,     // a value beyond the control's bounds
  kNotZeroOrOne,    // a list item that is neither selected (1) nor not (0)
  kMuxNotOneItem,   // a MUX left with other than exactly one item selected
};

// Whether `value` lies within the bounds.
bool value_in_bounds(std::int32_t value, const ControlBounds& bounds);

// Whether the mixer can be expected to refuse `value` in this write on its
// own: a list item neither selected (1) nor not (0), or a value beyond the
// bounds of a control that does not take such values.
bool value_refused(const PlannedWrite& write, std::int32_t value);

ForeseenRefusal foresee_refusal(const PlannedWrite& write);

}  // namespace quorvel
