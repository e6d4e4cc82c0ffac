#include "platform/alsa_mixer.h"

#include <alsa/asoundlib.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <limits>
#include <map>
#include <unordered_map>
#include <utility>

#include "platform/alsa_volume_scale.h"

namespace quorvel {
namespace {

constexpr std::size_t kNone = std::numeric_limits<std::size_t>::max();
constexpr unsigned kMaxChannels = SND_MIXER_SCHN_LAST + 1;
constexpr std::uint32_t kDestinationLineBase = 0xFFFF0000u;

// ---- alsa-lib set-up ------------------------------------------------------

void ignore_alsa_error(const char*, int, const char*, int, const char*, ...) {}

// alsa-lib prints its own messages on standard error (for instance when a
// device cannot be opened); the service reports through its result codes
// instead, so they are silenced once, for the whole process.
void silence_alsa() {
  static const bool silenced = [] {
    snd_lib_error_set_handler(ignore_alsa_error);
    return true;
  }();
  (void)silenced;
}

// Opens and loads a simple mixer on the control device `name`.
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

// A failed write: refused by the control, or the device is gone.
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

// ---- What the card holds ----------------------------------------------------

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
};

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

enum class Kind {
  kPlaybackVolume,
  kPlaybackMute,
  kCaptureVolume,
  kCaptureMute,
  kSwitch,       // a switch without a volume: ONOFF, the switch itself
  kEnum,         // SINGLESELECT: the selected item's index
  kCaptureList,  // MUX or MIXER over the recording destination's sources
};

struct Control {
  std::uint32_t id = 0;
  std::uint32_t type = 0;
  std::string name;
  Kind kind = Kind::kPlaybackVolume;
  std::size_t element = kNone;  // none for the capture list
  std::size_t line = 0;
  AlsaVolumeScale scale;  // volumes
  std::int32_t min = 0;
  std::int32_t max = 0;
  std::uint32_t steps = 0;
  unsigned channels = 1;  // the element's channels for this control
  bool uniform = false;   // one value for every channel
};

struct Line {
  std::uint32_t id = 0;
  std::uint32_t destination = 0;
  std::uint32_t source = 0;
  bool is_destination = true;
  std::uint32_t component = 0;
  std::uint32_t channels = 1;
  std::string name;
  std::vector<std::size_t> controls;
  std::vector<std::size_t> sources;  // lines of a destination's sources
  std::size_t element = kNone;       // a source's element
};

struct Card {
  std::string product;
  std::vector<Element> elements;
  std::vector<Line> lines;
  std::vector<std::size_t> destinations;
  std::vector<Control> controls;
  std::unordered_map<std::uint32_t, std::size_t> line_by_id;
  std::unordered_map<std::uint32_t, std::size_t> control_by_id;
  // Writes made through the service; a handle that loaded before the last
  // write reloads before it reads.
  std::uint64_t generation = 0;
};

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

// Builds the lines and controls of a card from its elements (see the
// header for the layout).
class CardBuilder {
 public:
  explicit CardBuilder(Card& card) : card_(card) {}

