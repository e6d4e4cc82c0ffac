#include "platform/alsa/alsa_lib.h"

#include <algorithm>
#include <cerrno>
#include <utility>

namespace quorvel::alsa {
namespace {

constexpr unsigned kMaxChannels = SND_MIXER_SCHN_LAST + 1;

void ignore_alsa_error(const char*, int, const char*, int, const char*, ...) {}

}  // namespace

void silence_alsa() {
  static const bool silenced = [] {
    snd_lib_error_set_handler(ignore_alsa_error);
    return true;
  }();
  (void)silenced;
}

int open_simple_mixer(const std::string& name, snd_mixer_t*& out) {
  snd_mixer_t* mixer = nullptr;
  int error = snd_mixer_open(&mixer, 0);
  if (error < 0) return error;
  if ((error = snd_mixer_attach(mixer, name.c_str())) < 0 ||
      (error = snd_mixer_selem_register(mixer, nullptr, nullptr)) < 0 ||
      (error = snd_mixer_load(mixer)) < 0) {
    snd_mixer_close(mixer);
    return error;
  }
  out = mixer;
  return 0;
}

MixerResult write_error(int error) {
  switch (-error) {
    case ENODEV:
    case ENXIO:
    case EIO:
    case EBADFD:
    case ENOMEM:
      return MMSYSERR_ERROR;
    default:
      return MIXERR_INVALVALUE;
  }
}


namespace {

unsigned count_channels(snd_mixer_elem_t* elem, bool playback) {
  unsigned n = 0;
  while (n < kMaxChannels) {
    auto channel = static_cast<snd_mixer_selem_channel_id_t>(n);
    // Negative: the element has no such direction.
    int has = playback ? snd_mixer_selem_has_playback_channel(elem, channel)
                       : snd_mixer_selem_has_capture_channel(elem, channel);
    if (has <= 0) break;
    ++n;
  }
  return n;
}

// The range `min`..`max` widened to the raw volumes the element holds in
// its `channels` channels.
void held_range(snd_mixer_elem_t* elem, bool playback, unsigned channels, long min, long max,
                long& low, long& high) {
  low = min;
  high = max;
  for (unsigned c = 0; c < channels; ++c) {
    auto channel = static_cast<snd_mixer_selem_channel_id_t>(c);
    long raw = 0;
    int error = playback ? snd_mixer_selem_get_playback_volume(elem, channel, &raw)
                         : snd_mixer_selem_get_capture_volume(elem, channel, &raw);
    if (error < 0) continue;
    low = std::min(low, raw);
    high = std::max(high, raw);
  }
}

snd_hctl_t* hctl_of(snd_mixer_t* mixer, const std::string& device) {
  snd_hctl_t* hctl = nullptr;
  if (snd_mixer_get_hctl(mixer, device.c_str(), &hctl) < 0) return nullptr;
  return hctl;
}

// The number of values of a control element; -1 when it cannot be read.
int value_count(snd_hctl_elem_t* element) {
  snd_ctl_elem_info_t* info = nullptr;
  if (snd_ctl_elem_info_malloc(&info) < 0) return -1;
  int count = snd_hctl_elem_info(element, info) < 0
                  ? -1
                  : static_cast<int>(snd_ctl_elem_info_get_count(info));
  snd_ctl_elem_info_free(info);
  return count;
}

// Whether the part of the element (volume or switch, one direction) rests
// on a control element of no values. alsa-lib counts an element's channels
// over all its parts, so a volume without values (a sound server's virtual
// source) beside a switch with one still shows a channel, which reads 0.
bool has_no_values(snd_mixer_t* mixer, const std::string& device, const Element& e,
                   bool playback, bool volume) {
  snd_hctl_elem_t* element = find_control_element(mixer, device, e, playback, volume);
  return element != nullptr && value_count(element) == 0;
}

Element describe(snd_mixer_elem_t* elem) {
  Element e;
  e.name = snd_mixer_selem_get_name(elem);
  e.index = snd_mixer_selem_get_index(elem);
  e.label = e.index == 0 ? e.name : e.name + "," + std::to_string(e.index);
  if (snd_mixer_selem_is_enumerated(elem)) {
    // alsa-lib serves an enumeration element as the enumeration alone.
    e.is_enum = true;
    e.enum_capture = snd_mixer_selem_is_enum_capture(elem) != 0;
    int items = snd_mixer_selem_get_enum_items(elem);
    e.enum_items = items > 0 ? static_cast<unsigned>(items) : 0;
    // alsa-lib counts no capture channels for a capture enumeration; it has
    // one item for the element as a whole.
    e.enum_channels = std::max(1u, count_channels(elem, true));
    return e;
  }
  const bool common_volume = snd_mixer_selem_has_common_volume(elem) != 0;
  const bool common_switch = snd_mixer_selem_has_common_switch(elem) != 0;
  // alsa-lib gives a common volume (one control for both directions, such
  // as "Mic Boost Volume") both a playback and a capture volume, served
  // through the playback calls: it is shown once, on playback.
  e.pvolume = snd_mixer_selem_has_playback_volume(elem) != 0;
  e.pswitch = snd_mixer_selem_has_playback_switch(elem) != 0;
  e.cvolume = snd_mixer_selem_has_capture_volume(elem) != 0 && !common_volume;
  e.cswitch = snd_mixer_selem_has_capture_switch(elem) != 0 && !common_switch;
  if (e.cswitch) {
    e.cswitch_exclusive = snd_mixer_selem_has_capture_switch_exclusive(elem) != 0;
    if (e.cswitch_exclusive) e.cgroup = snd_mixer_selem_get_capture_group(elem);
  }
  e.pvolume_joined = snd_mixer_selem_has_playback_volume_joined(elem) != 0;
  e.pswitch_joined = snd_mixer_selem_has_playback_switch_joined(elem) != 0;
  e.cvolume_joined = snd_mixer_selem_has_capture_volume_joined(elem) != 0;
  e.cswitch_joined = snd_mixer_selem_has_capture_switch_joined(elem) != 0;
  // A direction without channels (a sound server's virtual source) has
  // nothing to show.
  e.pchannels = count_channels(elem, true);
  e.cchannels = count_channels(elem, false);
  if (e.pchannels == 0) e.pvolume = e.pswitch = false;
  if (e.cchannels == 0) e.cvolume = e.cswitch = false;
  if (e.pvolume) {
    snd_mixer_selem_get_playback_volume_range(elem, &e.pmin, &e.pmax);
    held_range(elem, true, e.pchannels, e.pmin, e.pmax, e.pheld_min, e.pheld_max);
  }
  if (e.cvolume) {
    snd_mixer_selem_get_capture_volume_range(elem, &e.cmin, &e.cmax);
    held_range(elem, false, e.cchannels, e.cmin, e.cmax, e.cheld_min, e.cheld_max);
  }
  return e;
}

std::string card_product(snd_mixer_t* mixer, const std::string& device) {
  snd_hctl_t* hctl = nullptr;
  if (snd_mixer_get_hctl(mixer, device.c_str(), &hctl) < 0 || hctl == nullptr) return device;
  snd_ctl_card_info_t* info = nullptr;
  if (snd_ctl_card_info_malloc(&info) < 0) return device;
  std::string product = device;
  if (snd_ctl_card_info(snd_hctl_ctl(hctl), info) >= 0) {
    const char* mixer_name = snd_ctl_card_info_get_mixername(info);
    const char* card_name = snd_ctl_card_info_get_name(info);
    if (mixer_name != nullptr && *mixer_name != '\0') {
      product = mixer_name;
    } else if (card_name != nullptr && *card_name != '\0') {
      product = card_name;
    }
  }
  snd_ctl_card_info_free(info);
  return product;
}

}  // namespace

snd_hctl_elem_t* find_control_element(snd_mixer_t* mixer, const std::string& device,
                                      const Element& element, bool playback, bool volume) {
  snd_hctl_t* hctl = hctl_of(mixer, device);
  if (hctl == nullptr) return nullptr;
  snd_ctl_elem_id_t* id = nullptr;
  if (snd_ctl_elem_id_malloc(&id) < 0) return nullptr;
  const std::string part = volume ? "Volume" : "Switch";
  const std::string names[] = {
      element.name + (playback ? " Playback " : " Capture ") + part,
      element.name + " " + part,
  };
  snd_hctl_elem_t* found = nullptr;
  for (const std::string& name : names) {
    snd_ctl_elem_id_set_interface(id, SND_CTL_ELEM_IFACE_MIXER);
    snd_ctl_elem_id_set_name(id, name.c_str());
    snd_ctl_elem_id_set_index(id, element.index);
    found = snd_hctl_find_elem(hctl, id);
    if (found != nullptr) break;
  }
  snd_ctl_elem_id_free(id);
  return found;
}

int write_raw_values(snd_hctl_elem_t* element, const std::vector<long long>& raws) {
  if (raws.empty()) return -EINVAL;
  const int count = value_count(element);
  if (count < 0) return -EIO;
  snd_ctl_elem_value_t* value = nullptr;
  int error = snd_ctl_elem_value_malloc(&value);
  if (error < 0) return error;
  error = snd_hctl_elem_read(element, value);
  if (error >= 0) {
    for (int k = 0; k < count; ++k) {
      const long long raw = raws[raws.size() == 1 ? 0 : std::min<std::size_t>(k, raws.size() - 1)];
      snd_ctl_elem_value_set_integer(value, static_cast<unsigned>(k), static_cast<long>(raw));
    }
    error = snd_hctl_elem_write(element, value);
  }
  snd_ctl_elem_value_free(value);
  return error;
}

std::unique_ptr<Card> read_card(snd_mixer_t* mixer, const std::string& device) {
  auto card = std::make_unique<Card>();
  card->product = card_product(mixer, device);
  for (snd_mixer_elem_t* elem = snd_mixer_first_elem(mixer); elem != nullptr;
       elem = snd_mixer_elem_next(elem)) {
    if (snd_mixer_elem_get_type(elem) != SND_MIXER_ELEM_SIMPLE) continue;
    Element e = describe(elem);
    if (!e.is_enum) {
      if (e.pvolume && has_no_values(mixer, device, e, true, true)) e.pvolume = false;
      if (e.pswitch && has_no_values(mixer, device, e, true, false)) e.pswitch = false;
      if (e.cvolume && has_no_values(mixer, device, e, false, true)) e.cvolume = false;
      if (e.cswitch && has_no_values(mixer, device, e, false, false)) e.cswitch = false;
    }
    card->elements.push_back(std::move(e));
  }
  build_card_layout(*card);
  return card;
}

}  // namespace quorvel::alsa
