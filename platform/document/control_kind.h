// What a mixer document holds for each control type: the values a control
// shows under its line_control element, and how a document's values are
// written back to a mixer.
#pragma once

#include <cstdint>
#include <string>

namespace quorvel {

// How a control's values appear under its line_control element.
struct ValueForm {
  std::uint32_t count = 0;     // value elements, channel 1 first
  bool numbered = false;       // each value carries its channel number `ch`, from 1
  const char* list = nullptr;  // the list element of its items (mux_list, mixer_list), or none
};

// The form of a control of `control_type` on a line of `channels` channels;
// `uniform`: the control holds one value for all its channels.
//   - custom controls and unknown types: nothing after the name;
//   - boolean and signed meters: one value, ch="1";
//   - on/off switches: one value without a channel number; one per channel,
//     ch="1" to ch="N", when the control is not uniform and its line has
//     N > 1 channels;
//   - sliders, pans, faders, volume, bass and treble: ch="1", and on a line
//     of N >= 2 channels ch="2" to ch="N";
//   - MUX controls: a mux_list; MIXER and MULTIPLESELECT: a mixer_list;
//   - every other known type: one value without a channel number.
ValueForm value_form(std::uint32_t control_type, std::uint32_t channels, bool uniform);

enum class WriteKind {
  kNothing,     // custom controls, meters, multiple-select lists
  kUniform,     // the first value, for the control as a whole
  kSwitch,      // one value for the whole control; several, one per channel
  kPerChannel,  // one value for the whole control; several, one per channel
  kChannels,    // one value for channels 1 and 2; several, one per channel
  kList,        // the selection of a MUX or MIXER list
  kUnknown,     // a type the program does not know
};

WriteKind write_kind(std::uint32_t control_type);

// Whether the type is an on/off switch whose channels can differ (BOOLEAN,
// ONOFF, MUTE, MONO, LOUDNESS, STEREOENH; not BUTTON, which is pressed).
bool is_channel_switch(std::uint32_t control_type);

// Whether a control of `control_type` is a volume (FADER, VOLUME), whose
// values are on the document's scale: 65535 is 100 %, and a sound server's
// volume over 100 % is over 65535.
bool is_volume_control(std::uint32_t control_type);

// A volume on the document's scale as a whole percent, rounded: 45875 is
// 70, a sound server's 100268 is 153.
long volume_percent(std::int64_t value);

// A sound server's volume on the document's scale in dB, as the server
// reckons it (its volumes are cubic: 60 log10 of the fraction of 100 %),
// "-9.29 dB"; "-inf dB" for 0.
std::string server_volume_decibels(std::int64_t value);

// A raw value as a preview or listing shows it: a volume's with its percent
// after it, "45875 (70%)"; any other's alone, "45875".
std::string value_with_percent(std::uint32_t control_type, std::int64_t value);

}  // namespace quorvel