  void build() {
    const std::vector<Element>& elements = card_.elements;
    std::size_t master = kNone;
    for (const char* name : {"Master", "Headphone", "Speaker", "PCM"}) {
      master = find(name, [](const Element& e) { return e.pvolume; });
      if (master != kNone) break;
    }
    if (master == kNone) master = find(nullptr, [](const Element& e) { return e.pvolume; });
    const std::size_t capture = find("Capture", [](const Element& e) {
      return e.index == 0 && !e.cswitch_exclusive && (e.cvolume || e.cswitch);
    });

    std::vector<std::size_t> playback_sources;
    std::vector<std::size_t> playback_extras;  // lone switches and enumerations
    std::vector<std::size_t> capture_sources;
    std::vector<std::size_t> capture_extras;   // capture enumerations
    for (std::size_t k = 0; k < elements.size(); ++k) {
      const Element& e = elements[k];
      if (e.is_enum) {
        (e.enum_capture ? capture_extras : playback_extras).push_back(k);
        continue;
      }
      if (k != master && e.pvolume) playback_sources.push_back(k);
      if (e.pswitch && !e.pvolume) playback_extras.push_back(k);
      if (k != capture && (e.cvolume || e.cswitch)) capture_sources.push_back(k);
    }

    if (master != kNone || !playback_extras.empty()) {
      std::size_t d = add_destination(master, kComponentDstSpeakers, "Playback", true);
      if (master != kNone) {
        add_volume(d, master, true, elements[master].label + " Volume");
        if (elements[master].pswitch) add_mute(d, master, true, elements[master].label + " Mute");
      }
      add_extras(d, playback_extras);
      for (std::size_t k : playback_sources) {
        std::size_t s = add_source(d, k, elements[k].pchannels);
        add_volume(s, k, true, elements[k].label + " Volume");
        if (elements[k].pswitch) add_mute(s, k, true, elements[k].label + " Mute");
      }
    }

    if (capture != kNone || !capture_sources.empty() || !capture_extras.empty()) {
      std::size_t d = add_destination(capture, kComponentDstWaveIn, "Capture", false);
      if (capture == kNone) {
        unsigned channels = 1;
        for (std::size_t k : capture_sources) channels = std::max(channels, elements[k].cchannels);
        card_.lines[d].channels = channels;
      } else {
        const Element& e = elements[capture];
        if (e.cvolume) add_volume(d, capture, false, e.label + " Volume");
        if (e.cswitch) add_mute(d, capture, false, e.label + " Mute");
      }
      add_capture_list(d, capture_sources);
      add_extras(d, capture_extras);
      for (std::size_t k : capture_sources) {
        std::size_t s = add_source(d, k, elements[k].cchannels);
        if (elements[k].cvolume) add_volume(s, k, false, elements[k].label + " Capture Volume");
      }
    }
  }

 private:
  template <typename Accept>
  std::size_t find(const char* name, Accept accept) const {
    for (std::size_t k = 0; k < card_.elements.size(); ++k) {
      const Element& e = card_.elements[k];
      if (e.is_enum || (name != nullptr && e.name != name)) continue;
      if (accept(e)) return k;
    }
    return kNone;
  }

  std::size_t add_line(Line line) {
    card_.line_by_id.emplace(line.id, card_.lines.size());
    card_.lines.push_back(std::move(line));
    return card_.lines.size() - 1;
  }

  std::size_t add_destination(std::size_t element, std::uint32_t component,
                              const char* fallback_name, bool playback) {
    Line line;
    line.destination = static_cast<std::uint32_t>(card_.destinations.size());
    line.id = kDestinationLineBase + line.destination;
    line.component = component;
    if (element != kNone) {
      const Element& e = card_.elements[element];
      line.name = e.label;
      line.channels = playback ? e.pchannels : e.cchannels;
    } else {
      line.name = fallback_name;
    }
    std::size_t index = add_line(std::move(line));
    card_.destinations.push_back(index);
    return index;
  }

  std::size_t add_source(std::size_t destination, std::size_t element, unsigned channels) {
    Line line;
    line.is_destination = false;
    line.destination = card_.lines[destination].destination;
    line.source = static_cast<std::uint32_t>(card_.lines[destination].sources.size());
    line.id = line.source * 65536u + line.destination;
    line.name = card_.elements[element].label;
    line.component = alsa_source_component_type(card_.elements[element].name);
    line.channels = channels;
    line.element = element;
    std::size_t index = add_line(std::move(line));
    card_.lines[destination].sources.push_back(index);
    return index;
  }

  Control& add_control(std::size_t line, std::uint32_t type, std::string name, Kind kind,
                       std::size_t element) {
    Control control;
    control.id = next_id_++;
    control.type = type;
    control.name = std::move(name);
    control.kind = kind;
    control.element = element;
    control.line = line;
    card_.control_by_id.emplace(control.id, card_.controls.size());
    card_.lines[line].controls.push_back(card_.controls.size());
    card_.controls.push_back(std::move(control));
    return card_.controls.back();
  }

  void add_volume(std::size_t line, std::size_t element, bool playback, std::string name) {
    const Element& e = card_.elements[element];
    Control& c = add_control(line, ctrl::kVolume, std::move(name),
                             playback ? Kind::kPlaybackVolume : Kind::kCaptureVolume, element);
    c.scale = playback ? AlsaVolumeScale{e.pmin, e.pmax} : AlsaVolumeScale{e.cmin, e.cmax};
    c.min = c.scale.shown_min();
    c.max = c.scale.shown_max();
    const long long span = c.scale.max - c.scale.min;
    c.steps = static_cast<std::uint32_t>(
        std::clamp<long long>(span, 0, std::numeric_limits<std::uint32_t>::max()));
    c.channels = playback ? e.pchannels : e.cchannels;
    c.uniform = c.channels == 1 || (playback ? e.pvolume_joined : e.cvolume_joined);
  }

