#include "platform/alsa/alsa_device.h"

#include <algorithm>
#include <cerrno>
#include <map>
#include <utility>

namespace quorvel::alsa {
namespace {

constexpr unsigned kMaxChannels = SND_MIXER_SCHN_LAST + 1;

unsigned count_channels(snd_mixer_elem_t* elem, bool playback) {
  unsigned n = 0;
  while (n < kMaxChannels) {
    auto channel = static_cast<snd_mixer_selem_channel_id_t>(n);
    // Negative: the element has no such direction.
    int has = playback ? lib().snd_mixer_selem_has_playback_channel(elem, channel)
                       : lib().snd_mixer_selem_has_capture_channel(elem, channel);
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
    int error = playback ? lib().snd_mixer_selem_get_playback_volume(elem, channel, &raw)
                         : lib().snd_mixer_selem_get_capture_volume(elem, channel, &raw);
    if (error < 0) continue;
    low = std::min(low, raw);
    high = std::max(high, raw);
  }
}

Element describe(snd_mixer_elem_t* elem) {
  const AlsaLib& a = lib();
  Element e;
  e.name = a.snd_mixer_selem_get_name(elem);
  e.index = a.snd_mixer_selem_get_index(elem);
  e.label = e.index == 0 ? e.name : e.name + "," + std::to_string(e.index);
  if (a.snd_mixer_selem_is_enumerated(elem)) {
    // alsa-lib serves an enumeration element as the enumeration alone.
    e.is_enum = true;
    e.enum_capture = a.snd_mixer_selem_is_enum_capture(elem) != 0;
    int items = a.snd_mixer_selem_get_enum_items(elem);
    e.enum_items = items > 0 ? static_cast<unsigned>(items) : 0;
    // alsa-lib counts no capture channels for a capture enumeration; it has
    // one item for the element as a whole.
    e.enum_channels = std::max(1u, count_channels(elem, true));
    return e;
  }
  const bool common_volume = a.snd_mixer_selem_has_common_volume(elem) != 0;
  const bool common_switch = a.snd_mixer_selem_has_common_switch(elem) != 0;
  // alsa-lib gives a common volume (one control for both directions, such
  // as "Mic Boost Volume") both a playback and a capture volume, served
  // through the playback calls: it is shown once, on playback.
  e.pvolume = a.snd_mixer_selem_has_playback_volume(elem) != 0;
  e.pswitch = a.snd_mixer_selem_has_playback_switch(elem) != 0;
  e.cvolume = a.snd_mixer_selem_has_capture_volume(elem) != 0 && !common_volume;
  e.cswitch = a.snd_mixer_selem_has_capture_switch(elem) != 0 && !common_switch;
  if (e.cswitch) {
    e.cswitch_exclusive = a.snd_mixer_selem_has_capture_switch_exclusive(elem) != 0;
    if (e.cswitch_exclusive) e.cgroup = a.snd_mixer_selem_get_capture_group(elem);
  }
  e.pvolume_joined = a.snd_mixer_selem_has_playback_volume_joined(elem) != 0;
  e.pswitch_joined = a.snd_mixer_selem_has_playback_switch_joined(elem) != 0;
  e.cvolume_joined = a.snd_mixer_selem_has_capture_volume_joined(elem) != 0;
  e.cswitch_joined = a.snd_mixer_selem_has_capture_switch_joined(elem) != 0;
  // A direction without channels (a sound server's virtual source) has
  // nothing to show.
  e.pchannels = count_channels(elem, true);
  e.cchannels = count_channels(elem, false);
  if (e.pchannels == 0) e.pvolume = e.pswitch = false;
  if (e.cchannels == 0) e.cvolume = e.cswitch = false;
  if (e.pvolume) {
    a.snd_mixer_selem_get_playback_volume_range(elem, &e.pmin, &e.pmax);
    held_range(elem, true, e.pchannels, e.pmin, e.pmax, e.pheld_min, e.pheld_max);
  }
  if (e.cvolume) {
    a.snd_mixer_selem_get_capture_volume_range(elem, &e.cmin, &e.cmax);
    held_range(elem, false, e.cchannels, e.cmin, e.cmax, e.cheld_min, e.cheld_max);
  }
  return e;
}

std::string card_product(snd_hctl_t* hctl, const std::string& device) {
  const AlsaLib& a = lib();
  snd_ctl_card_info_t* info = nullptr;
  if (hctl == nullptr || a.snd_ctl_card_info_malloc(&info) < 0) return device;
  std::string product = device;
  if (a.snd_ctl_card_info(a.snd_hctl_ctl(hctl), info) >= 0) {
    const char* mixer_name = a.snd_ctl_card_info_get_mixername(info);
    const char* card_name = a.snd_ctl_card_info_get_name(info);
    if (mixer_name != nullptr && *mixer_name != '\0') {
      product = mixer_name;
    } else if (card_name != nullptr && *card_name != '\0') {
      product = card_name;
    }
  }
  a.snd_ctl_card_info_free(info);
  return product;
}

// The names of the control elements alsa-lib builds a simple element's part
// from, in the order it reads them: the part's suffix, the suffix without
// a direction (a control for both), and the bare name (a lone control).
// "Capture Volume" and "Capture Switch" are the "Capture" element's capture
// parts. An enumeration may stand behind any of them.
std::vector<std::string> part_names(const std::string& name, Part part) {
  const bool capture_element = name == "Capture";
  switch (part) {
    case Part::kPlaybackVolume:
      if (capture_element) return {name + " Playback Volume", name};
      return {name + " Playback Volume", name + " Volume", name};
    case Part::kPlaybackSwitch:
      if (capture_element) return {name + " Playback Switch", name};
      return {name + " Playback Switch", name + " Switch", name};
    case Part::kCaptureVolume:
      if (capture_element) return {"Capture Volume", "Capture Capture Volume"};
      return {name + " Capture Volume"};
    case Part::kCaptureSwitch:
      if (capture_element) return {"Capture Switch", "Capture Capture Switch"};
      return {name + " Capture Switch"};
    case Part::kEnum:
      break;
  }
  std::vector<std::string> names{name};
  for (const char* direction : {"", " Playback", " Capture"}) {
    for (const char* suffix : {" Enum", " Switch", " Volume", " Route"}) {
      names.push_back(name + direction + suffix);
    }
  }
  return names;
}

snd_ctl_elem_type_t part_type(Part part) {
  switch (part) {
    case Part::kPlaybackVolume:
    case Part::kCaptureVolume:
      return SND_CTL_ELEM_TYPE_INTEGER;
    case Part::kPlaybackSwitch:
    case Part::kCaptureSwitch:
      return SND_CTL_ELEM_TYPE_BOOLEAN;
    case Part::kEnum:
      break;
  }
  return SND_CTL_ELEM_TYPE_ENUMERATED;
}

// A mixer control element by name and index, with its type and value count.
struct Found {
  snd_hctl_elem_t* elem = nullptr;
  snd_ctl_elem_type_t type = SND_CTL_ELEM_TYPE_NONE;
  unsigned values = 0;
  unsigned items = 0;
};

class Finder {
 public:
  explicit Finder(snd_hctl_t* hctl) : hctl_(hctl) {
    if (lib().snd_ctl_elem_id_malloc(&id_) < 0) id_ = nullptr;
    if (lib().snd_ctl_elem_info_malloc(&info_) < 0) info_ = nullptr;
  }
  ~Finder() {
    if (id_ != nullptr) lib().snd_ctl_elem_id_free(id_);
    if (info_ != nullptr) lib().snd_ctl_elem_info_free(info_);
  }
  Finder(const Finder&) = delete;
  Finder& operator=(const Finder&) = delete;

