// The preview of a restore: the plan printed instead of executed.
#pragma once

#include <ostream>

#include "apply/restore_plan.h"
#include "platform/mixer/mixer.h"

namespace quorvel {

// Names each write of `plan` as `mixer` names its control and line
// (PlannedWrite::mixer_path): "LINE" / "CONTROL", with the destination
// first for a source's control, and a line's device name after it,
// "LINE" (NAME), where two lines of the mixer share a name. A write whose
// control the mixer does not find keeps the document's names.
void name_writes_by_mixer(RestorePlan& plan, Mixer& mixer);

// What a preview found, value by value.
struct PreviewCounts {
  int changes = 0;   // values a restore would change
  int refusals = 0;  // values (or list selections) the mixer would refuse
  int matches = 0;   // values the mixer already holds
  int problems = 0;  // reported, as a restore reports them
};

// Prints `plan` to `out`, one line per fact, and returns the counts (the
// names of name_writes_by_mixer where the plan has them, else the
// document's):
//   change: "LINE" / "CONTROL" ch N: NOW -> WANTED
//     (a volume's values with their percent after them: 1000 (2%) -> 45875 (70%))
//   change: "DESTINATION" / "SOURCE" / "CONTROL" item N "ITEM": NOW -> WANTED
//   refuse: "LINE" / "CONTROL" ch N: WANTED (bounds MIN to MAX)
//   refuse: "LINE" / "CONTROL": a MUX selection of K items (it takes exactly one)
// then the counts, "C values would change, R would be refused, M already
// match" ("1 value would change", "1 already matches"). A whole control has no "ch N"; channels count from 1, list items
// from 0. Names are quoted and made printable. The plan's problems are
// reported to `reporter`, as a restore reports them. Nothing is written
// to the mixer.
PreviewCounts print_preview(const RestorePlan& plan, std::ostream& out, Reporter& reporter);

}  // namespace quorvel