  void add_mute(std::size_t line, std::size_t element, bool playback, std::string name) {
    const Element& e = card_.elements[element];
    Control& c = add_control(line, ctrl::kMute, std::move(name),
                             playback ? Kind::kPlaybackMute : Kind::kCaptureMute, element);
    c.max = 1;
    c.channels = playback ? e.pchannels : e.cchannels;
    c.uniform = c.channels == 1 || (playback ? e.pswitch_joined : e.cswitch_joined);
  }

  void add_extras(std::size_t line, const std::vector<std::size_t>& elements) {
    for (std::size_t k : elements) {
      const Element& e = card_.elements[k];
      if (e.is_enum) {
        Control& c = add_control(line, ctrl::kSingleSelect, e.label, Kind::kEnum, k);
        c.max = e.enum_items > 0 ? static_cast<std::int32_t>(e.enum_items - 1) : 0;
        c.steps = static_cast<std::uint32_t>(c.max);
        c.channels = e.enum_channels;
      } else {
        Control& c = add_control(line, ctrl::kOnOff, e.label, Kind::kSwitch, k);
        c.max = 1;
        c.channels = e.pchannels;
      }
      card_.controls.back().uniform = true;
    }
  }

  // A list over the destination's sources when any of them has a capture
  // switch: MUX when those switches are exclusive within one group.
  void add_capture_list(std::size_t line, const std::vector<std::size_t>& sources) {
    bool any = false;
    bool exclusive = true;
    std::map<int, bool> groups;
    for (std::size_t k : sources) {
      const Element& e = card_.elements[k];
      if (!e.cswitch) continue;
      any = true;
      if (e.cswitch_exclusive) {
        groups[e.cgroup] = true;
      } else {
        exclusive = false;
      }
    }
    if (!any) return;
    const bool mux = exclusive && groups.size() == 1;
    Control& c = add_control(line, mux ? ctrl::kMux : ctrl::kMixer, "Capture Source",
                             Kind::kCaptureList, kNone);
    c.max = sources.empty() ? 0 : static_cast<std::int32_t>(sources.size() - 1);
    c.uniform = true;
  }

  Card& card_;
  std::uint32_t next_id_ = 1;
};

std::unique_ptr<Card> build_card(snd_mixer_t* mixer, const std::string& device) {
  auto card = std::make_unique<Card>();
  card->product = card_product(mixer, device);
  for (snd_mixer_elem_t* elem = snd_mixer_first_elem(mixer); elem != nullptr;
       elem = snd_mixer_elem_next(elem)) {
    if (snd_mixer_elem_get_type(elem) != SND_MIXER_ELEM_SIMPLE) continue;
    card->elements.push_back(describe(elem));
  }
  CardBuilder(*card).build();
  return card;
}

// ---- Handles --------------------------------------------------------------

// An open handle: a simple mixer loaded on the device, and the card's
// elements found in it.
struct Session {
  std::size_t device = 0;
  snd_mixer_t* mixer = nullptr;
  std::vector<snd_mixer_elem_t*> elements;
  std::uint64_t generation = 0;
};

void find_elements(const Card& card, Session& session) {
  session.elements.assign(card.elements.size(), nullptr);
  snd_mixer_selem_id_t* id = nullptr;
  if (snd_mixer_selem_id_malloc(&id) < 0) return;
  for (std::size_t k = 0; k < card.elements.size(); ++k) {
    snd_mixer_selem_id_set_name(id, card.elements[k].name.c_str());
    snd_mixer_selem_id_set_index(id, card.elements[k].index);
    session.elements[k] = snd_mixer_find_selem(session.mixer, id);
  }
  snd_mixer_selem_id_free(id);
}

void close_session(Session& session) {
  if (session.mixer != nullptr) snd_mixer_close(session.mixer);
  session.mixer = nullptr;
  session.elements.clear();
}

// ---- Reading and writing one control ---------------------------------------

template <typename T>
T slot(const void* details, std::size_t k) {
  T value;
  std::memcpy(&value, static_cast<const unsigned char*>(details) + k * sizeof value, sizeof value);
  return value;
}

template <typename T>
void put_slot(void* details, std::size_t k, T value) {
  std::memcpy(static_cast<unsigned char*>(details) + k * sizeof value, &value, sizeof value);
}

class AlsaMixer final : public MixerService {
 public:
  explicit AlsaMixer(std::vector<std::string> devices)
      : devices_(std::move(devices)), cards_(devices_.size()) {
    silence_alsa();
  }

