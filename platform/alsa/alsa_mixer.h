// The ALSA back-end of the mixer interface (Linux): ALSA control devices
// through their simple mixer elements (what `amixer scontents` lists). A
// device is one control device: "hw:N" for a sound card, or any by name
// ("default": on a desktop, the sound server's mixer). Its product name is
// the card's mixer name, else its name.
//
// How a card appears in a document
//   ALSA                                    document
//   the playback master: "Master", else     destination 0, speakers (type 4),
//   "Headphone", "Speaker", "PCM", else     named after it, with its VOLUME
//   the first playback volume               and MUTE
//   every other playback (or common)        a source of the speakers: VOLUME,
//   volume ("Mic Boost" too)                and MUTE with a playback switch
//   a switch without a volume ("IEC958")    ONOFF on the speakers
//   an enumeration ("Auto-Mute Mode")       SINGLESELECT holding the item's
//                                           index: on the recording
//                                           destination if a capture one,
//                                           else on the speakers
//   the "Capture" element                   the recording destination (type
//                                           7), with its VOLUME and MUTE
//   every other capture volume or switch    a source of the recording
//                                           destination, with its VOLUME
//   those sources' capture switches         "Capture Source" on the recording
//                                           destination, one item per source:
//                                           MUX when exclusive (a "Capture
//                                           Source" enumeration), else MIXER
// A destination exists only where the card has something for it; an
// element can be a source of both. Line ids: 0xFFFF0000 + i for destination
// i, j * 65536 + i for its source j; control ids count up in document order,
// so a card gives the same ids on every run. A source's component type comes
// from its name (alsa_names.h).
//
// Values
//   VOLUME is 0..65535 whatever the card (alsa_volume_scale.h maps every raw
//   range of up to 65,536 values there and back exactly; a wider one keeps
//   its raw bounds); its steps are the raw range. MUTE is the inverse of the
//   switch, ONOFF the switch. A capture list item is 1 when its source's
//   capture switch is on (without one it reads 0 and takes only 0).
//   Channels follow ALSA's order, all of them; a joined or mono volume or
//   switch, an enumeration and a list are uniform. A MUX
//   keeps exactly one source selected.
//   A sound server's volume may hold more than its declared range (150 %):
//   a VOLUME's bounds cover every value the element held when read and
//   those written since. A value beyond the bounds is refused when its raw
//   value lies within the range, else goes to the control element itself
//   (the simple mixer API drops it), which keeps it or refuses it.
//
// Not represented: controls outside the mixer interface, controls that are
// not boolean, integer or enumerated, dB data, a volume or switch whose
// control element has no values (with such a volume goes the switch of its
// direction: a sound server's virtual source, whose mute always reads
// "on"), the channel differences of an enumeration
// or a capture list item. Read-only controls appear but refuse writes.
//
// A card is opened and read once, at its first description, which every
// later call shares. A write reaches the card at once, in one write of the
// control element with every channel, and only when it changes something;
// the element is read again from the card before its next read, so a read
// shows what the card made of the write. alsa-lib's own messages are
// silenced.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "common/result.h"
#include "platform/mixer/mixer.h"

namespace quorvel {

// Loads alsa-lib (alsa_lib.h) once; fails, saying why. The rest needs it.
Result load_alsa();

// The machine's sound cards as control devices, "hw:N"; empty without any.
std::vector<std::string> alsa_card_devices();

// The plugin type of the ALSA control device `name` as the configuration
// defines it ("hw", "pulse", "pipewire", ...); empty when it defines none or
// alsa-lib cannot be loaded.
std::string alsa_control_type(const std::string& name);

// A mixer whose device k is devices[k], opened at its first description.
std::unique_ptr<Mixer> make_alsa_mixer(std::vector<std::string> devices);

// A mixer over the one control device `name`, opened now; fails saying why.
Expected<std::unique_ptr<Mixer>> open_alsa_mixer(const std::string& name);

}  // namespace quorvel
