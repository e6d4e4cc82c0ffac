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
  e.pchannels = std::max(1u, count_channels(elem, true));
  e.cchannels = std::max(1u, count_channels(elem, false));
  if (e.pvolume) snd_mixer_selem_get_playback_volume_range(elem, &e.pmin, &e.pmax);
  if (e.cvolume) snd_mixer_selem_get_capture_volume_range(elem, &e.cmin, &e.cmax);
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

std::unique_ptr<Card> read_card(snd_mixer_t* mixer, const std::string& device) {
  auto card = std::make_unique<Card>();
  card->product = card_product(mixer, device);
  for (snd_mixer_elem_t* elem = snd_mixer_first_elem(mixer); elem != nullptr;
       elem = snd_mixer_elem_next(elem)) {
    if (snd_mixer_elem_get_type(elem) != SND_MIXER_ELEM_SIMPLE) continue;
    card->elements.push_back(describe(elem));
  }
  build_card_layout(*card);
  return card;
}

}  // namespace quorvel::alsa