  ~AlsaMixer() override {
    for (auto& [id, session] : sessions_) close_session(session);
  }

  AlsaMixer(const AlsaMixer&) = delete;
  AlsaMixer& operator=(const AlsaMixer&) = delete;

  unsigned device_count() override { return static_cast<unsigned>(devices_.size()); }

  MixerResult open(unsigned device, MixerHandle& out) override {
    if (device >= devices_.size()) return MMSYSERR_BADDEVICEID;
    Session session;
    session.device = device;
    if (open_simple_mixer(devices_[device], session.mixer) < 0) return MMSYSERR_NODRIVER;
    if (!cards_[device]) cards_[device] = build_card(session.mixer, devices_[device]);
    const Card& card = *cards_[device];
    find_elements(card, session);
    session.generation = card.generation;
    std::uintptr_t id = next_handle_++;
    sessions_.emplace(id, std::move(session));
    out = MixerHandle(this, id);
    return MMSYSERR_NOERROR;
  }

  MixerResult get_dev_caps(const MixerHandle& handle, MixerCaps& caps) override {
    Session* session = find_session(handle);
    if (session == nullptr) return MMSYSERR_INVALHANDLE;
    const Card& card = card_of(*session);
    caps = MixerCaps{};
    copy_name(caps.szPname, card.product);
    caps.cDestinations = static_cast<std::uint32_t>(card.destinations.size());
    return MMSYSERR_NOERROR;
  }

  MixerResult get_line_info(const MixerHandle& handle, MixerLine& line,
                            LineQuery query) override {
    Session* session = find_session(handle);
    if (session == nullptr) return MMSYSERR_INVALHANDLE;
    if (line.cbStruct != sizeof(MixerLine)) return MMSYSERR_INVALPARAM;
    const Card& card = card_of(*session);
    std::size_t index = kNone;
    switch (query) {
      case LineQuery::kDestination:
        if (line.dwDestination >= card.destinations.size()) return MIXERR_INVALLINE;
        index = card.destinations[line.dwDestination];
        break;
      case LineQuery::kSource: {
        if (line.dwDestination >= card.destinations.size()) return MIXERR_INVALLINE;
        const Line& destination = card.lines[card.destinations[line.dwDestination]];
        if (line.dwSource >= destination.sources.size()) return MIXERR_INVALLINE;
        index = destination.sources[line.dwSource];
        break;
      }
      case LineQuery::kLineId: {
        auto found = card.line_by_id.find(line.dwLineID);
        if (found == card.line_by_id.end()) return MIXERR_INVALLINE;
        index = found->second;
        break;
      }
      default:
        return MMSYSERR_INVALFLAG;
    }
    fill_line(card, card.lines[index], line);
    return MMSYSERR_NOERROR;
  }

  MixerResult get_line_controls(const MixerHandle& handle, MixerLineControls& controls,
                                ControlsQuery query) override {
    Session* session = find_session(handle);
    if (session == nullptr) return MMSYSERR_INVALHANDLE;
    if (controls.cbStruct != sizeof(MixerLineControls) ||
        controls.cbmxctrl != sizeof(MixerControl)) {
      return MMSYSERR_INVALPARAM;
    }
    const Card& card = card_of(*session);
    switch (query) {
      case ControlsQuery::kAll: {
        auto found = card.line_by_id.find(controls.dwLineID);
        if (found == card.line_by_id.end()) return MIXERR_INVALLINE;
        const Line& line = card.lines[found->second];
        if (controls.cControls != line.controls.size()) return MMSYSERR_INVALPARAM;
        if (!line.controls.empty() && controls.pamxctrl == nullptr) return MMSYSERR_INVALPARAM;
        for (std::size_t k = 0; k < line.controls.size(); ++k) {
          fill_control(card, card.controls[line.controls[k]], controls.pamxctrl[k]);
        }
        return MMSYSERR_NOERROR;
      }
      case ControlsQuery::kOneById: {
        auto found = card.control_by_id.find(controls.dwControlID);
        if (found == card.control_by_id.end()) return MIXERR_INVALCONTROL;
        if (controls.cControls != 1 || controls.pamxctrl == nullptr) return MMSYSERR_INVALPARAM;
        const Control& control = card.controls[found->second];
        fill_control(card, control, controls.pamxctrl[0]);
        controls.dwLineID = card.lines[control.line].id;
        return MMSYSERR_NOERROR;
      }
    }
    return MMSYSERR_INVALFLAG;
  }

