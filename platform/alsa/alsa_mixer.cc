#include "platform/alsa/alsa_mixer.h"

#include <alsa/asoundlib.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <unordered_map>
#include <utility>

#include "platform/alsa/alsa_card.h"
#include "platform/alsa/alsa_lib.h"

namespace quorvel {
namespace {

using namespace alsa;

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
    if (!cards_[device]) cards_[device] = read_card(session.mixer, devices_[device]);
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