  Found find(const std::string& name, unsigned index) {
    const AlsaLib& a = lib();
    Found found;
    if (hctl_ == nullptr || id_ == nullptr || info_ == nullptr) return found;
    a.snd_ctl_elem_id_set_interface(id_, SND_CTL_ELEM_IFACE_MIXER);
    a.snd_ctl_elem_id_set_name(id_, name.c_str());
    a.snd_ctl_elem_id_set_index(id_, index);
    snd_hctl_elem_t* elem = a.snd_hctl_find_elem(hctl_, id_);
    if (elem == nullptr || a.snd_hctl_elem_info(elem, info_) < 0) return found;
    found.elem = elem;
    found.type = a.snd_ctl_elem_info_get_type(info_);
    found.values = a.snd_ctl_elem_info_get_count(info_);
    if (found.type == SND_CTL_ELEM_TYPE_ENUMERATED) {
      found.items = a.snd_ctl_elem_info_get_items(info_);
    }
    return found;
  }

  // The first of the part's control elements that exists, and how many of
  // them exist; whether the first has the part's type is for the caller to
  // see.
  Found find_part(const Element& element, Part part, std::size_t& count) {
    Found first;
    count = 0;
    for (const std::string& name : part_names(element.name, part)) {
      Found found = find(name, element.index);
      if (found.elem == nullptr) continue;
      if (count++ == 0) first = found;
    }
    return first;
  }