  MixerResult get_control_details(const MixerHandle& handle, MixerControlDetails& details,
                                  DetailsQuery query) override {
    Session* session = find_session(handle);
    if (session == nullptr) return MMSYSERR_INVALHANDLE;
    if (details.cbStruct != sizeof(MixerControlDetails)) return MMSYSERR_INVALPARAM;
    Card& card = card_of(*session);
    const Control* control = find_control(card, details.dwControlID);
    if (control == nullptr) return MIXERR_INVALCONTROL;
    if (MixerResult code = check_shape(card, *control, details)) return code;
    const std::size_t items = item_count(card, *control);

    if (query == DetailsQuery::kListText) {
      if (control->kind != Kind::kCaptureList || details.cbDetails != sizeof(ListText)) {
        return MMSYSERR_INVALPARAM;
      }
      if (items > 0 && details.paDetails == nullptr) return MMSYSERR_INVALPARAM;
      auto* out = static_cast<ListText*>(details.paDetails);
      const Line& destination = card.lines[control->line];
      for (std::size_t k = 0; k < items; ++k) {
        const Line& source = card.lines[destination.sources[k]];
        out[k] = ListText{};
        out[k].dwParam1 = source.id;
        out[k].dwParam2 = source.component;
        copy_name(out[k].szName, source.name);
      }
      return MMSYSERR_NOERROR;
    }
    if (query != DetailsQuery::kValue) return MMSYSERR_INVALFLAG;
    if (details.cbDetails != sizeof(std::int32_t)) return MMSYSERR_INVALPARAM;
    const std::size_t count = items > 0 ? details.cChannels * items : details.cChannels;
    if (count > 0 && details.paDetails == nullptr) return MMSYSERR_INVALPARAM;
    if (MixerResult code = refresh(*session)) return code;

    std::vector<std::int32_t> values;
    if (MixerResult code = read_values(card, *session, *control, details.cChannels, values)) {
      return code;
    }
    for (std::size_t k = 0; k < values.size(); ++k) put_slot(details.paDetails, k, values[k]);
    return MMSYSERR_NOERROR;
  }

  MixerResult set_control_details(const MixerHandle& handle,
                                  const MixerControlDetails& details) override {
    Session* session = find_session(handle);
    if (session == nullptr) return MMSYSERR_INVALHANDLE;
    if (details.cbStruct != sizeof(MixerControlDetails)) return MMSYSERR_INVALPARAM;
    Card& card = card_of(*session);
    const Control* control = find_control(card, details.dwControlID);
    if (control == nullptr) return MIXERR_INVALCONTROL;
    if (MixerResult code = check_shape(card, *control, details)) return code;
    if (details.cbDetails != sizeof(std::int32_t)) return MMSYSERR_INVALPARAM;
    const std::size_t items = item_count(card, *control);
    const std::size_t count = items > 0 ? details.cChannels * items : details.cChannels;
    if (count > 0 && details.paDetails == nullptr) return MMSYSERR_INVALPARAM;

    // Only the first block of a list write counts.
    std::vector<std::int32_t> values(items > 0 ? items : details.cChannels);
    for (std::size_t k = 0; k < values.size(); ++k) {
      values[k] = slot<std::int32_t>(details.paDetails, k);
    }
    if (!acceptable(card, *control, values)) return MIXERR_INVALVALUE;
    if (MixerResult code = refresh(*session)) return code;
    MixerResult result = write_values(card, *session, *control, values);
    // Whatever reached the card, every handle reads it afresh from now on.
    ++card.generation;
    return result;
  }

 protected:
  MixerResult close(std::uintptr_t handle) override {
    auto found = sessions_.find(handle);
    if (found == sessions_.end()) return MMSYSERR_INVALHANDLE;
    close_session(found->second);
    sessions_.erase(found);
    return MMSYSERR_NOERROR;
  }

 private:
  Session* find_session(const MixerHandle& handle) {
    if (!handle.is_open() || handle.service() != this) return nullptr;
    auto found = sessions_.find(handle.id());
    return found == sessions_.end() ? nullptr : &found->second;
  }

  Card& card_of(const Session& session) { return *cards_[session.device]; }

  static const Control* find_control(const Card& card, std::uint32_t id) {
    auto found = card.control_by_id.find(id);
    return found == card.control_by_id.end() ? nullptr : &card.controls[found->second];
  }

