// Reconciling a loaded mixer document with the snapshot of the present
// mixer: the restore planned, and the plan executed.
#pragma once

#include <vector>

#include "apply/apply.h"
#include "apply/restore_plan.h"
#include "platform/document/document_model.h"
#include "platform/mixer/mixer.h"

namespace quorvel {

// The nodes of a first list left after pairing it with a second list, each
// with its partner (remaining[i] pairs with partners[i]; none for a node
// without its key).
struct PrunedList {
  std::vector<DocNode> remaining;
  std::vector<DocNode> partners;
};

// Pairs the element nodes of `first` with those of `second` by key text (the
// text of the key attribute chosen by the element's name: id, component_type,
// line_type or ctrl_type), compared as exact strings, by occurrence: the n-th
// first-list node with key text K pairs with the n-th second-list node with
// key text K, counting only nodes that have the key attribute. A node without
// a partner is removed from its document with everything below it; a node
// that is not an element or lacks its key attribute stays, without a
// partner. A paired line_control takes its partner's ctrl_id. `second` is
// never changed.
PrunedList prune_unpaired(const std::vector<DocNode>& first, const std::vector<DocNode>& second);

// Pairs lines (destinations, or the sources of one destination) as
// prune_unpaired does, with the same result, but by the device's own names
// of the lines (`server_name`) where either list has one:
//   1. a first-list line pairs with the second-list line of its key text
//      and its name, wherever that stands; lines that share a name pair by
//      occurrence among themselves;
//   2. a first-list line left pairs with a second-list line left of its key
//      text and its product (`product_id`), where both have one, by
//      occurrence;
//   3. the lines left on each side then pair by key text and occurrence,
//      counted within one key text in this order: the line whose default
//      switch is on (a line_control of type ctrl::kDefaultSwitch whose first
//      value is 1) first, then the lines with a name in the order of their
//      names (byte by byte), then those without one in list order. A
//      monitor (a destination of kComponentDstMonitor) paired this way loses
//      its default switch: only the same monitor, paired by name, is made
//      the default source again. When steps 1 and 2 paired any line, the
//      first list's named lines left take no part: they stand for devices
//      that are gone, and go to no other line.
// Without a name in either list this is prune_unpaired itself.
PrunedList pair_lines(const std::vector<DocNode>& first, const std::vector<DocNode>& second);

// The controls of a paired input document, in the order they are applied:
// the controls of each source, source by source, then the destination-level
// controls of all destinations in one list.
struct PairedControls {
  std::vector<std::vector<DocNode>> lists;
  // Destinations and sources without their key, then the notes of named
  // lines that are not on this mixer.
  std::vector<PlanProblem> problems;
  int paired = 0;        // line controls that found a partner
  bool matched = false;  // RestorePlan::matched
};

// Reduces `input` to the destinations, sources and line controls that the
// mixer described by `snapshot` has (lines paired by pair_lines, controls
// by prune_unpaired), and gives every remaining control the identifier of
// its counterpart. Only the snapshot's mixers that pair with one of the
// input's (by id, the snapshot's first) lend it their lines. `snapshot` is
// read, never changed.
PairedControls pair_documents(Document& input, const Document& snapshot);

// Pairs `input` with `snapshot` as above and plans the writes that restoring
// it would make to `mixer`, reading the mixer but writing nothing: the
// problems of pairing first, then each list of controls in order.
RestorePlan plan_restore(Document& input, const Document& snapshot, Mixer& mixer,
                         Reporter& reporter);

// Plans the restore of `input` and executes the plan, on one description of
// the mixer, its writes sent in batches. Returns what it ran into: the
// controls reported (each on a line of its own) and those paired.
ApplyReport reconcile_documents(Document& input, const Document& snapshot, Mixer& mixer,
                                Reporter& reporter);

}  // namespace quorvel
