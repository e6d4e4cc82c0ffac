#include "platform/alsa/alsa_card.h"

#include <algorithm>
#include <map>
#include <utility>

#include "platform/alsa/alsa_names.h"

namespace quorvel::alsa {
namespace {

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
    // The bounds cover what the element held beyond its declared range.
    c.min = std::min(c.scale.shown_min(), c.scale.to_shown(playback ? e.pheld_min : e.cheld_min));
    c.max = std::max(c.scale.shown_max(), c.scale.to_shown(playback ? e.pheld_max : e.cheld_max));
    c.device_bounds = true;
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
        c.uniform = true;
      } else {
        // A switch whose channels are not joined keeps them apart.
        Control& c = add_control(line, ctrl::kOnOff, e.label, Kind::kSwitch, k);
        c.max = 1;
        c.channels = e.pchannels;
        c.uniform = c.channels == 1 || e.pswitch_joined;
      }
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

}  // namespace

void build_card_layout(Card& card) { CardBuilder(card).build(); }

}  // namespace quorvel::alsa