  static std::size_t item_count(const Card& card, const Control& control) {
    if (control.kind != Kind::kCaptureList) return 0;
    return card.lines[control.line].sources.size();
  }

  static MixerResult check_shape(const Card& card, const Control& control,
                                 const MixerControlDetails& details) {
    const std::uint32_t channels = card.lines[control.line].channels;
    if (details.cChannels != 1 && (details.cChannels == 0 || details.cChannels != channels)) {
      return MMSYSERR_INVALPARAM;
    }
    if (details.cMultipleItems != item_count(card, control)) return MMSYSERR_INVALPARAM;
    return MMSYSERR_NOERROR;
  }

  // Reloads the handle's mixer when a write was made since it loaded.
  MixerResult refresh(Session& session) {
    const Card& card = card_of(session);
    if (session.mixer != nullptr && session.generation == card.generation) {
      return MMSYSERR_NOERROR;
    }
    // Unloading and loading the elements again reads every value afresh and
    // keeps the device open; a device that no longer loads is reopened.
    if (session.mixer != nullptr) {
      snd_mixer_free(session.mixer);
      if (snd_mixer_load(session.mixer) < 0) close_session(session);
    }
    if (session.mixer == nullptr &&
        open_simple_mixer(devices_[session.device], session.mixer) < 0) {
      return MMSYSERR_ERROR;
    }
    find_elements(card, session);
    session.generation = card.generation;
    return MMSYSERR_NOERROR;
  }

  static void fill_line(const Card& card, const Line& source, MixerLine& line) {
    constexpr std::uint32_t kLineActive = 0x00000001;
    constexpr std::uint32_t kLineSource = 0x80000000;
    std::uintptr_t user = line.dwUser;
    line = MixerLine{};
    line.dwUser = user;
    line.dwDestination = source.destination;
    line.dwSource = source.is_destination ? 0 : source.source;
    line.dwLineID = source.id;
    line.fdwLine = source.is_destination ? kLineActive : (kLineActive | kLineSource);
    line.dwComponentType = source.component;
    line.cChannels = source.channels;
    line.cConnections = static_cast<std::uint32_t>(source.sources.size());
    line.cControls = static_cast<std::uint32_t>(source.controls.size());
    copy_name(line.szShortName, source.name);
    copy_name(line.szName, source.name);
    copy_name(line.Target.szPname, card.product);
  }

  static void fill_control(const Card& card, const Control& control, MixerControl& out) {
    out = MixerControl{};
    out.dwControlID = control.id;
    out.dwControlType = control.type;
    if (control.uniform) out.fdwControl |= ctrl::kFlagUniform;
    if (control.kind == Kind::kCaptureList) {
      out.fdwControl |= ctrl::kFlagMultiple;
      out.cMultipleItems = static_cast<std::uint32_t>(item_count(card, control));
    }
    copy_name(out.szShortName, control.name);
    copy_name(out.szName, control.name);
    out.Bounds.lMinimum = control.min;
    out.Bounds.lMaximum = control.max;
    out.Metrics.cSteps = control.steps;
  }

  // The ALSA channel that slot `k` of a read or write of `slots` channels
  // stands for.
  static snd_mixer_selem_channel_id_t channel_of(const Control& control, std::size_t k,
                                                 std::size_t slots) {
    if (slots == 1 || control.uniform || k >= control.channels) return SND_MIXER_SCHN_FRONT_LEFT;
    return static_cast<snd_mixer_selem_channel_id_t>(k);
  }

