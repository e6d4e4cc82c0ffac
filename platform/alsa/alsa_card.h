// The ALSA back-end's model of one card: the simple mixer elements as
// alsa-lib describes them, and the layout of lines and controls they are
// presented as (the mapping of alsa_mixer.h). The mapping (build_card_layout)
// works on the element descriptions alone; reading them from alsa-lib is
// alsa_device.h's job.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "platform/alsa/alsa_volume_scale.h"
#include "platform/mixer/model_layout.h"
#include "platform/mixer/mixer.h"

namespace quorvel::alsa {

constexpr std::size_t kNone = std::numeric_limits<std::size_t>::max();
constexpr std::uint32_t kDestinationLineBase = 0xFFFF0000u;

// One simple mixer element as alsa-lib presents it.
struct Element {
  std::string name;
  unsigned index = 0;
  std::string label;  // the name, with ",INDEX" for a second element of a name

  bool is_enum = false;
  bool enum_capture = false;
  unsigned enum_items = 0;
  unsigned enum_channels = 0;

  bool pvolume = false;  // playback or common volume
  bool pswitch = false;  // playback or common switch
  bool cvolume = false;  // capture volume (not common)
  bool cswitch = false;  // capture switch (not common)
  bool cswitch_exclusive = false;
  int cgroup = 0;
  bool pvolume_joined = false;
  bool pswitch_joined = false;
  bool cvolume_joined = false;
  bool cswitch_joined = false;
  unsigned pchannels = 0;
  unsigned cchannels = 0;
  long pmin = 0;
  long pmax = 0;
  long cmin = 0;
  long cmax = 0;
  // The lowest and highest raw volume the element held in any channel when
  // it was read (the declared range when it held nothing outside it).
  // A volume whose control holds no values (a sound server's virtual
  // source, through its ALSA plugin): not shown, and neither is the switch
  // of its direction (build_card_layout), whose value means nothing then.
  bool pvolume_empty = false;
  bool cvolume_empty = false;
  long pheld_min = 0;
  long pheld_max = 0;
  long cheld_min = 0;
  long cheld_max = 0;
};

enum class Kind {
  kPlaybackVolume,
  kPlaybackMute,
  kCaptureVolume,
  kCaptureMute,
  kSwitch,       // a switch without a volume: ONOFF, the switch itself
  kEnum,         // SINGLESELECT: the selected item's index
  kCaptureList,  // MUX or MIXER over the recording destination's sources
};

// What a control of the layout stands for on the card (ModelControl::key
// is its index in Card::controls).
struct Control {
  Kind kind = Kind::kPlaybackVolume;
  std::size_t element = kNone;  // none for the capture list
  AlsaVolumeScale scale;        // volumes
  unsigned channels = 1;        // the element's channels for this control
};

struct Card {
  std::string product;
  std::vector<Element> elements;
  std::vector<Control> controls;
};

// Lays out the card's lines and controls from its elements (`elements` and
// `product` set, `controls` empty), filling `controls` beside the layout. A
// line's ModelLine::key is its element (kNone for a destination without one).
ModelLayout build_card_layout(Card& card);

}  // namespace quorvel::alsa
