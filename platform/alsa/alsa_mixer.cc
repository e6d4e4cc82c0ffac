#include "platform/alsa/alsa_mixer.h"

#include <algorithm>
#include <map>
#include <span>
#include <utility>

#include "platform/alsa/alsa_card.h"
#include "platform/alsa/alsa_device.h"
#include "platform/alsa/alsa_lib.h"
#include "platform/mixer/control_bounds.h"
#include "platform/mixer/model_mixer.h"

namespace quorvel {
namespace {

using namespace alsa;

// ---- The mixer -------------------------------------------------------------

// Every call about a device shares the device, opened and loaded at its
// first description: a run opens each card once.
class AlsaMixer final : public ModelMixer {
 public:
  explicit AlsaMixer(std::vector<std::string> devices)
      : devices_(std::move(devices)), cards_(devices_.size()) {}
  // The one device `name`, opened already.
  AlsaMixer(std::string name, std::unique_ptr<CardDevice> card) : devices_{std::move(name)} {
    cards_.push_back(std::move(card));
    set_layout(0, build_card_layout(cards_[0]->card()));
  }

 private:
  unsigned device_count() override { return static_cast<unsigned>(devices_.size()); }

  MixerResult load_device(unsigned device) override {
    if (!alsa_lib() || CardDevice::open(devices_[device], cards_[device]) < 0) {
      return kMixerGone;
    }
    set_layout(device, build_card_layout(cards_[device]->card()));
    return kMixerOk;
  }

  MixerResult read_values(unsigned device, const ModelControl& control,
                          std::span<std::int32_t> values) override {
    return read_control(device, control, values);
  }

  MixerResult write_values(unsigned device, ModelControl& model,
                           std::span<const std::int32_t> values) override {
    CardDevice& card = *cards_[device];
    const Control& control = card.card().controls[model.key];
    if (!capture_list_takes(device, model, values)) return kMixerRefused;
    bool beyond_range = false;
    if (model.device_bounds && !volume_takes(model, control, values, beyond_range)) {
      return kMixerRefused;
    }
    if (control.kind == Kind::kCaptureList) return write_capture_list(device, model, values);
    // Values beyond the declared range go to the element itself, through
    // its control element (the simple mixer API passes over them without a
    // word); once taken, the control's bounds cover what the element then
    // holds (a driver may clamp them to its range without a word).
    const Part part = part_of(control.kind);
    if (beyond_range && !card.writes_directly(control.element, part)) return kMixerRefused;
    std::vector<long> raws;
    for (std::int32_t value : values) raws.push_back(raw_of(control, value));
    if (int error = card.write(control.element, part, raws); error < 0) {
      return write_error(error);
    }
    if (beyond_range) {
      std::vector<std::int32_t> held(values.size());
      if (read_control(device, model, held) != kMixerOk) return kMixerFailed;
      cover_values(model.min, model.max, held);
    }
    return kMixerOk;
  }

