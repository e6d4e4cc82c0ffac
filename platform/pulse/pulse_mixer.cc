#include "platform/pulse/pulse_mixer.h"

#include <algorithm>
#include <chrono>
#include <thread>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/mixer/control_bounds.h"
#include "platform/mixer/model_mixer.h"
#include "platform/pulse/pulse_client.h"
#include "platform/pulse/pulse_volume_scale.h"

namespace quorvel {
namespace {

using namespace pulse;

constexpr std::uint32_t kDestinationIds = 0xFFFF0000u;

// What a control of a line stands for (ModelControl::key).
enum ControlKind : std::size_t { kVolume, kMute, kPort, kDefault };

// The steps of a volume control over 0..max: at least one per value, so
// that two different values are never taken for the same step.
std::uint32_t volume_steps(std::int32_t max) {
  return std::max<std::uint32_t>(kRawFull, static_cast<std::uint32_t>(max));
}

ModelControl make_control(std::uint32_t id, std::uint32_t type, const char* name,
                          ControlKind kind) {
  ModelControl control;
  control.id = id;
  control.type = type;
  control.name = name;
  control.key = kind;
  return control;
}

// Sinks, sources and monitors are each in order of their names; nodes that
// share a name (the server allows it) in the order of their indexes.
void order(std::vector<PulseNode>& nodes) {
  std::sort(nodes.begin(), nodes.end(), [](const PulseNode& a, const PulseNode& b) {
    return a.name != b.name ? a.name < b.name : a.index < b.index;
  });
}

class PulseMixer final : public ModelMixer {
 public:
  explicit PulseMixer(std::unique_ptr<PulseClient> client) : client_(std::move(client)) {}

  // Reads the server's devices into the layout; false when it did not answer.
  bool load() {
    PulseServer server;
    std::vector<PulseNode> sinks;
    std::vector<PulseNode> sources;
    if (!client_->server_info(server) || !client_->sinks(sinks) || !client_->sources(sources)) {
      return false;
    }
    std::vector<PulseNode> inputs;
    std::vector<PulseNode> monitors;
    server_ = server;
    held_.clear();
    for (const PulseNode& node : sinks) held_[key_of(node.sink, node.index)] = node;
    for (const PulseNode& node : sources) held_[key_of(node.sink, node.index)] = node;
    for (PulseNode& source : sources) {
      (source.is_monitor() ? monitors : inputs).push_back(std::move(source));
    }
    order(sinks);
    order(inputs);
    order(monitors);

    ModelLayout layout;
    layout.name = server.name;
    std::uint32_t next_control = 1;
    const auto add = [&](const PulseNode& node, std::uint32_t component_type) {
      ModelLine line;
      line.id = kDestinationIds + static_cast<std::uint32_t>(layout.destinations.size());
      line.component_type = component_type;
      line.channels = node.volume.channels;
      line.name = node.description.empty() ? node.name : node.description;
      line.device_name = node.name;
      line.product_id = node.product_id;
      if (node.channel_map.channels == node.volume.channels) {
        for (std::uint8_t k = 0; k < node.channel_map.channels; ++k) {
          const char* position = lib().pa_channel_position_to_string(node.channel_map.map[k]);
          line.positions.emplace_back(position != nullptr ? position : "");
        }
      }
      line.key = nodes_.size();
      // Of the nodes that share a name, the server's default of that name
      // is taken to be the first.
      const bool first_of_name = nodes_.empty() || nodes_.back().sink != node.sink ||
                                 nodes_.back().name != node.name;
      nodes_.push_back(Node{node.sink, node.index, node.name, first_of_name});
      const std::size_t at = layout.add_destination(std::move(line));

      ModelControl volume = make_control(next_control++, ctrl::kVolume, "Volume", kVolume);
      volume.max = kDocumentFull;
      for (std::uint8_t k = 0; k < node.volume.channels; ++k) {
        volume.max = std::max(volume.max, document_of_raw(node.volume.values[k]));
      }
      volume.steps = volume_steps(volume.max);
      volume.device_bounds = true;
      layout.add_control(at, std::move(volume));

      ModelControl mute = make_control(next_control++, ctrl::kMute, "Mute", kMute);
      mute.max = 1;
      mute.uniform = true;
      layout.add_control(at, std::move(mute));

      if (!node.ports.empty()) {
        ModelControl port = make_control(next_control++, ctrl::kPortSelect, "Port", kPort);
        port.max = static_cast<std::int32_t>(node.ports.size()) - 1;
        port.uniform = true;
        port.list = true;
        for (const std::string& name : node.ports) {
          ModelItem item;
          item.name = name;
          port.items.push_back(std::move(item));
        }
        layout.add_control(at, std::move(port));
      }

      ModelControl is_default =
          make_control(next_control++, ctrl::kDefaultSwitch, "Default", kDefault);
      is_default.max = 1;
      is_default.uniform = true;
      layout.add_control(at, std::move(is_default));
    };
    for (const PulseNode& node : sinks) add(node, kComponentDstSpeakers);
    for (const PulseNode& node : inputs) add(node, kComponentDstWaveIn);
    for (const PulseNode& node : monitors) add(node, kComponentDstMonitor);
    set_layout(0, std::move(layout));
    return true;
  }

