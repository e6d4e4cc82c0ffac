#include "platform/alsa/alsa_mixer.h"

#include <alsa/asoundlib.h>

#include <algorithm>
#include <map>
#include <span>
#include <utility>

#include "platform/alsa/alsa_card.h"
#include "platform/alsa/alsa_lib.h"
#include "platform/mixer/model_mixer.h"

namespace quorvel {
namespace {

using namespace alsa;

// ---- Handles --------------------------------------------------------------

// An open handle: a simple mixer loaded on the device, and the card's
// elements found in it.
struct Session : CheckedMixer::OpenDevice {
  ~Session() override { close(); }
  void close() {
    if (mixer != nullptr) snd_mixer_close(mixer);
    mixer = nullptr;
    elements.clear();
  }

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

// ---- The service -------------------------------------------------------------

class AlsaMixer final : public ModelMixer {
 public:
  explicit AlsaMixer(std::vector<std::string> devices)
      : devices_(std::move(devices)), cards_(devices_.size()) {
    silence_alsa();
  }

 private:
  unsigned do_device_count() override { return static_cast<unsigned>(devices_.size()); }

  MixerResult do_open(unsigned device, std::unique_ptr<OpenDevice>& out) override {
    auto session = std::make_unique<Session>();
    if (open_simple_mixer(devices_[device], session->mixer) < 0) return MMSYSERR_NODRIVER;
    if (!cards_[device]) cards_[device] = read_card(session->mixer, devices_[device]);
    const Card& card = *cards_[device];
    find_elements(card, *session);
    session->generation = card.generation;
    out = std::move(session);
    return MMSYSERR_NOERROR;
  }

  ModelDevice describe_device(OpenDevice& open) override {
    const Card& card = card_of(open);
    return ModelDevice{card.product, static_cast<std::uint32_t>(card.destinations.size())};
  }

  bool find_destination(OpenDevice& open, std::uint32_t destination, ModelLine& out) override {
    const Card& card = card_of(open);
    if (destination >= card.destinations.size()) return false;
    describe_line(card, card.destinations[destination], out);
    return true;
  }

  bool find_source(OpenDevice& open, std::uint32_t destination, std::uint32_t source,
                   ModelLine& out) override {
    const Card& card = card_of(open);
    if (destination >= card.destinations.size()) return false;
    const Line& line = card.lines[card.destinations[destination]];
    if (source >= line.sources.size()) return false;
    describe_line(card, line.sources[source], out);
    return true;
  }

  bool find_line(OpenDevice& open, std::uint32_t line_id, ModelLine& out) override {
    const Card& card = card_of(open);
    auto found = card.line_by_id.find(line_id);
    if (found == card.line_by_id.end()) return false;
    describe_line(card, found->second, out);
    return true;
  }

  void line_control(OpenDevice& open, const ModelLine& line, std::uint32_t index,
                    ModelControl& out) override {
    const Card& card = card_of(open);
    describe_control(card, card.lines[line.key].controls[index], out);
  }

  bool find_control(OpenDevice& open, std::uint32_t control_id, ModelControl& out) override {
    const Card& card = card_of(open);
    auto found = card.control_by_id.find(control_id);
    if (found == card.control_by_id.end()) return false;
    describe_control(card, found->second, out);
    return true;
  }

  // Item k of the capture list is source k of its destination.
  ModelItem list_item(OpenDevice& open, const ModelControl& control,
                      std::uint32_t item) override {
    const Card& card = card_of(open);
    const Line& source = card.lines[card.lines[control.line_key].sources[item]];
    return ModelItem{source.name, source.id, source.component};
  }

  MixerResult read_values(OpenDevice& open, const ModelControl& model,
                          std::span<std::int32_t> values) override {
    Session& session = static_cast<Session&>(open);
    if (MixerResult code = refresh(session)) return code;
    const Card& card = card_of(session);
    return read_control(card, session, card.controls[model.key], values);
  }