  // Whether a volume takes `values`: those within its bounds, and those
  // beyond that stand for raw values beyond the element's declared range,
  // which the element itself then keeps or refuses (`beyond_range` set). A
  // value beyond the bounds whose raw value lies within the range (65536 on
  // a range mapped onto 0..65535) is simply out of bounds.
  static bool volume_takes(const ModelControl& model, const Control& control,
                           std::span<const std::int32_t> values, bool& beyond_range) {
    for (std::int32_t value : values) {
      const bool in_bounds = within_bounds(model.min, model.max, value);
      const bool held = control.scale.holds(control.scale.raw_of(value));
      if (!in_bounds && held) return false;
      if (!held) beyond_range = true;
    }
    return true;
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
  MixerResult read_control(unsigned device, const ModelControl& model,
                           std::span<std::int32_t> values) {
    CardDevice& card = *cards_[device];
    const Control& control = card.card().controls[model.key];
    if (control.kind == Kind::kCaptureList) {
      const std::vector<ModelLine>& lines = layout(device)->lines;
      const ModelLine& destination = lines[model.line];
      for (std::size_t k = 0; k < values.size(); ++k) {
        const std::size_t element = lines[destination.sources[k]].key;
        long on = 0;
        if (card.card().elements[element].cswitch) {
          if (int error = card.read(element, Part::kCaptureSwitch, 0, on); error < 0) {
            return read_error(error);
          }
        }
        values[k] = on != 0 ? 1 : 0;
      }
      return kMixerOk;
    }
    const Part part = part_of(control.kind);
    for (std::size_t k = 0; k < values.size(); ++k) {
      const bool first = values.size() == 1 || model.uniform || k >= control.channels;
      long raw = 0;
      if (int error = card.read(control.element, part, first ? 0 : static_cast<unsigned>(k), raw);
          error < 0) {
        return read_error(error);
      }
      values[k] = shown_of(control, raw);
    }
    return kMixerOk;
  }

  // Whether the capture list takes the item states `values` (already 0 or 1,
  // a MUX's with exactly one selected) as a whole: a source without a
  // capture switch cannot be selected, and an exclusive group (one
  // enumeration underneath) always has exactly one source selected. Other
  // controls take any value within their bounds.
  bool capture_list_takes(unsigned device, const ModelControl& model,
                          std::span<const std::int32_t> values) {
    if (!model.list) return true;
    const std::vector<ModelLine>& lines = layout(device)->lines;
    const ModelLine& destination = lines[model.line];
    std::map<int, std::size_t> selected_in_group;
    for (std::size_t k = 0; k < values.size(); ++k) {
      const Element& e = cards_[device]->card().elements[lines[destination.sources[k]].key];
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
  MixerResult write_capture_list(unsigned device, const ModelControl& model,
                                 std::span<const std::int32_t> values) {
    const std::vector<ModelLine>& lines = layout(device)->lines;
    const ModelLine& destination = lines[model.line];
    CardDevice& card = *cards_[device];
    for (std::size_t k = 0; k < values.size(); ++k) {
      const std::size_t element = lines[destination.sources[k]].key;
      const Element& e = card.card().elements[element];
      if (!e.cswitch || (e.cswitch_exclusive && values[k] == 0)) continue;
      if (int error = card.select_capture(element, values[k] != 0); error < 0) {
        return write_error(error);
      }
    }
    return kMixerOk;
  }

  std::vector<std::string> devices_;
  std::vector<std::unique_ptr<CardDevice>> cards_;  // opened at a device's first description
};

}  // namespace

Result load_alsa() {
  const Expected<const AlsaLib*> loaded = alsa_lib();
  if (!loaded) return Result::failure_of(loaded);
  return Result();
}

std::vector<std::string> alsa_card_devices() {
  std::vector<std::string> devices;
  if (!alsa_lib()) return devices;
  int card = -1;
  while (lib().snd_card_next(&card) == 0 && card >= 0) {
    devices.push_back("hw:" + std::to_string(card));
  }
  return devices;
}

std::string alsa_control_type(const std::string& name) {
  if (!alsa_lib()) return {};
  const auto& alsa = lib();
  snd_config_t* top = nullptr;
  if (alsa.snd_config_update_ref(&top) < 0 || top == nullptr) return {};
  std::string type;
  snd_config_t* definition = nullptr;
  if (alsa.snd_config_search_definition(top, "ctl", name.c_str(), &definition) >= 0) {
    snd_config_t* field = nullptr;
    const char* text = nullptr;
    if (alsa.snd_config_search(definition, "type", &field) >= 0 &&
        alsa.snd_config_get_string(field, &text) >= 0 && text != nullptr) {
      type = text;
    }
    alsa.snd_config_delete(definition);
  }
  alsa.snd_config_unref(top);
  return type;
}

Expected<std::unique_ptr<Mixer>> open_alsa_mixer(const std::string& name) {
  if (Result loaded = load_alsa(); !loaded) return loaded.error();
  std::unique_ptr<CardDevice> card;
  if (int error = CardDevice::open(name, card); error < 0) {
    return Error{"cannot open the ALSA control device \"" + name +
                 "\": " + lib().snd_strerror(error)};
  }
  return std::unique_ptr<Mixer>(std::make_unique<AlsaMixer>(name, std::move(card)));
}

std::unique_ptr<Mixer> make_alsa_mixer(std::vector<std::string> devices) {
  return std::make_unique<AlsaMixer>(std::move(devices));
}

}  // namespace quorvel
