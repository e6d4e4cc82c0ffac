#include "platform/alsa/alsa_mixer.h"

#include <algorithm>
#include <map>
#include <span>
#include <utility>

#include "platform/alsa/alsa_card.h"
#include "platform/alsa/alsa_device.h"
#include "platform/alsa/alsa_lib.h"
#include "platform/mixer/model_mixer.h"

namespace quorvel {
namespace {

using namespace alsa;

// ---- The service -------------------------------------------------------------

// Every handle of a device shares the device, opened and loaded at its
// first handle: a run opens each card once.
class AlsaMixer final : public ModelMixer {
 public:
  explicit AlsaMixer(std::vector<std::string> devices)
      : devices_(std::move(devices)), cards_(devices_.size()) {}
  // The one device `name`, opened already.
  AlsaMixer(std::string name, std::unique_ptr<CardDevice> card) : devices_{std::move(name)} {
    cards_.push_back(std::move(card));
  }

 private:
  unsigned do_device_count() override { return static_cast<unsigned>(devices_.size()); }

  MixerResult do_open(unsigned device, std::unique_ptr<OpenDevice>& out) override {
    if (!cards_[device] &&
        (alsa_lib() == nullptr || CardDevice::open(devices_[device], cards_[device]) < 0)) {
      return MMSYSERR_NODRIVER;
    }
    out = std::make_unique<OpenDevice>();
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
    CardDevice& device = device_of(open);
    return read_control(device, device.card().controls[model.key], values);
  }

