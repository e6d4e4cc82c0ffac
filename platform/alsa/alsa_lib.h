// Reading a card through alsa-lib: set-up, opening a simple mixer, and the
// description of its elements.
#pragma once

#include <alsa/asoundlib.h>

#include <memory>
#include <string>

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

// The card behind a loaded simple mixer on `device`: its product name, its
// elements and their layout.
std::unique_ptr<Card> read_card(snd_mixer_t* mixer, const std::string& device);

}  // namespace quorvel::alsa