  MixerResult read_values(const Card& card, const Session& session, const Control& control,
                          std::size_t slots, std::vector<std::int32_t>& values) const {
    values.clear();
    if (control.kind == Kind::kCaptureList) {
      const Line& destination = card.lines[control.line];
      std::vector<std::int32_t> items;
      for (std::size_t line : destination.sources) {
        const std::size_t element = card.lines[line].element;
        int on = 0;
        if (card.elements[element].cswitch) {
          snd_mixer_elem_t* elem = session.elements[element];
          if (elem == nullptr ||
              snd_mixer_selem_get_capture_switch(elem, SND_MIXER_SCHN_FRONT_LEFT, &on) < 0) {
            return MMSYSERR_ERROR;
          }
        }
        items.push_back(on != 0 ? 1 : 0);
      }
      for (std::size_t b = 0; b < slots; ++b) values.insert(values.end(), items.begin(), items.end());
      return MMSYSERR_NOERROR;
    }
    snd_mixer_elem_t* elem = session.elements[control.element];
    if (elem == nullptr) return MMSYSERR_ERROR;
    for (std::size_t k = 0; k < slots; ++k) {
      const snd_mixer_selem_channel_id_t channel = channel_of(control, k, slots);
      long raw = 0;
      int on = 0;
      unsigned item = 0;
      int error = 0;
      std::int32_t value = 0;
      switch (control.kind) {
        case Kind::kPlaybackVolume:
          error = snd_mixer_selem_get_playback_volume(elem, channel, &raw);
          value = control.scale.to_shown(raw);
          break;
        case Kind::kCaptureVolume:
          error = snd_mixer_selem_get_capture_volume(elem, channel, &raw);
          value = control.scale.to_shown(raw);
          break;
        case Kind::kPlaybackMute:
          error = snd_mixer_selem_get_playback_switch(elem, channel, &on);
          value = on != 0 ? 0 : 1;
          break;
        case Kind::kCaptureMute:
          error = snd_mixer_selem_get_capture_switch(elem, channel, &on);
          value = on != 0 ? 0 : 1;
          break;
        case Kind::kSwitch:
          error = snd_mixer_selem_get_playback_switch(elem, channel, &on);
          value = on != 0 ? 1 : 0;
          break;
        case Kind::kEnum:
          error = snd_mixer_selem_get_enum_item(elem, channel, &item);
          value = static_cast<std::int32_t>(item);
          break;
        case Kind::kCaptureList:
          break;
      }
      if (error < 0) return MMSYSERR_ERROR;
      values.push_back(value);
    }
    return MMSYSERR_NOERROR;
  }

  // Whether the control takes `values` (per channel, or per item for the
  // capture list) as a whole.
  static bool acceptable(const Card& card, const Control& control,
                         const std::vector<std::int32_t>& values) {
    if (control.kind != Kind::kCaptureList) {
      for (std::int32_t value : values) {
        if (value < control.min || value > control.max) return false;
      }
      return true;
    }
    const Line& destination = card.lines[control.line];
    std::size_t selected = 0;
    std::map<int, std::size_t> selected_in_group;
    for (std::size_t k = 0; k < values.size(); ++k) {
      if (values[k] != 0 && values[k] != 1) return false;
      const Element& e = card.elements[card.lines[destination.sources[k]].element];
      if (!e.cswitch && values[k] != 0) return false;
      selected += static_cast<std::size_t>(values[k]);
      if (e.cswitch && e.cswitch_exclusive) selected_in_group[e.cgroup] += values[k];
    }
    // An exclusive group (one enumeration underneath) has always exactly one
    // source selected.
    for (const auto& [group, count] : selected_in_group) {
      if (count != 1) return false;
    }
    return control.type != ctrl::kMux || selected == 1;
  }

  MixerResult write_values(const Card& card, const Session& session, const Control& control,
                           const std::vector<std::int32_t>& values) const {
    if (control.kind == Kind::kCaptureList) {
      const Line& destination = card.lines[control.line];
      for (std::size_t k = 0; k < values.size(); ++k) {
        const std::size_t element = card.lines[destination.sources[k]].element;
        const Element& e = card.elements[element];
        if (!e.cswitch) continue;
        // An exclusive switch is turned on to select its source; the others
        // of its group go off with it.
        if (e.cswitch_exclusive && values[k] == 0) continue;
        snd_mixer_elem_t* elem = session.elements[element];
        if (elem == nullptr) return MMSYSERR_ERROR;
        int error = snd_mixer_selem_set_capture_switch_all(elem, values[k]);
        if (error < 0) return write_error(error);
      }
      return MMSYSERR_NOERROR;
    }
    snd_mixer_elem_t* elem = session.elements[control.element];
    if (elem == nullptr) return MMSYSERR_ERROR;
    // One value for the whole control, or one per ALSA channel.
    const bool whole = values.size() == 1 || control.uniform;
    const std::size_t writes = whole ? 1 : std::min<std::size_t>(values.size(), control.channels);
    for (std::size_t k = 0; k < writes; ++k) {
      const auto channel = static_cast<snd_mixer_selem_channel_id_t>(k);
      const std::int32_t value = values[k];
      long long raw = 0;
      int error = 0;
      switch (control.kind) {
        case Kind::kPlaybackVolume:
          control.scale.to_raw(value, raw);
          error = whole ? snd_mixer_selem_set_playback_volume_all(elem, static_cast<long>(raw))
                        : snd_mixer_selem_set_playback_volume(elem, channel, static_cast<long>(raw));
          break;
        case Kind::kCaptureVolume:
          control.scale.to_raw(value, raw);
          error = whole ? snd_mixer_selem_set_capture_volume_all(elem, static_cast<long>(raw))
                        : snd_mixer_selem_set_capture_volume(elem, channel, static_cast<long>(raw));
          break;
        case Kind::kPlaybackMute:
          error = whole ? snd_mixer_selem_set_playback_switch_all(elem, value == 0)
                        : snd_mixer_selem_set_playback_switch(elem, channel, value == 0);
          break;
        case Kind::kCaptureMute:
          error = whole ? snd_mixer_selem_set_capture_switch_all(elem, value == 0)
                        : snd_mixer_selem_set_capture_switch(elem, channel, value == 0);
          break;
        case Kind::kSwitch:
          error = snd_mixer_selem_set_playback_switch_all(elem, value != 0);
          break;
        case Kind::kEnum:
          for (unsigned c = 0; c < control.channels && error >= 0; ++c) {
            error = snd_mixer_selem_set_enum_item(elem, static_cast<snd_mixer_selem_channel_id_t>(c),
                                                  static_cast<unsigned>(value));
          }
          break;
        case Kind::kCaptureList:
          break;
      }
      if (error < 0) return write_error(error);
    }
    return MMSYSERR_NOERROR;
  }