  // The names of an enumeration's items.
  std::vector<std::string> item_names(const Found& found) {
    const AlsaLib& a = lib();
    std::vector<std::string> names;
    for (unsigned k = 0; k < found.items; ++k) {
      a.snd_ctl_elem_info_set_item(info_, k);
      if (a.snd_hctl_elem_info(found.elem, info_) < 0) return {};
      names.emplace_back(a.snd_ctl_elem_info_get_item_name(info_));
    }
    return names;
  }

 private:
  snd_hctl_t* hctl_;
  snd_ctl_elem_id_t* id_ = nullptr;
  snd_ctl_elem_info_t* info_ = nullptr;
};

}  // namespace

MixerResult write_error(int error) {
  switch (-error) {
    case ENODEV:
      return kMixerGone;
    case ENXIO:
    case EIO:
    case EBADFD:
    case ENOMEM:
      return kMixerFailed;
    default:
      return kMixerRefused;
  }
}

MixerResult read_error(int error) { return error == -ENODEV ? kMixerGone : kMixerFailed; }

CardDevice::~CardDevice() {
  if (value_ != nullptr) lib().snd_ctl_elem_value_free(value_);
  if (mixer_ != nullptr) lib().snd_mixer_close(mixer_);
}

int CardDevice::open(const std::string& name, std::unique_ptr<CardDevice>& out) {
  std::unique_ptr<CardDevice> device(new CardDevice());
  if (int error = device->load(name); error < 0) return error;
  out = std::move(device);
  return 0;
}

int CardDevice::load(const std::string& name) {
  const AlsaLib& a = lib();
  int error = a.snd_mixer_open(&mixer_, 0);
  if (error < 0) return error;
  if ((error = a.snd_mixer_attach(mixer_, name.c_str())) < 0 ||
      (error = a.snd_mixer_selem_register(mixer_, nullptr, &simple_class_)) < 0 ||
      (error = a.snd_mixer_load(mixer_)) < 0 ||
      (error = a.snd_ctl_elem_value_malloc(&value_)) < 0) {
    return error;
  }
  if (a.snd_mixer_get_hctl(mixer_, name.c_str(), &hctl_) < 0) hctl_ = nullptr;
  card_ = std::make_unique<Card>();
  card_->product = card_product(hctl_, name);
  for (snd_mixer_elem_t* elem = a.snd_mixer_first_elem(mixer_); elem != nullptr;
       elem = a.snd_mixer_elem_next(elem)) {
    if (a.snd_mixer_elem_get_type(elem) != SND_MIXER_ELEM_SIMPLE) continue;
    card_->elements.push_back(describe(elem));
    access_.push_back(Access{});
    access_.back().simple = elem;
  }
  find_controls();
  return 0;
}

void CardDevice::find_controls() {
  Finder finder(hctl_);
  // The items of each "Capture Source" enumeration, by its index.
  std::map<unsigned, std::pair<Found, std::vector<std::string>>> sources;
  for (std::size_t k = 0; k < access_.size(); ++k) {
    Element& e = card_->elements[k];
    Access& access = access_[k];
    auto take = [&](Part part, bool& shown, bool* empty = nullptr) {
      if (!shown) return;
      std::size_t count = 0;
      const Found found = finder.find_part(e, part, count);
      if (found.elem == nullptr) return;
      // alsa-lib counts an element's channels over all its parts, so a
      // volume without values (a sound server's virtual source) beside a
      // switch with one still shows a channel, which reads 0: not shown,
      // nor is that switch (build_card_layout).
      if (found.values == 0) {
        shown = false;
        if (empty != nullptr) *empty = true;
        return;
      }
      if (found.type != part_type(part)) return;
      // A part that alsa-lib builds from several control elements (a
      // playback switch beside a switch for both directions, read together)
      // is written through alsa-lib, which writes them all.
      if (count > 1) return;
      const auto p = static_cast<std::size_t>(part);
      access.control[p] = found.elem;
      access.values[p] = found.values;
    };
    if (e.is_enum) {
      bool shown = true;
      take(Part::kEnum, shown);
      continue;
    }
    take(Part::kPlaybackVolume, e.pvolume, &e.pvolume_empty);
    take(Part::kPlaybackSwitch, e.pswitch);
    take(Part::kCaptureVolume, e.cvolume, &e.cvolume_empty);
    take(Part::kCaptureSwitch, e.cswitch);
    if (!e.cswitch_exclusive) continue;
    // An exclusive capture switch is an item of the "Capture Source"
    // enumeration of the element's index, named after the element (the
    // last item of that name, as alsa-lib takes it).
    auto known = sources.find(e.index);
    if (known == sources.end()) {
      Found found = finder.find("Capture Source", e.index);
      std::vector<std::string> items;
      if (found.type == SND_CTL_ELEM_TYPE_ENUMERATED) items = finder.item_names(found);
      known = sources.emplace(e.index, std::make_pair(found, std::move(items))).first;
    }
    const auto& [found, items] = known->second;
    for (std::size_t item = 0; item < items.size(); ++item) {
      if (items[item] != e.name) continue;
      access.source = found.elem;
      access.source_values = found.values;
      access.source_item = static_cast<unsigned>(item);
    }
  }
}

int CardDevice::refresh(std::size_t element) {
  Access& access = access_[element];
  if (!access.stale) return 0;
  // What alsa-lib does when the card reports that an element's value
  // changed: the simple element class reads the element again, all its
  // parts, from the card. The class looks at the simple element alone; the
  // control element is passed for form's sake.
  snd_hctl_elem_t* changed = access.source;
  for (snd_hctl_elem_t* control : access.control) {
    if (control != nullptr) changed = control;
  }
  snd_mixer_event_t event = lib().snd_mixer_class_get_event(simple_class_);
  if (event == nullptr) return -ENXIO;
  int error = event(simple_class_, SND_CTL_EVENT_MASK_VALUE, changed, access.simple);
  if (error < 0) return error;
  access.stale = false;
  return 0;
}

int CardDevice::read(std::size_t element, Part part, unsigned channel, long& value) {
  if (int error = refresh(element); error < 0) return error;
  const AlsaLib& a = lib();
  snd_mixer_elem_t* simple = access_[element].simple;
  const auto id = static_cast<snd_mixer_selem_channel_id_t>(channel);
  int on = 0;
  unsigned item = 0;
  int error = 0;
  switch (part) {
    case Part::kPlaybackVolume:
      return a.snd_mixer_selem_get_playback_volume(simple, id, &value);
    case Part::kCaptureVolume:
      return a.snd_mixer_selem_get_capture_volume(simple, id, &value);
    case Part::kPlaybackSwitch:
      error = a.snd_mixer_selem_get_playback_switch(simple, id, &on);
      value = on != 0 ? 1 : 0;
      return error;
    case Part::kCaptureSwitch:
      error = a.snd_mixer_selem_get_capture_switch(simple, id, &on);
      value = on != 0 ? 1 : 0;
      return error;
    case Part::kEnum:
      error = a.snd_mixer_selem_get_enum_item(simple, id, &item);
      value = static_cast<long>(item);
      return error;
  }
  return -EINVAL;
}

bool CardDevice::writes_directly(std::size_t element, Part part) const {
  return access_[element].control[static_cast<std::size_t>(part)] != nullptr;
}

int CardDevice::write(std::size_t element, Part part, std::span<const long> values) {
  if (values.empty()) return -EINVAL;
  Access& access = access_[element];
  const Element& e = card_->elements[element];
  const auto p = static_cast<std::size_t>(part);
  unsigned count = access.values[p];
  if (access.control[p] == nullptr) {
    count = part == Part::kEnum                                              ? e.enum_channels
            : part == Part::kPlaybackVolume || part == Part::kPlaybackSwitch ? e.pchannels
                                                                             : e.cchannels;
  }
  // What the element holds, and what it is to hold.
  std::vector<long> wanted(count);
  bool same = true;
  for (unsigned c = 0; c < count; ++c) {
    long held = 0;
    if (int error = read(element, part, c, held); error < 0) return error;
    wanted[c] = values.size() == 1 ? values[0] : c < values.size() ? values[c] : held;
    same = same && wanted[c] == held;
  }
  if (same) return 0;
  int error = access.control[p] != nullptr ? write_control(access, part, wanted)
                                           : write_simple(element, part, wanted);
  access.stale = true;
  return error;
}

int CardDevice::write_control(Access& access, Part part, const std::vector<long>& values) {
  const AlsaLib& a = lib();
  a.snd_ctl_elem_value_clear(value_);
  for (unsigned c = 0; c < values.size(); ++c) {
    if (part == Part::kEnum) {
      a.snd_ctl_elem_value_set_enumerated(value_, c, static_cast<unsigned>(values[c]));
    } else {
      a.snd_ctl_elem_value_set_integer(value_, c, values[c]);
    }
  }
  const int error = a.snd_hctl_elem_write(access.control[static_cast<std::size_t>(part)], value_);
  return error < 0 ? error : 0;
}

int CardDevice::write_simple(std::size_t element, Part part, const std::vector<long>& values) {
  const AlsaLib& a = lib();
  snd_mixer_elem_t* simple = access_[element].simple;
  for (unsigned c = 0; c < values.size(); ++c) {
    const auto id = static_cast<snd_mixer_selem_channel_id_t>(c);
    const long v = values[c];
    int error = 0;
    switch (part) {
      case Part::kPlaybackVolume:
        error = a.snd_mixer_selem_set_playback_volume(simple, id, v);
        break;
      case Part::kCaptureVolume:
        error = a.snd_mixer_selem_set_capture_volume(simple, id, v);
        break;
      case Part::kPlaybackSwitch:
        error = a.snd_mixer_selem_set_playback_switch(simple, id, v != 0);
        break;
      case Part::kCaptureSwitch:
        error = a.snd_mixer_selem_set_capture_switch(simple, id, v != 0);
        break;
      case Part::kEnum:
        error = a.snd_mixer_selem_set_enum_item(simple, id, static_cast<unsigned>(v));
        break;
    }
    if (error < 0) return error;
  }
  return 0;
}

int CardDevice::select_capture(std::size_t element, bool on) {
  Access& access = access_[element];
  if (access.source == nullptr) {
    const long value = on ? 1 : 0;
    return write(element, Part::kCaptureSwitch, {&value, 1});
  }
  if (!on) return 0;
  long held = 0;
  if (int error = read(element, Part::kCaptureSwitch, 0, held); error < 0) return error;
  if (held != 0) return 0;
  const AlsaLib& a = lib();
  a.snd_ctl_elem_value_clear(value_);
  for (unsigned c = 0; c < access.source_values; ++c) {
    a.snd_ctl_elem_value_set_enumerated(value_, c, access.source_item);
  }
  const int error = a.snd_hctl_elem_write(access.source, value_);
  // Every element of the enumeration changed with it.
  for (Access& other : access_) {
    if (other.source == access.source) other.stale = true;
  }
  return error < 0 ? error : 0;
}

}  // namespace quorvel::alsa
