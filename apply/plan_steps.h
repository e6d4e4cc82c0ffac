// The steps of planning and executing a restore that share one described
// mixer; used by apply.cc and reconcile.cc only.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "apply/restore_plan.h"
#include "common/report.h"
#include "platform/document/document_model.h"
#include "platform/mixer/mixer.h"

namespace quorvel {

// What the restore reads of a document's nodes.
//
// An element's name text: its first child when that is text (a CDATA
// section there is no name), else "".
std::string_view name_text(DocNode node);
// The value of the first text or CDATA child of `node`, wherever it stands
// among the other children; "" without one.
std::string_view first_text(DocNode node);
// The first child named `name`: an element of that name, or a processing
// instruction of that target, which stands in its place and holds nothing.
DocNode first_named(DocNode node, std::string_view name);

// The mixer's first device, described on first use.
// It also keeps count of the restore's writes, so that a mixer that goes
// away part-way (kMixerGone) is said once, with how far the restore got,
// instead of a refusal for every control left.
class MixerSession {
 public:
  MixerSession(Mixer& mixer, Reporter& reporter) : mixer_(mixer), reporter_(reporter) {}

  // The device's description; null when the mixer refused to open (asked
  // once).
  const ModelLayout* layout();
  Mixer& mixer() { return mixer_; }
  // Where what the restore runs into is reported.
  Reporter& reporter() { return reporter_; }
  // What the refusal to open says, for a report line.
  const std::string& open_failure() const { return open_failure_; }

  // Takes note of a mixer call's result: kMixerGone makes the session gone,
  // and `in_flight` says that it was the answer to a write.
  void note_result(MixerResult result, bool in_flight = false);
  // Whether a call found the mixer gone: nothing more is read or written.
  bool gone() const { return gone_; }
  // A write the restore means to make (planned, or not planned since the
  // mixer went away first), and one the mixer made.
  void count_meant() { ++writes_meant_; }
  void count_made() { ++writes_made_; }
  // What a gone mixer is reported with: how many of the restore's writes
  // were made, or (`previewed`) that the preview read it only in part.
  std::string gone_message(bool previewed = false) const;

 private:
  Mixer& mixer_;
  Reporter& reporter_;
  const ModelLayout* layout_ = nullptr;
  bool tried_ = false;
  std::string open_failure_;
  std::string device_name_;
  bool gone_ = false;
  bool in_flight_ = false;
  int writes_meant_ = 0;
  int writes_made_ = 0;
};

// Where the entries of a plan go as they are made, in order.
class EntrySink {
 public:
  virtual ~EntrySink() = default;
  virtual void add(PlanEntry&& entry) = 0;
};

// Hands `sink` the writes and problems of the line_control nodes of
// `controls` (their ctrl_id naming controls of the session's mixer), in
// list order, reading each control's values now; each node planned is
// counted on `progress`, where one is given.
void plan_line_controls(const std::vector<DocNode>& controls, MixerSession& session,
                        EntrySink& sink, Progress* progress = nullptr);
// The same, appended to `plan`.
void plan_line_controls(const std::vector<DocNode>& controls, MixerSession& session,
                        RestorePlan& plan, Progress* progress = nullptr);

// Reports the problems and makes the writes of `entries` in order, the
// writes of up to a few thousand entries read in one call of the mixer and
// made in one; returns how many were reported (problems and refused writes).
int execute_entries(std::span<const PlanEntry> entries, MixerSession& session);

// Executes entries as they are planned, a batch at a time, keeping none
// longer: a restore whose plan nobody needs whole. Entries planned later
// may read the mixer before the writes of those before them are made; each
// write reads its control again just before it is made anyway.
class ExecutingSink final : public EntrySink {
 public:
  explicit ExecutingSink(MixerSession& session) : session_(session) {}
  void add(PlanEntry&& entry) override;
  // Executes what is still pending; call it once planning is over.
  void finish();
  // Problems reported and writes refused so far.
  int reported() const { return reported_; }

 private:
  MixerSession& session_;
  std::vector<PlanEntry> pending_;
  int reported_ = 0;
};

// Reports, once, that the session's mixer went away, with how far the
// restore got; 1 when it did (one more failure), else 0.
int report_gone(MixerSession& session);

}  // namespace quorvel