  std::vector<std::string> devices_;
  std::vector<std::unique_ptr<Card>> cards_;  // built at a device's first open
  std::unordered_map<std::uintptr_t, Session> sessions_;
  std::uintptr_t next_handle_ = 1;
};

// ---- Component types by name ----------------------------------------------

std::string lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

std::vector<std::string> words_of(const std::string& name) {
  std::vector<std::string> words;
  std::string word;
  for (char c : name) {
    if (c == ' ' || c == '-' || c == '_') {
      if (!word.empty()) words.push_back(lower(word));
      word.clear();
    } else {
      word += c;
    }
  }
  if (!word.empty()) words.push_back(lower(word));
  return words;
}

// Whether `word` is `key`, or `key` followed by digits ("mic2").
bool word_matches(const std::string& word, const std::string& key) {
  if (word.compare(0, key.size(), key) != 0) return false;
  return std::all_of(word.begin() + static_cast<std::ptrdiff_t>(key.size()), word.end(),
                     [](char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; });
}

}  // namespace

std::uint32_t alsa_source_component_type(const std::string& name) {
  struct Match {
    std::vector<std::string> words;
    std::uint32_t type;
  };
  static const std::vector<Match> kMatches = {
      {{"pcm"}, 0x1008},        {{"mic"}, 0x1003},   {{"microphone"}, 0x1003},
      {{"cd"}, 0x1005},         {{"line"}, 0x1002},  {{"synth"}, 0x1004},
      {{"pc", "speaker"}, 0x1007}, {{"beep"}, 0x1007}, {{"phone"}, 0x1006},
      {{"aux"}, 0x1009},
  };
  const std::vector<std::string> words = words_of(name);
  for (std::size_t at = 0; at < words.size(); ++at) {
    for (const Match& match : kMatches) {
      if (at + match.words.size() > words.size()) continue;
      bool all = true;
      for (std::size_t w = 0; w < match.words.size() && all; ++w) {
        const std::string& word = words[at + w];
        all = w + 1 < match.words.size() ? word == match.words[w]
                                         : word_matches(word, match.words[w]);
      }
      if (all) return match.type;
    }
  }
  return kComponentSrcUndefined;
}

std::vector<std::string> alsa_card_devices() {
  silence_alsa();
  std::vector<std::string> devices;
  int card = -1;
  while (snd_card_next(&card) == 0 && card >= 0) devices.push_back("hw:" + std::to_string(card));
  return devices;
}

bool probe_alsa_device(const std::string& name, std::string& error) {
  silence_alsa();
  snd_ctl_t* ctl = nullptr;
  int result = snd_ctl_open(&ctl, name.c_str(), 0);
  if (result < 0) {
    error = "cannot open the ALSA control device \"" + name + "\": " + snd_strerror(result);
    return false;
  }
  snd_ctl_close(ctl);
  return true;
}

std::unique_ptr<MixerService> make_alsa_mixer(std::vector<std::string> devices) {
  return std::make_unique<AlsaMixer>(std::move(devices));
}

}  // namespace quorvel
