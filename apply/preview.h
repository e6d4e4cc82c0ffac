// The preview of a restore: the plan printed instead of executed.
#pragma once

#include <ostream>

#include "apply/restore_plan.h"

namespace quorvel {

// What a preview found, value by value.
struct PreviewCounts {
  int changes = 0;   // values a restore would change
  int refusals = 0;  // values (or list selections) the mixer would refuse
  int matches = 0;   // values the mixer already holds
  int problems = 0;  // reported on standard error, as a restore reports them
};

// Prints `plan` to `out`, one line per fact, and returns the counts:
//   change: "LINE" / "CONTROL" ch N: NOW -> WANTED
//   change: "DESTINATION" / "SOURCE" / "CONTROL" item N "ITEM": NOW -> WANTED
//   refuse: "LINE" / "CONTROL" ch N: WANTED (bounds MIN to MAX)
//   refuse: "LINE" / "CONTROL": a MUX selection of K items (it takes exactly one)
// then the counts, "C values would change, R would be refused, M already
// match" ("1 value would change", "1 already matches"). A whole control has no "ch N"; channels count from 1, list items
// from 0. Names are quoted and made printable. The plan's problems are
// reported on standard error, as a restore reports them. Nothing is written
// to the mixer.
PreviewCounts print_preview(const RestorePlan& plan, std::ostream& out);

}  // namespace quorvel