 private:
  // A line's sink or source: its index addresses it, its name (which
  // another node may share) is what the server's defaults name.
  struct Node {
    bool sink;
    std::uint32_t index;
    std::string name;
    bool first_of_name;  // the first line of the nodes of this name
  };

  unsigned do_device_count() override { return 1; }

  const Node& node_of(const ModelControl& control) const {
    return nodes_[layout(0)->lines[control.line].key];
  }

  static std::uint64_t key_of(bool sink, std::uint32_t index) {
    return (std::uint64_t{sink ? 1u : 0u} << 32) | index;
  }

  // What the server holds of the line's node, as last read (null when the
  // node is gone from the server).
  const PulseNode* held(const Node& node) const {
    auto found = held_.find(key_of(node.sink, node.index));
    return found == held_.end() ? nullptr : &found->second;
  }
  // Asks the server for the node again and keeps what it says; false when
  // it did not answer.
  bool reread(const Node& node) {
    PulseNode now;
    if (!client_->node(node.sink, node.index, now)) return false;
    held_[key_of(node.sink, node.index)] = std::move(now);
    return true;
  }

  // Whether the line's node is the server's default of its kind, by what
  // the server said when last asked; with `ask`, asked again (and kept).
  // False when the server did not answer.
  bool read_default(const Node& node, bool& is_default, bool ask = false) {
    if (ask) {
      PulseServer server;
      if (!client_->server_info(server)) return false;
      server_ = std::move(server);
    }
    is_default = node.first_of_name &&
                 node.name == (node.sink ? server_.default_sink : server_.default_source);
    return true;
  }

  // Widens a volume's bounds to cover the values it holds (another client
  // may have raised it since the layout was read).
  void cover(const ModelControl& control, std::span<const std::int32_t> held) {
    // The layout is this object's own, held unchanging only for the model.
    auto& widened = const_cast<ModelControl&>(control);
    cover_values(widened.min, widened.max, held);
    widened.steps = volume_steps(widened.max);
  }

  std::vector<std::int32_t> document_volume(const PulseNode& node) const {
    std::vector<std::int32_t> values;
    for (std::uint8_t k = 0; k < node.volume.channels; ++k) {
      values.push_back(document_of_raw(node.volume.values[k]));
    }
    return values;
  }

  MixerResult read_values(unsigned, const ModelControl& control,
                          std::span<std::int32_t> values) override {
    const Node& target = node_of(control);
    if (control.key == kDefault) {
      bool is_default = false;
      if (!read_default(target, is_default)) return failed();
      values[0] = is_default ? 1 : 0;
      return MMSYSERR_NOERROR;
    }
    const PulseNode* found = held(target);
    if (found == nullptr) return failed();
    const PulseNode& node = *found;
    switch (control.key) {
      case kVolume: {
        const std::vector<std::int32_t> held = document_volume(node);
        if (held.empty()) return failed();
        cover(control, held);
        for (std::size_t k = 0; k < values.size(); ++k) {
          values[k] = held[k < held.size() ? k : 0];
        }
        return MMSYSERR_NOERROR;
      }
      case kMute:
        values[0] = node.mute ? 1 : 0;
        return MMSYSERR_NOERROR;
      case kPort:
        for (std::size_t k = 0; k < values.size() && k < control.items.size(); ++k) {
          values[k] = control.items[k].name == node.active_port ? 1 : 0;
        }
        return MMSYSERR_NOERROR;
      default:
        return MMSYSERR_ERROR;
    }
  }

