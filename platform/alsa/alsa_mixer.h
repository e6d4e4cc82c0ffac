// The ALSA back-end of the mixer service (Linux): presents ALSA control
// devices through their simple mixer elements (what `amixer scontents`
// lists) in the model of mixer.h.
//
// Devices
//   Each device is one ALSA control device: "hw:N" for the machine's sound
//   cards, or any control device by name ("default": on a desktop with
//   PipeWire or PulseAudio, the sound server's own mixer). The product name
//   is the card's mixer name, else its name.
//
// How a card appears in a document
//
//   ALSA                                    document
//   --------------------------------------  ------------------------------------
//   the playback master: "Master", else     destination 0, speakers (component
//   "Headphone", "Speaker", "PCM", else     type 4), named after it, with its
//   the first element with a playback       VOLUME and MUTE
//   volume
//   every other element with a playback     a source of the speakers, with
//   volume (a common volume such as "Mic    VOLUME, and MUTE when it has a
//   Boost" too)                             playback switch
//   a switch without a volume ("IEC958",    an ONOFF control on the speakers,
//   "Auto Gain Control")                    after its MUTE
//   an enumeration ("Auto-Mute Mode")       a SINGLESELECT control holding the
//                                           selected item's index (bounds 0 to
//                                           items - 1): on the recording
//                                           destination for a capture
//                                           enumeration, else on the speakers
//   the "Capture" element                   the recording destination
//                                           (component type 7), with its
//                                           VOLUME and MUTE
//   every other element with a capture      a source of the recording
//   volume or capture switch                destination, with its capture
//                                           VOLUME
//   the capture switches of those sources   one list control on the recording
//                                           destination, "Capture Source", one
//                                           item per source in order: MUX when
//                                           the switches are exclusive (a
//                                           "Capture Source" enumeration,
//                                           which alsa-lib turns into exclusive
//                                           capture switches), else MIXER
//
//   A destination exists only where the card has something for it. Line ids
//   are 0xFFFF0000 + i for destination i and j * 65536 + i for source j of
//   destination i. Control ids are numbered in document order, so the same
//   card gives the same ids on every run. An element can be a source of both
//   destinations. Sources get their component type from their name
//   (alsa_names.h).
//
// Values
//   VOLUME bounds are 0..65535 whatever the card, so documents move between
//   machines (alsa_volume_scale.h: every raw range of up to 65,536 values
//   maps there and back exactly); a wider raw range is shown with its raw
//   bounds (a sound server's 0..65536, for one). cSteps is the raw range.
//   MUTE is the inverse of the ALSA switch, ONOFF the switch itself. A list
//   item is 1 when its source's capture switch is on; a source without a
//   capture switch always reads 0 and takes only 0. Per-channel values
//   follow the element's channels in ALSA's order, all of them (a 5.1
//   element has six). A volume, MUTE or ONOFF keeps its channels apart
//   unless ALSA joins them; a joined one, a mono one, an enumeration and a
//   list are uniform (kFlagUniform): a read gives every channel the same
//   value and a write takes the first one. A MUX always keeps exactly one
//   source selected.
//
// Values beyond the declared range
//   A sound server's volume holds more than the range its element declares
//   (PulseAudio at 150 % reads 98304 of 0..65536). A VOLUME's bounds cover
//   every raw value the element held when the card was read, and those
//   written since, on the same scale as the range (so a document never
//   holds a value outside its own min..max). A write of a value beyond the
//   bounds is refused when it stands for a raw value within the range
//   (65536 on a range shown as 0..65535); one that stands for a raw value
//   beyond the range goes to the element itself through the control API,
//   since the simple mixer API passes over such values without a word: the
//   element keeps it (and the bounds cover it from then on) or refuses it
//   (MIXERR_INVALVALUE). Other writes out of bounds are refused.
//
// Not represented
//   Controls outside the mixer interface (jack detection, PCM and card
//   controls such as IEC958 channel status), controls that are not boolean,
//   integer or enumerated (bytes, IEC958, 64-bit integers), dB data (a
//   document holds raw steps), a volume or switch whose control element has
//   no values (a sound server's virtual source: nothing of it can be
//   written from a document), and the channel differences of an
//   enumeration or of a capture list item (saved as one value, restored to
//   every channel). Read-only controls appear but refuse writes.
//
// Opening and reading
//   The service opens and loads each card once, at its first handle, and
//   every handle of that card shares it: a run opens the card once, and
//   reads each element once from the card when it loads. A write reaches the
//   card at once (where other programs, amixer, see it) in one write of the
//   control element with every channel, and only when the element does not
//   hold those values already; the element alone is then read again from
//   the card before its next read, so what is read after a write is what
//   the card made of it (a driver or a sound server may round a value),
//   never what was written. Changes other programs make while the service
//   is open are seen by the next service (the next run). alsa-lib is loaded
//   when the back-end is first used (alsa_lib.h); its own error messages
//   are silenced.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "common/result.h"
#include "platform/mixer/mixer.h"

namespace quorvel {

// Loads alsa-lib (alsa_lib.h) unless it is loaded already; fails, saying
// why, when it cannot be. Every other function here needs it.
Result load_alsa();

// The control devices of the machine's sound cards, "hw:N", in the order
// snd_card_next gives them. Empty on a machine without sound cards (or
// without alsa-lib).
std::vector<std::string> alsa_card_devices();

// A mixer service over the given control devices: device k is devices[k],
// opened at its first handle.
std::unique_ptr<MixerService> make_alsa_mixer(std::vector<std::string> devices);

// A mixer service over the one control device `name`, opened now; fails,
// saying why, when it does not open (or alsa-lib cannot be loaded).
Result open_alsa_mixer(const std::string& name, std::unique_ptr<MixerService>& out);

}  // namespace quorvel