  MixerResult write_values(OpenDevice& open, const ModelControl& model,
                           std::span<const std::int32_t> values) override {
    CardDevice& device = device_of(open);
    const Card& card = device.card();
    Control& control = device.card().controls[model.key];
    if (!capture_list_takes(card, control, values)) return MIXERR_INVALVALUE;
    bool beyond_range = false;
    if (control.device_bounds && !volume_takes(control, values, beyond_range)) {
      return MIXERR_INVALVALUE;
    }
    if (control.kind == Kind::kCaptureList) return write_capture_list(device, control, values);
    // Values beyond the declared range go to the element itself, through
    // its control element (the simple mixer API passes over them without a
    // word); once taken, the control's bounds cover what the element then
    // holds (a driver may clamp them to its range without a word).
    const Part part = part_of(control.kind);
    if (beyond_range && !device.writes_directly(control.element, part)) return MIXERR_INVALVALUE;
    std::vector<long> raws;
    for (std::int32_t value : values) raws.push_back(raw_of(control, value));
    if (int error = device.write(control.element, part, raws); error < 0) {
      return write_error(error);
    }
    if (beyond_range) {
      std::vector<std::int32_t> held(values.size());
      if (read_control(device, control, held) != MMSYSERR_NOERROR) return MMSYSERR_ERROR;
      for (std::int32_t value : held) {
        control.min = std::min(control.min, value);
        control.max = std::max(control.max, value);
      }
    }
    return MMSYSERR_NOERROR;
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

  CardDevice& device_of(const OpenDevice& open) { return *cards_[open.device]; }
  Card& card_of(const OpenDevice& open) { return device_of(open).card(); }

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

  // The part of an element a control stands for.
  static Part part_of(Kind kind) {
    switch (kind) {
      case Kind::kPlaybackVolume: return Part::kPlaybackVolume;
      case Kind::kCaptureVolume: return Part::kCaptureVolume;
      case Kind::kPlaybackMute:
      case Kind::kSwitch: return Part::kPlaybackSwitch;
      case Kind::kCaptureMute: return Part::kCaptureSwitch;
      case Kind::kEnum:
      case Kind::kCaptureList: break;
    }
    return Part::kEnum;
  }

  // The value shown for a raw value of the control's part, and back: a
  // volume on its scale, MUTE the inverse of the switch.
  static std::int32_t shown_of(const Control& control, long raw) {
    switch (control.kind) {
      case Kind::kPlaybackVolume:
      case Kind::kCaptureVolume: return control.scale.to_shown(raw);
      case Kind::kPlaybackMute:
      case Kind::kCaptureMute: return raw != 0 ? 0 : 1;
      case Kind::kSwitch: return raw != 0 ? 1 : 0;
      case Kind::kEnum:
      case Kind::kCaptureList: break;
    }
    return static_cast<std::int32_t>(raw);
  }

  static long raw_of(const Control& control, std::int32_t value) {
    switch (control.kind) {
      case Kind::kPlaybackVolume:
      case Kind::kCaptureVolume: return static_cast<long>(control.scale.raw_of(value));
      case Kind::kPlaybackMute:
      case Kind::kCaptureMute: return value == 0 ? 1 : 0;
      case Kind::kSwitch: return value != 0 ? 1 : 0;
      case Kind::kEnum:
      case Kind::kCaptureList: break;
    }
    return value;
  }

  // Reads one value per slot (slot k is ALSA channel k; one slot, or a
  // uniform control: the first channel), or the capture list's item states.
  static MixerResult read_control(CardDevice& device, const Control& control,
                                  std::span<std::int32_t> values) {
    const Card& card = device.card();
    if (control.kind == Kind::kCaptureList) {
      const Line& destination = card.lines[control.line];
      for (std::size_t k = 0; k < values.size(); ++k) {
        const std::size_t element = card.lines[destination.sources[k]].element;
        long on = 0;
        if (card.elements[element].cswitch &&
            device.read(element, Part::kCaptureSwitch, 0, on) < 0) {
          return MMSYSERR_ERROR;
        }
        values[k] = on != 0 ? 1 : 0;
      }
      return MMSYSERR_NOERROR;
    }
    const Part part = part_of(control.kind);
    for (std::size_t k = 0; k < values.size(); ++k) {
      const bool first = values.size() == 1 || control.uniform || k >= control.channels;
      long raw = 0;
      if (device.read(control.element, part, first ? 0 : static_cast<unsigned>(k), raw) < 0) {
        return MMSYSERR_ERROR;
      }
      values[k] = shown_of(control, raw);
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

  // Selects the capture list's sources: an exclusive one is turned on to
  // select it (the others of its group go off with it).
  static MixerResult write_capture_list(CardDevice& device, const Control& control,
                                        std::span<const std::int32_t> values) {
    const Card& card = device.card();
    const Line& destination = card.lines[control.line];
    for (std::size_t k = 0; k < values.size(); ++k) {
      const std::size_t element = card.lines[destination.sources[k]].element;
      const Element& e = card.elements[element];
      if (!e.cswitch || (e.cswitch_exclusive && values[k] == 0)) continue;
      if (int error = device.select_capture(element, values[k] != 0); error < 0) {
        return write_error(error);
      }
    }
    return MMSYSERR_NOERROR;
  }

  std::vector<std::string> devices_;
  std::vector<std::unique_ptr<CardDevice>> cards_;  // opened at a device's first handle
};

}  // namespace

Result load_alsa() {
  std::string why;
  if (alsa_lib(&why) == nullptr) return Result::failure(why);
  return Result();
}

std::vector<std::string> alsa_card_devices() {
  std::vector<std::string> devices;
  if (alsa_lib() == nullptr) return devices;
  int card = -1;
  while (lib().snd_card_next(&card) == 0 && card >= 0) {
    devices.push_back("hw:" + std::to_string(card));
  }
  return devices;
}

Result open_alsa_mixer(const std::string& name, std::unique_ptr<MixerService>& out) {
  if (Result loaded = load_alsa(); !loaded) return loaded;
  std::unique_ptr<CardDevice> card;
  if (int error = CardDevice::open(name, card); error < 0) {
    return Result::failure("cannot open the ALSA control device \"" + name +
                           "\": " + lib().snd_strerror(error));
  }
  out = std::make_unique<AlsaMixer>(name, std::move(card));
  return Result();
}

std::unique_ptr<MixerService> make_alsa_mixer(std::vector<std::string> devices) {
  return std::make_unique<AlsaMixer>(std::move(devices));
}

}  // namespace quorvel
