// The sound server back-end of the mixer interface (Linux): the mixer of a
// PulseAudio server, or of PipeWire's Pulse server, through libpulse
// (pulse_lib.h, loaded at run time). One device: the server, named by its
// own name of itself ("pulseaudio", "PulseAudio (on PipeWire 0.3.65)").
//
// How the server appears in a document
//   server                         document
//   every sink                     a destination of the speakers kind (type 4)
//   every source but monitors      a destination of the recording kind (7)
//   every monitor of a sink        a destination of the monitor kind (3), so
//                                  that it never pairs with a microphone
//   its description / its name     the line's name / its server_name
//   its channel map                the position of each channel's value
//   its volume                     "Volume" (VOLUME), one value per channel
//   its mute                       "Mute" (MUTE)
//   its ports, the active one      "Port" (a port list, one item per port,
//                                  the active one selected), where it has any
//   whether it is the default      "Default" (the default switch)
// Destinations come sinks first, then sources, then monitors; within each,
// in order of the server's names of them (byte order). That order depends
// neither on the order in which the server happened to create its devices
// (their indexes change whenever a module is loaded again) nor on which is
// the default, so the same server gives the same order before and after its
// default changed, and a document pairs with it line for line even where
// lines pair by occurrence. Line ids: 0xFFFF0000 + i
// for destination i; control ids count up from 1 in document order. No line
// has sources. Per-application streams, cards and their profiles, and
// routing are not represented.
//
// Values
//   VOLUME is on the document's scale, 65535 for the server's 100 %
//   (pulse_volume_scale.h), from 0 to at least every value the control holds:
//   values above its bounds go to the server, which holds up to 2^31 - 1 raw,
//   and its bounds then cover them. MUTE is 1 when muted. The port list
//   keeps exactly one port selected. The default switch is 1 on the server's
//   default sink, and on its default source (or monitor); a 1 written makes
//   its line the default, a 0 written to another line changes nothing, and
//   a 0 written to the default is refused (a line stops being the default
//   only when another becomes it).
//   The server's facts, sinks and sources are read once each, in one request
//   per list, the three sent together when the mixer is opened, and reads are
//   served from what they said, kept up to date by the mixer's own writes: a
//   save and an unchanged restore cost those three requests and no more. (So
//   a change another client makes while the mixer is open is not seen by it:
//   a run lasts a moment, and each run opens its own.) A write asks only for what
//   differs from what the server holds (a volume channel that reads as the
//   value wanted is left as it is). The changes of one write call are sent
//   together and their answers waited for once, and the call returns once
//   the server has made each, which is then kept: the volumes read back
//   (the server may keep less than it was asked for) in one list request for
//   the sinks and one for the sources, a port or a default once the server
//   shows it. A write that depends on a port or default changed before it in
//   the call (one of its own line's, another default of its kind) is decided
//   once that change is made. A server that does not answer within 2 s fails
//   the writes still waiting and every later call.
#pragma once

#include <memory>
#include <string>

#include "common/result.h"
#include "platform/mixer/mixer.h"

namespace quorvel {

// A mixer over the sound server `server` (a libpulse server string, as in
// PULSE_SERVER; empty: the user's server, as libpulse finds it), connected
// now; fails saying why. `absent` (when given) says on a failure whether no
// server is there at all.
Result open_pulse_mixer(const std::string& server, std::unique_ptr<Mixer>& out,
                        bool* absent = nullptr);

}  // namespace quorvel