  MixerResult write_values(OpenDevice& open, const ModelControl& model,
                           std::span<const std::int32_t> values) override {
    Session& session = static_cast<Session&>(open);
    Card& card = card_of(session);
    Control& control = card.controls[model.key];
    if (!capture_list_takes(card, control, values)) return MIXERR_INVALVALUE;
    bool beyond_range = false;
    if (control.device_bounds && !volume_takes(control, values, beyond_range)) {
      return MIXERR_INVALVALUE;
    }
    if (MixerResult code = refresh(session)) return code;
    MixerResult result = beyond_range ? write_beyond_range(card, session, control, values)
                                      : write_control(card, session, control, values);
    // Whatever reached the card, every handle reads it afresh from now on.
    ++card.generation;
    return result;
  }

  // Whether a volume takes `values`: those within its bounds, and those
  // beyond that stand for raw values beyond the element's declared range,
  // which the element itself then keeps or refuses (`beyond_range` set). A
  // value beyond the bounds whose raw value lies within the range (65536 on
  // a range mapped onto 0..65535) is simply out of bounds.
  static bool volume_takes(const Control& control, std::span<const std::int32_t> values,
                           bool& beyond_range) {
    for (std::int32_t value : values) {
      const bool in_bounds = control.min <= value && value <= control.max;
      const bool held = control.scale.holds(control.scale.raw_of(value));
      if (!in_bounds && held) return false;
      if (!held) beyond_range = true;
    }
    return true;
  }

  // Writes volumes of which some lie beyond the element's declared range
  // through the control API (the simple mixer API passes over such values
  // without a word); once taken, the control's bounds cover them.
  MixerResult write_beyond_range(const Card& card, const Session& session, Control& control,
                                 std::span<const std::int32_t> values) {
    const Element& e = card.elements[control.element];
    const bool playback = control.kind == Kind::kPlaybackVolume;
    snd_hctl_elem_t* element =
        find_control_element(session.mixer, devices_[session.device], e, playback, true);
    if (element == nullptr) return MIXERR_INVALVALUE;
    std::vector<long long> raws;
    for (std::int32_t value : values) raws.push_back(control.scale.raw_of(value));
    if (int error = write_raw_values(element, raws); error < 0) return write_error(error);
    for (std::int32_t value : values) {
      control.min = std::min(control.min, value);
      control.max = std::max(control.max, value);
    }
    return MMSYSERR_NOERROR;
  }

  Card& card_of(const OpenDevice& open) { return *cards_[open.device]; }

  static void describe_line(const Card& card, std::size_t index, ModelLine& out) {
    const Line& line = card.lines[index];
    out = ModelLine{};
    out.key = index;
    out.id = line.id;
    out.destination = line.destination;
    out.is_source = !line.is_destination;
    out.source = line.source;
    out.component_type = line.component;
    out.channels = line.channels;
    out.connections = static_cast<std::uint32_t>(line.sources.size());
    out.controls = static_cast<std::uint32_t>(line.controls.size());
    out.name = line.name;
  }

  static void describe_control(const Card& card, std::size_t index, ModelControl& out) {
    const Control& control = card.controls[index];
    const Line& line = card.lines[control.line];
    out = ModelControl{};
    out.key = index;
    out.line_key = control.line;
    out.id = control.id;
    out.type = control.type;
    out.name = control.name;
    out.min = control.min;
    out.max = control.max;
    out.steps = control.steps;
    out.uniform = control.uniform;
    out.device_bounds = control.device_bounds;
    out.list = control.kind == Kind::kCaptureList;
    out.items = out.list ? static_cast<std::uint32_t>(line.sources.size()) : 0;
    out.line_id = line.id;
    out.line_channels = line.channels;
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
      if (snd_mixer_load(session.mixer) < 0) session.close();
    }
    if (session.mixer == nullptr &&
        open_simple_mixer(devices_[session.device], session.mixer) < 0) {
      return MMSYSERR_ERROR;
    }
    find_elements(card, session);
    session.generation = card.generation;
    return MMSYSERR_NOERROR;
  }

  // The ALSA channel that slot `k` of a read or write of `slots` channels
  // stands for.
  static snd_mixer_selem_channel_id_t channel_of(const Control& control, std::size_t k,
                                                 std::size_t slots) {
    if (slots == 1 || control.uniform || k >= control.channels) return SND_MIXER_SCHN_FRONT_LEFT;
    return static_cast<snd_mixer_selem_channel_id_t>(k);
  }

