// The ALSA back-end of the mixer service (Linux): presents ALSA control
// devices through their simple mixer elements in the model of mixer.h.
//
// Devices
//   Each device is one ALSA control device: "hw:N" for the machine's sound
//   cards, or any control device by name ("default", a plugin). The product
//   name is the card's mixer name, else its name.
//
// Destinations (line ids 0xFFFF0000 + i), in this order, each where the
// card has something for it:
//   - Speakers (component type 4): the playback master element ("Master",
//     else "Headphone", "Speaker", "PCM", else the first element with a
//     playback volume) with its VOLUME and MUTE controls; then, in element
//     order, an ONOFF control for each switch that has no volume beside it
//     and a SINGLESELECT control for each enumeration that is not a capture
//     enumeration.
//   - Recording (component type 7): the "Capture" element's VOLUME and MUTE;
//     a list control of the capture sources (MUX when their capture switches
//     are exclusive, as a "Capture Source" enumeration makes them, else
//     MIXER), its items being the destination's sources in order; then a
//     SINGLESELECT control for each capture enumeration.
// Sources (line ids j * 65536 + i):
//   - of the speakers: every other element with a playback volume (common
//     volumes too), with its VOLUME and, when it has a playback switch, MUTE;
//   - of the recording destination: every other element with a capture
//     volume or capture switch, with its capture VOLUME. Its capture switch
//     is the list item of the same index.
//   An element can be a source of both. Component types follow the name.
//
// Values
//   VOLUME bounds are 0..65535 (see alsa_volume_scale.h), or the raw bounds
//   for a raw range wider than 65,536 values; cSteps is the raw range. MUTE
//   is the inverse of the ALSA switch, ONOFF the switch itself. SINGLESELECT
//   holds the selected item's index (bounds 0..items-1). A list item is 1
//   when its source's capture switch is on; a source without a capture
//   switch always reads 0 and takes only 0. Per-channel values follow the
//   element's channels in ALSA's order; where ALSA keeps a control joined,
//   or the control is an enumeration or lone switch, the control is uniform
//   (kFlagUniform): a read gives every channel the same value and a write
//   takes the first one.
//
// Identifiers are numbered in the order above, so the same card gives the
// same identifiers on every run.
//
// Each open() loads the card's elements afresh, so a handle reads what the
// card holds when it is opened. A write through any handle of the service
// makes every handle of that device reload before its next read or write,
// and reaches the card at once, where other programs (amixer) see it.
//
// alsa-lib's own error messages are silenced once the back-end is used; the
// service reports through its result codes.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "common/result.h"
#include "platform/mixer/mixer.h"

namespace quorvel {

// The control devices of the machine's sound cards, "hw:N", in the order
// snd_card_next gives them. Empty on a machine without sound cards.
std::vector<std::string> alsa_card_devices();

// Checks that `name` opens as an ALSA control device; a failure says why
// when it does not.
Result probe_alsa_device(const std::string& name);

// A mixer service over the given control devices: device k is devices[k].
std::unique_ptr<MixerService> make_alsa_mixer(std::vector<std::string> devices);

}  // namespace quorvel
