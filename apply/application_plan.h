// The applications of a restore: each application element of a document
// paired by its key, and nothing else, with what a sound server keeps under
// that key (its running streams, or its rule), planned as one write each,
// executed as one batch, and previewed line by line.
#pragma once

#include <string>
#include <vector>

#include "apply/restore_plan.h"
#include "platform/document/document_model.h"
#include "platform/mixer/mixer.h"

namespace quorvel {

// An application as reports name it: application "NAME", with
// " (not running)" after it for a rule.
std::string application_text(const PlannedApplication& application);

// Whether an application volume of `wanted` would change one of `now`:
// by more than one step of the document's scale, the most a server's rule
// loses keeping a volume (one that stores it as a float).
bool application_volume_differs(std::int32_t now, std::int32_t wanted);

// Whether the write is to be made: for running streams, when a volume or
// mute differs or the device is another; a rule (a key without a running
// stream, or one the server does not hold) always.
bool application_would_change(const PlannedApplication& application);

// Plans the application elements of the document's mixers (children of
// each audio_mixer) against `mixer`, described by `layout` (for the
// devices it has; null when it could not be described), appending the
// writes to `plan.applications` and what it found to `plan.entries`: an
// element without its key or with a volume that is not a number (passed
// over, a failure), a device the mixer lacks (a note), a mixer that keeps
// no applications (one note for them all). Reads the mixer, writes nothing.
void plan_applications(Document& input, Mixer& mixer, const ModelLayout* layout,
                       RestorePlan& plan);

// Makes the writes of `plan.applications` that would change something, in
// one call of the mixer; each refused write is reported on a line of its
// own. Returns how many were.
int execute_applications(const RestorePlan& plan, Mixer& mixer, Reporter& reporter);

}  // namespace quorvel