  // Reads one value per slot, or the capture list's item states.
  static MixerResult read_control(const Card& card, const Session& session,
                                  const Control& control, std::span<std::int32_t> values) {
    if (control.kind == Kind::kCaptureList) {
      const Line& destination = card.lines[control.line];
      for (std::size_t k = 0; k < values.size(); ++k) {
        const std::size_t element = card.lines[destination.sources[k]].element;
        int on = 0;
        if (card.elements[element].cswitch) {
          snd_mixer_elem_t* elem = session.elements[element];
          if (elem == nullptr ||
              snd_mixer_selem_get_capture_switch(elem, SND_MIXER_SCHN_FRONT_LEFT, &on) < 0) {
            return MMSYSERR_ERROR;
          }
        }
        values[k] = on != 0 ? 1 : 0;
      }
      return MMSYSERR_NOERROR;
    }
    snd_mixer_elem_t* elem = session.elements[control.element];
    if (elem == nullptr) return MMSYSERR_ERROR;
    for (std::size_t k = 0; k < values.size(); ++k) {
      const snd_mixer_selem_channel_id_t channel = channel_of(control, k, values.size());
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
      values[k] = value;
    }
    return MMSYSERR_NOERROR;
  }

  // Whether the capture list takes the item states `values` (already 0 or 1,
  // a MUX's with exactly one selected) as a whole: a source without a
  // capture switch cannot be selected, and an exclusive group (one
  // enumeration underneath) always has exactly one source selected. Other
  // controls take any value within their bounds.
  static bool capture_list_takes(const Card& card, const Control& control,
                                 std::span<const std::int32_t> values) {
    if (control.kind != Kind::kCaptureList) return true;
    const Line& destination = card.lines[control.line];
    std::map<int, std::size_t> selected_in_group;
    for (std::size_t k = 0; k < values.size(); ++k) {
      const Element& e = card.elements[card.lines[destination.sources[k]].element];
      if (!e.cswitch && values[k] != 0) return false;
      if (e.cswitch && e.cswitch_exclusive) selected_in_group[e.cgroup] += values[k];
    }
    for (const auto& [group, count] : selected_in_group) {
      if (count != 1) return false;
    }
    return true;
  }

  static MixerResult write_control(const Card& card, const Session& session,
                                   const Control& control, std::span<const std::int32_t> values) {
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
      const auto raw = static_cast<long>(control.scale.raw_of(value));
      int error = 0;
      switch (control.kind) {
        case Kind::kPlaybackVolume:
          error = whole ? snd_mixer_selem_set_playback_volume_all(elem, raw)
                        : snd_mixer_selem_set_playback_volume(elem, channel, raw);
          break;
        case Kind::kCaptureVolume:
          error = whole ? snd_mixer_selem_set_capture_volume_all(elem, raw)
                        : snd_mixer_selem_set_capture_volume(elem, channel, raw);
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
          error = whole ? snd_mixer_selem_set_playback_switch_all(elem, value != 0)
                        : snd_mixer_selem_set_playback_switch(elem, channel, value != 0);
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
};

}  // namespace

std::vector<std::string> alsa_card_devices() {
  silence_alsa();
  std::vector<std::string> devices;
  int card = -1;
  while (snd_card_next(&card) == 0 && card >= 0) devices.push_back("hw:" + std::to_string(card));
  return devices;
}

Result probe_alsa_device(const std::string& name) {
  silence_alsa();
  snd_ctl_t* ctl = nullptr;
  int result = snd_ctl_open(&ctl, name.c_str(), 0);
  if (result < 0) {
    return Result::failure("cannot open the ALSA control device \"" + name +
                           "\": " + snd_strerror(result));
  }
  snd_ctl_close(ctl);
  return Result();
}

std::unique_ptr<MixerService> make_alsa_mixer(std::vector<std::string> devices) {
  return std::make_unique<AlsaMixer>(std::move(devices));
}

}  // namespace quorvel
