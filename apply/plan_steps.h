// The steps of planning and executing a restore that share one open mixer
// handle; used by apply.cc and reconcile.cc only.
#pragma once

#include <pugixml.hpp>

#include <string>
#include <vector>

#include "apply/restore_plan.h"
#include "platform/mixer/mixer.h"

namespace quorvel {

// The mixer's first device, opened on first use and closed with this object.
// It also keeps count of the restore's writes, so that a mixer that goes
// away part-way (kMixerGone) is said once, with how far the restore got,
// instead of a refusal for every control left.
class MixerSession {
 public:
  explicit MixerSession(MixerService& mixer) : mixer_(mixer) {}

  // The open handle; null when the mixer refused to open (asked once).
  const MixerHandle* handle();
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
  MixerService& mixer_;
  MixerHandle handle_;
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
// list order, reading each control's values now.
void plan_line_controls(const std::vector<pugi::xml_node>& controls, MixerSession& session,
                        EntrySink& sink);
// The same, appended to `plan`.
void plan_line_controls(const std::vector<pugi::xml_node>& controls, MixerSession& session,
                        RestorePlan& plan);

// Reports the problem or makes the write of `entry`; whether it was
// reported (a failure, or a refused write).
bool execute_entry(const PlanEntry& entry, MixerSession& session);

// Executes each entry as soon as it is planned, keeping none: a restore
// whose plan nobody needs whole. Entries planned later read the mixer after
// the writes of those before them, as every write does anyway.
class ExecutingSink final : public EntrySink {
 public:
  explicit ExecutingSink(MixerSession& session) : session_(session) {}
  void add(PlanEntry&& entry) override {
    if (execute_entry(entry, session_)) ++reported_;
  }
  // Problems reported and writes refused so far.
  int reported() const { return reported_; }

 private:
  MixerSession& session_;
  int reported_ = 0;
};

// Reports the problems and makes the writes of `entries` in order; returns
// how many were reported (problems and refused writes).
int execute_entries(const std::vector<PlanEntry>& entries, MixerSession& session);

// Reports, once, that the session's mixer went away, with how far the
// restore got; 1 when it did (one more failure), else 0.
int report_gone(const MixerSession& session);

}  // namespace quorvel
