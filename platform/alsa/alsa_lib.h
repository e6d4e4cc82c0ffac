// Reading a card through alsa-lib: set-up, opening a simple mixer, and the
// description of its elements.
#pragma once

#include <alsa/asoundlib.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/alsa/alsa_card.h"
#include "platform/mixer/records.h"

namespace quorvel::alsa {

// alsa-lib prints its own messages on standard error (for instance when a
// device cannot be opened); the back-end reports through result codes
// instead, so they are silenced once, for the whole process.
void silence_alsa();

// Opens and loads a simple mixer on the control device `name`; a negative
// alsa-lib error code when it cannot.
int open_simple_mixer(const std::string& name, snd_mixer_t*& out);

// The mixer result of a failed alsa-lib write: refused by the control, or
// the device is gone.
MixerResult write_error(int error);

// The control element behind a volume (`volume`) or switch of a simple
// element in one direction, found by the names alsa-lib builds simple
// elements from ("NAME Playback Volume", "NAME Capture Volume", then
// "NAME Volume"; likewise "Switch"); null when there is none.
snd_hctl_elem_t* find_control_element(snd_mixer_t* mixer, const std::string& device,
                                      const Element& element, bool playback, bool volume);

// Writes raw integer values to a control element, index k taking raws[k]
// (one value: every index), through the control API: unlike the simple
// mixer API, which passes over a value outside the declared range, it hands
// every value to the element, which keeps or refuses it. A negative
// alsa-lib error code when the element refuses.
int write_raw_values(snd_hctl_elem_t* element, const std::vector<long long>& raws);

// The card behind a loaded simple mixer on `device`: its product name, its
// elements and their layout.
std::unique_ptr<Card> read_card(snd_mixer_t* mixer, const std::string& device);

}  // namespace quorvel::alsa
