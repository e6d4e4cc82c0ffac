// Writing the values of a mixer document's line controls to the mixer: a
// restore plan executed, or one list of controls planned and executed.
#pragma once

#include <vector>

#include "apply/restore_plan.h"
#include "platform/document/document_model.h"
#include "platform/mixer/mixer.h"

namespace quorvel {

// What applying values ran into. Every control counted in `reported` was
// reported, on a line of its own.
struct ApplyReport {
  int reported = 0;  // refused by the mixer, or passed over for bad input
  int paired = 0;    // line controls of the document that pair with this mixer
  bool matched = false;  // the document pairs with this mixer (RestorePlan::matched)
  bool gone = false;     // the mixer went away part-way (said already)
};

// Executes `plan` in order: reports each problem on a line of its own and
// makes each write as a read-change-write of the control (the values read
// just before, the document's put in), so that the mixer decides every
// write; the reads of a batch of writes go to the mixer in one call, and
// the writes in one more. A refusal is reported with exactly the values
// sent. A plan without writes opens no mixer.
ApplyReport execute_plan(const RestorePlan& plan, Mixer& mixer, Reporter& reporter);

// Writes the values held by each line_control node of `controls` (whose
// ctrl_id names a control of `mixer`) to that control, by control type, in
// list order, on one description of the mixer. A node's values are the nodes after
// its name text (comments and processing instructions aside), taken by
// position, each read as the whole text it holds; a list control's are the
// items of its mux_list or mixer_list. Values whose `position` attributes
// name a speaker each go to the channels of those speakers when the mixer
// knows its line's (place_by_position); a port list selects the control's
// item of the selected port's name (a port the device lacks is a note,
// not a failure); a default switch's 0 is not written, nor a 1 to the
// line that is the default already. Unknown types, custom controls,
// meters and multiple-select lists write nothing. A control the mixer
// refuses, or whose node lacks what its type needs, is reported (a refusal
// with exactly the values sent) and passed over. An empty list makes no
// mixer call.
ApplyReport apply_line_controls(const std::vector<DocNode>& controls, Mixer& mixer,
                                Reporter& reporter);

}  // namespace quorvel
