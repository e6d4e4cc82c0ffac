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
class MixerSession {
 public:
  explicit MixerSession(MixerService& mixer) : mixer_(mixer) {}

  // The open handle; null when the mixer refused to open (asked once).
  const MixerHandle* handle();
  // What the refusal to open says, for a report line.
  const std::string& open_failure() const { return open_failure_; }

 private:
  MixerService& mixer_;
  MixerHandle handle_;
  bool tried_ = false;
  std::string open_failure_;
};

// Appends to `plan` the writes and problems of the line_control nodes of
// `controls` (their ctrl_id naming controls of the session's mixer), in
// list order, reading each control's values now.
void plan_line_controls(const std::vector<pugi::xml_node>& controls, MixerSession& session,
                        RestorePlan& plan);

// Reports the problems and makes the writes of `entries` in order; returns
// how many were reported (problems and refused writes).
int execute_entries(const std::vector<PlanEntry>& entries, MixerSession& session);

}  // namespace quorvel
