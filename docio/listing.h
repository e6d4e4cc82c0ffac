// A document listed for a reader: what each line and control holds, at a
// glance, rather than the document's markup.
#pragma once

#include <ostream>

#include "platform/document/document_model.h"

namespace quorvel {

// Prints `document` to `out`, in the console's encoding, names quoted and
// made printable:
//   Mixer "NAME"
//
//   Destination "LINE": N channels                  (a sound server's line:
//                                                     "LINE" (SERVER NAME))
//     "CONTROL": ch 1 45875 (70%), ch 2 45875 (70%)   (a speaker position
//                                                     names a channel that has one;
//                                                     a sound server's volume adds
//                                                     its dB: (100%, 0.00 dB))
//     "CONTROL": off                                (a switch: on or off)
//     "CONTROL": one of                             (a MUX list; a MIXER
//         "ITEM"                                     list is "any of"; the
//       * "ITEM"                                     selected items marked *)
//   Source "DESTINATION" / "LINE": N channels
//     ...
//   Application "NAME" (KEY) on "DEVICE": N channels, muted|not muted
//     volume: front-left 58981 (90%, -2.75 dB), ...
// one block per line and application, a blank line between blocks.
// Elements it does not know are passed over. Returns the lines listed
// (destinations, sources and applications).
std::size_t list_document(Document& document, std::ostream& out);

}  // namespace quorvel
