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
// has sources. Cards and their profiles, and routing, are not represented.
//
// Applications (read_applications, write_applications)
//   An application is a key of the server's stream restore: every sink
//   input (playback) and source output (record) of that key, taken
//   together, and the server's rule for the key. A stream's key is the
//   "module-stream-restore.id" the server gave it (PulseAudio's
//   module-stream-restore and PipeWire's Pulse server both do), else formed
//   as that module forms it (pulse_streams.h); a stream without one is left
//   out. Rules are read and written through the stream-restore extension;
//   of them, only keys "sink-input-by-..." and "source-output-by-..." are
//   applications. A running application reads as its oldest stream
//   (lowest index): its volume per channel, its channel map's positions,
//   its mute, and its sink's or source's name; one not running as its
//   rule. A write goes to every stream of the key (each channel's value by
//   position, pulse_streams.h says how; a stream whose volume clients
//   cannot set keeps it), moves them to the device it names, and, unless
//   streams_only, replaces the rule of the key (no other rule changes),
//   keeping what the rule held of what the write leaves unset; a rule the
//   write would leave as it is is not written. A rule always holds a mute
//   (a new one written without set_mute holds "not muted"). Only what
//   differs from what the server holds is sent; the requests of one call go
//   together and are waited for once, after one read of the streams (and
//   rules) they depend on. A write is made once the server acknowledged it
//   (PipeWire applies a stream's volume, and shows a rule in its reads, a
//   moment later).
//   What the servers keep of a rule: PulseAudio keeps its volume (exactly,
//   with its channel map), mute and device, and applies them to a stream of
//   the key that starts later (its device only to a stream that asked for
//   none). PipeWire's Pulse server lists a rule's volume (kept as a float:
//   it may read one raw step off), mute and device, and its session manager
//   applies the volume and mute to a stream that starts later, but not the
//   device. Its reads list what its "route-settings" metadata holds, not
//   every stream the session manager remembers, and show a rule only a
//   moment after it was written: a write that follows at once may not find
//   the rule to keep its unset parts from.
//
// Appearances (wait_for_appearances)
//   The first call subscribes to the server's events of sinks, sources and
//   streams; from then on they are kept as they come, in any call, until the
//   next wait takes them. The first call also reports the sinks and sources
//   that appeared since the mixer was opened; applications started before
//   the first call are not reported. A new sink or source is reported by its
//   name (a new sink's monitor with it), a new stream by its key (once per
//   key per call; one without a key not at all); the wait returns once
//   something is reported or the bound passes. When a line appeared, the
//   layout is made anew there and then: a description held from before the
//   call is released, and the next describe() gives the server as it is.
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
//   a run lasts a moment, and each run opens its own. A mixer that waits for
//   appearances, which lasts, reads them again whenever the server says a
//   sink or source changed.) A write asks only for what
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
// now; fails saying why, of kind pulse::kPulseServerAbsent (pulse_client.h) when
// there is no server.
Expected<std::unique_ptr<Mixer>> open_pulse_mixer(const std::string& server);

}  // namespace quorvel