  // Waits until the server shows a change it acknowledged: PipeWire's Pulse
  // server acknowledges a new default or port at once and makes it a moment
  // later (its session manager does), and the next write must find it made.
  template <typename Made>
  MixerResult settled(Made made) {
    const auto deadline = std::chrono::steady_clock::now() + kAnswerBound;
    while (!made()) {
      if (!client_->alive() || std::chrono::steady_clock::now() >= deadline) return failed();
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return MMSYSERR_NOERROR;
  }

  // A request that failed: the server gone (it stopped answering, or the
  // connection went), after which every call fails so; else an error.
  MixerResult failed() const { return client_->alive() ? MMSYSERR_ERROR : kMixerGone; }
  // A write the server refused, or one it never answered.
  MixerResult not_made() const { return client_->alive() ? MIXERR_INVALVALUE : kMixerGone; }

  MixerResult write_values(unsigned, ModelControl& control,
                           std::span<const std::int32_t> values) override {
    const Node& target = node_of(control);
    switch (control.key) {
      case kVolume: return write_volume(control, target, values);
      case kMute: {
        const PulseNode* node = held(target);
        if (node == nullptr) return failed();
        const bool mute = values[0] != 0;
        if (node->mute == mute) return MMSYSERR_NOERROR;
        if (!client_->set_mute(target.sink, target.index, mute)) return not_made();
        // The server made the change it acknowledged.
        held_[key_of(target.sink, target.index)].mute = mute;
        return MMSYSERR_NOERROR;
      }
      case kPort: {
        if (std::count(values.begin(), values.end(), 1) != 1) return MIXERR_INVALVALUE;
        const std::size_t chosen =
            static_cast<std::size_t>(std::find(values.begin(), values.end(), 1) - values.begin());
        const PulseNode* node = held(target);
        if (node == nullptr) return failed();
        const std::string& port = control.items[chosen].name;
        if (node->active_port == port) return MMSYSERR_NOERROR;
        if (!client_->set_port(target.sink, target.index, port)) return not_made();
        return settled([&] { return reread(target) && held(target)->active_port == port; });
      }
      case kDefault: {
        bool is_default = false;
        if (!read_default(target, is_default)) return failed();
        if (values[0] == 0) return is_default ? MIXERR_INVALVALUE : MMSYSERR_NOERROR;
        if (is_default) return MMSYSERR_NOERROR;
        if (!client_->set_default(target.sink, target.name)) return not_made();
        return settled([&] { return read_default(target, is_default, true) && is_default; });
      }
      default:
        return MMSYSERR_ERROR;
    }
  }

  // Sends the channels whose value differs from the one wanted (read on the
  // document's scale), each others' raw value left as the server has it.
  MixerResult write_volume(ModelControl& control, const Node& target,
                           std::span<const std::int32_t> values) {
    std::vector<std::uint32_t> raws;
    for (std::int32_t value : values) {
      const std::optional<std::uint32_t> raw = raw_of_document(value);
      if (!raw) return MIXERR_INVALVALUE;
      raws.push_back(*raw);
    }
    const PulseNode* node = held(target);
    if (node == nullptr) return failed();
    if (values.size() != 1 && values.size() != node->volume.channels) return MMSYSERR_ERROR;
    pa_cvolume wanted = node->volume;
    bool changes = false;
    for (std::uint8_t k = 0; k < wanted.channels; ++k) {
      const std::size_t from = values.size() == 1 ? 0 : k;
      if (document_of_raw(wanted.values[k]) == values[from]) continue;
      wanted.values[k] = raws[from];
      changes = true;
    }
    if (!changes) return MMSYSERR_NOERROR;
    if (!client_->set_volume(target.sink, target.index, wanted)) return not_made();
    // What the server now holds (it may keep less than was asked for) is
    // read back, and the bounds cover it.
    if (!reread(target)) return failed();
    cover(control, document_volume(*held(target)));
    return MMSYSERR_NOERROR;
  }

  std::unique_ptr<PulseClient> client_;
  std::vector<Node> nodes_;  // by ModelLine::key
  // What the server holds: read in one request per list when the mixer is
  // opened, and kept as the run's own writes change it (each read back or
  // acknowledged). Reads are served from it.
  PulseServer server_;
  std::unordered_map<std::uint64_t, PulseNode> held_;  // by key_of(sink, index)
};

}  // namespace

Result open_pulse_mixer(const std::string& server, std::unique_ptr<MixerService>& out,
                        bool* absent) {
  std::unique_ptr<PulseClient> client;
  if (Result connected = PulseClient::connect(server, client, absent); !connected) {
    return connected;
  }
  auto mixer = std::make_unique<PulseMixer>(std::move(client));
  if (!mixer->load()) {
    return Result::failure((server.empty() ? std::string("the sound server")
                                           : "the sound server " + server) +
                           " did not describe its devices within " +
                           std::to_string(kAnswerBound.count() / 1000) + " s");
  }
  out = std::move(mixer);
  return Result();
}

}  // namespace quorvel
