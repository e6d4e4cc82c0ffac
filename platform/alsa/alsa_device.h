// One ALSA control device as the back-end uses it: its simple mixer, opened
// and loaded once, whose copy of every element's values alsa-lib keeps; the
// card's elements (alsa_card.h); and, for every part of an element
// (a volume, a switch, an enumeration, one direction), the control element
// behind it, through which that part is written in one call.
//
// Reads come from alsa-lib's copy, read from the card when the device was
// loaded. A write goes to the control element with every channel at once
// (the simple mixer API writes an element once per channel, each time with
// all its other parts too), and only when the element does not hold those
// values already. The element is then out of date in alsa-lib's copy, and
// what the card made of the write (a driver or a sound server may round
// it) is read again from the card before the element's next read: that
// element alone, not the whole mixer.
#pragma once

#include <cstddef>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "platform/alsa/alsa_card.h"
#include "platform/alsa/alsa_lib.h"

namespace quorvel::alsa {

enum class Part { kPlaybackVolume, kPlaybackSwitch, kCaptureVolume, kCaptureSwitch, kEnum };
inline constexpr std::size_t kPartCount = 5;

class CardDevice {
 public:
  ~CardDevice();
  CardDevice(const CardDevice&) = delete;
  CardDevice& operator=(const CardDevice&) = delete;

  // Opens the control device `name`, loads its simple mixer and describes
  // the card's elements; a negative alsa-lib error code when it cannot.
  static int open(const std::string& name, std::unique_ptr<CardDevice>& out);

  Card& card() { return *card_; }

  // The values of an element's part in channel `channel` (ALSA's order): a
  // raw volume, a switch as 0 or 1, an enumeration's item. Negative: an
  // alsa-lib error.
  int read(std::size_t element, Part part, unsigned channel, long& value);

  // Writes a part: `values` one per channel, or one for every channel;
  // channels past those given keep theirs. A volume takes raw values beyond
  // its declared range too (the element keeps or refuses them). Negative:
  // the element refused, or an alsa-lib error.
  int write(std::size_t element, Part part, std::span<const long> values);

  // Turns a capture list source's capture switch on or off; an exclusive
  // one (a "Capture Source" enumeration underneath) is only ever turned on,
  // which turns the others of its group off.
  int select_capture(std::size_t element, bool on);

  // Whether writes of the part go through a control element of its own;
  // where none was found they go through the simple mixer API, channel by
  // channel, which cannot pass values beyond the declared range.
  bool writes_directly(std::size_t element, Part part) const;

 private:
  // What the device has of one element beside alsa-lib's description.
  struct Access {
    snd_mixer_elem_t* simple = nullptr;
    snd_hctl_elem_t* control[kPartCount] = {};
    unsigned values[kPartCount] = {};  // the control element's values
    // An exclusive capture switch: the enumeration of its group and the
    // item that selects this element.
    snd_hctl_elem_t* source = nullptr;
    unsigned source_values = 0;
    unsigned source_item = 0;
    bool stale = false;  // written since alsa-lib last read it
  };

  CardDevice() = default;
  int load(const std::string& name);
  void find_controls();
  // Reads the element again from the card when it was written since.
  int refresh(std::size_t element);
  int write_control(Access& access, Part part, const std::vector<long>& values);
  int write_simple(std::size_t element, Part part, const std::vector<long>& values);

  snd_mixer_t* mixer_ = nullptr;
  snd_mixer_class_t* simple_class_ = nullptr;
  snd_hctl_t* hctl_ = nullptr;
  snd_ctl_elem_value_t* value_ = nullptr;  // reused by every write
  std::unique_ptr<Card> card_;
  std::vector<Access> access_;
};

// The mixer result of a failed alsa-lib write: refused by the control, the
// device failing, or the card gone (ENODEV: unplugged), kMixerGone.
MixerResult write_error(int error);
// The same of a failed read: the card gone, or the device failing.
MixerResult read_error(int error);

}  // namespace quorvel::alsa
