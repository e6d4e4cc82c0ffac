#include "platform/alsa/alsa_card.h"

#include <algorithm>
#include <limits>
#include <map>
#include <utility>

#include "platform/alsa/alsa_names.h"

namespace quorvel::alsa {
namespace {

// Builds the lines and controls of a card from its elements (see the
// header for the layout).
class CardBuilder {
 public:
  explicit CardBuilder(Card& card) : card_(card) { layout_.name = card.product; }

  ModelLayout build() {
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
        layout_.lines[d].channels = channels;
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
    name_capture_items();
    return std::move(layout_);
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

  std::size_t add_destination(std::size_t element, std::uint32_t component,
                              const char* fallback_name, bool playback) {
    ModelLine line;
    line.id = kDestinationLineBase + static_cast<std::uint32_t>(layout_.destinations.size());
    line.component_type = component;
    line.key = element;
    if (element != kNone) {
      const Element& e = card_.elements[element];
      line.name = e.label;
      line.channels = playback ? e.pchannels : e.cchannels;
    } else {
      line.name = fallback_name;
    }
    return layout_.add_destination(std::move(line));
  }

  std::size_t add_source(std::size_t destination, std::size_t element, unsigned channels) {
    ModelLine line;
    const ModelLine& owner = layout_.lines[destination];
    line.id = static_cast<std::uint32_t>(owner.sources.size()) * 65536u + owner.destination;
    line.name = card_.elements[element].label;
    line.component_type = alsa_source_component_type(card_.elements[element].name);
    line.channels = channels;
    line.key = element;
    return layout_.add_source(destination, std::move(line));
  }

  // Adds a control to `line`; `control` is what it stands for on the card.
  ModelControl& add_control(std::size_t line, std::uint32_t type, std::string name,
                            Control control) {
    ModelControl model;
    model.id = next_id_++;
    model.type = type;
    model.name = std::move(name);
    model.key = card_.controls.size();
    card_.controls.push_back(std::move(control));
    return layout_.controls[layout_.add_control(line, std::move(model))];
  }

  void add_volume(std::size_t line, std::size_t element, bool playback, std::string name) {
    const Element& e = card_.elements[element];
    Control control{playback ? Kind::kPlaybackVolume : Kind::kCaptureVolume, element,
                    playback ? AlsaVolumeScale{e.pmin, e.pmax} : AlsaVolumeScale{e.cmin, e.cmax},
                    playback ? e.pchannels : e.cchannels};
    const AlsaVolumeScale scale = control.scale;
    ModelControl& c = add_control(line, ctrl::kVolume, std::move(name), control);
    // The bounds cover what the element held beyond its declared range.
    c.min = std::min(scale.shown_min(), scale.to_shown(playback ? e.pheld_min : e.cheld_min));
    c.max = std::max(scale.shown_max(), scale.to_shown(playback ? e.pheld_max : e.cheld_max));
    c.device_bounds = true;
    const long long span = scale.max - scale.min;
    c.steps = static_cast<std::uint32_t>(
        std::clamp<long long>(span, 0, std::numeric_limits<std::uint32_t>::max()));
    c.uniform = control.channels == 1 || (playback ? e.pvolume_joined : e.cvolume_joined);
  }

  void add_mute(std::size_t line, std::size_t element, bool playback, std::string name) {
    const Element& e = card_.elements[element];
    const unsigned channels = playback ? e.pchannels : e.cchannels;
    ModelControl& c =
        add_control(line, ctrl::kMute, std::move(name),
                    Control{playback ? Kind::kPlaybackMute : Kind::kCaptureMute, element, {},
                            channels});
    c.max = 1;
    c.uniform = channels == 1 || (playback ? e.pswitch_joined : e.cswitch_joined);
  }

  void add_extras(std::size_t line, const std::vector<std::size_t>& elements) {
    for (std::size_t k : elements) {
      const Element& e = card_.elements[k];
      if (e.is_enum) {
        ModelControl& c = add_control(line, ctrl::kSingleSelect, e.label,
                                      Control{Kind::kEnum, k, {}, e.enum_channels});
        c.max = e.enum_items > 0 ? static_cast<std::int32_t>(e.enum_items - 1) : 0;
        c.steps = static_cast<std::uint32_t>(c.max);
        c.uniform = true;
      } else {
        // A switch whose channels are not joined keeps them apart.
        ModelControl& c =
            add_control(line, ctrl::kOnOff, e.label, Control{Kind::kSwitch, k, {}, e.pchannels});
        c.max = 1;
        c.uniform = e.pchannels == 1 || e.pswitch_joined;
      }
    }
  }

  // A list over the destination's sources when any of them has a capture
  // switch: MUX when those switches are exclusive within one group. Its
  // items are the sources, added after it.
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
    ModelControl& c = add_control(line, mux ? ctrl::kMux : ctrl::kMixer, "Capture Source",
                                  Control{Kind::kCaptureList, kNone, {}, 1});
    c.max = sources.empty() ? 0 : static_cast<std::int32_t>(sources.size() - 1);
    c.uniform = true;
    c.list = true;
    capture_list_ = layout_.controls.size() - 1;
  }

  // Item k of the capture list is source k of its destination.
  void name_capture_items() {
    if (capture_list_ == kNone) return;
    ModelControl& list = layout_.controls[capture_list_];
    for (std::size_t s : layout_.lines[list.line].sources) {
      const ModelLine& source = layout_.lines[s];
      list.items.push_back(ModelItem{source.name, source.id, source.component_type});
    }
  }

  Card& card_;
  ModelLayout layout_;
  std::size_t capture_list_ = kNone;  // in layout_.controls
  std::uint32_t next_id_ = 1;
};

}  // namespace

ModelLayout build_card_layout(Card& card) {
  // A volume without values takes the switch of its direction with it: a
  // sound server's plugin shows a virtual source as such a volume beside a
  // mute that always reads "on", which a restore elsewhere would copy onto
  // a real microphone.
  for (Element& e : card.elements) {
    if (e.pvolume_empty) e.pvolume = e.pswitch = false;
    if (e.cvolume_empty) e.cvolume = e.cswitch = false;
  }
  return CardBuilder(card).build();
}

}  // namespace quorvel::alsa
