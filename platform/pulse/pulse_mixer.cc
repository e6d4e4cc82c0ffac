#include "platform/pulse/pulse_mixer.h"

#include <algorithm>
#include <chrono>
#include <deque>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "platform/mixer/control_bounds.h"
#include "platform/mixer/model_mixer.h"
#include "platform/pulse/pulse_client.h"
#include "platform/pulse/pulse_streams.h"
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
    Devices devices;
    std::vector<pa_operation*> asked;
    // The three requests go together, and are answered together.
    ask_devices(devices, asked);
    if (!client_->wait(asked)) return false;
    adopt(std::move(devices));
    return true;
  }

 private:
  // What the server said of itself and its devices, for adopt().
  struct Devices {
    PulseServer server;
    std::vector<PulseNode> sinks;
    std::vector<PulseNode> sources;
  };

  void ask_devices(Devices& devices, std::vector<pa_operation*>& asked) {
    asked.push_back(client_->send_server_info(devices.server));
    asked.push_back(client_->send_list(true, devices.sinks));
    asked.push_back(client_->send_list(false, devices.sources));
  }

  // Makes the layout of the devices, and keeps what they hold.
  void adopt(Devices devices) {
    const PulseServer& server = devices.server;
    std::vector<PulseNode>& sinks = devices.sinks;
    std::vector<PulseNode>& sources = devices.sources;
    std::vector<PulseNode> inputs;
    std::vector<PulseNode> monitors;
    server_ = server;
    held_.clear();
    nodes_.clear();
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
  }

  // A line's sink or source: its index addresses it, its name (which
  // another node may share) is what the server's defaults name.
  struct Node {
    bool sink;
    std::uint32_t index;
    std::string name;
    bool first_of_name;  // the first line of the nodes of this name
  };

  unsigned device_count() override { return 1; }

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

  // Whether the line's node is the server's default of its kind, by what
  // the server said when last asked.
  bool is_default(const Node& node) const {
    return node.first_of_name &&
           node.name == (node.sink ? server_.default_sink : server_.default_source);
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
      values[0] = is_default(target) ? 1 : 0;
      return kMixerOk;
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
        return kMixerOk;
      }
      case kMute:
        values[0] = node.mute ? 1 : 0;
        return kMixerOk;
      case kPort:
        for (std::size_t k = 0; k < values.size() && k < control.items.size(); ++k) {
          values[k] = control.items[k].name == node.active_port ? 1 : 0;
        }
        return kMixerOk;
      default:
        return kMixerFailed;
    }
  }

  // A request that failed: the server gone (it stopped answering, or the
  // connection went), after which every call fails so; else an error.
  MixerResult failed() const { return client_->alive() ? kMixerFailed : kMixerGone; }
  // A write the server refused, or one it never answered (or that could not
  // be sent); once the server has gone, whatever the answer said.
  MixerResult not_made() const { return client_->alive() ? kMixerRefused : kMixerGone; }

  // One change of a batch, as decided from what the server holds.
  struct Change {
    CheckedWrite* write = nullptr;
    const Node* target = nullptr;
    std::size_t kind = kVolume;         // the control's ControlKind
    pa_cvolume volume{};                // a volume: every channel as wanted
    bool mute = false;                  // a mute: as wanted
    const std::string* port = nullptr;  // a port: the one wanted
    bool made = false;                  // acknowledged by the server
  };

  // kMixerGone is given to the writes of a batch sent as the server stopped
  // answering or closed the connection: any of them may have been made.
  bool gone_writes_in_doubt() const override { return true; }

  // A single write is a batch of one.
  MixerResult write_values(unsigned device, ModelControl& control,
                           std::span<const std::int32_t> values) override {
    MixerResult result = kMixerOk;
    CheckedWrite write{&control, values, &result};
    write_batch(device, {&write, 1});
    return result;
  }

  // Sends the changes of a batch together and waits once for the server's
  // answers. A write whose outcome depends on a change before it that the
  // server makes only a moment after acknowledging it (a port of its line;
  // another default of its kind) is decided once that change is made, in
  // the next part of the batch: so each write finds what the ones before it
  // made, as if they had been sent one at a time.
  void write_batch(unsigned, std::span<CheckedWrite> writes) override {
    std::vector<Change> changes;
    changes.reserve(writes.size());
    std::size_t at = 0;
    while (at < writes.size()) {
      changes.clear();
      std::unordered_set<std::size_t> ported;  // lines with a port change in this part
      bool defaulted[2] = {false, false};      // a default change, of a source, of a sink
      for (; at < writes.size(); ++at) {
        CheckedWrite& write = writes[at];
        const Node& target = node_of(*write.control);
        if (ported.count(write.control->line) != 0 ||
            (write.control->key == kDefault && defaulted[target.sink])) {
          break;
        }
        Change change;
        if (!decide(write, change)) continue;
        if (change.kind == kPort) ported.insert(write.control->line);
        if (change.kind == kDefault) defaulted[target.sink] = true;
        changes.push_back(change);
      }
      make(changes);
    }
  }

  // Whether the write asks for a change of what the server holds: true with
  // `change` filled in; else false, with its result set (kMixerOk when the
  // server holds what it asks for already).
  bool decide(CheckedWrite& write, Change& change) {
    const ModelControl& control = *write.control;
    const std::span<const std::int32_t> values = write.values;
    const Node& target = node_of(control);
    MixerResult& result = *write.result;
    result = kMixerOk;
    change.write = &write;
    change.target = &target;
    change.kind = control.key;
    switch (control.key) {
      case kVolume: {
        std::vector<std::uint32_t> raws;
        for (std::int32_t value : values) {
          const std::optional<std::uint32_t> raw = raw_of_document(value);
          if (!raw) {
            result = kMixerRefused;
            return false;
          }
          raws.push_back(*raw);
        }
        const PulseNode* node = held(target);
        if (node == nullptr) {
          result = failed();
          return false;
        }
        if (values.size() != 1 && values.size() != node->volume.channels) {
          result = kMixerFailed;
          return false;
        }
        // Only the channels whose value differs from the one wanted (read
        // on the document's scale) change; the others keep the server's raw
        // value.
        change.volume = node->volume;
        bool changes = false;
        for (std::uint8_t k = 0; k < change.volume.channels; ++k) {
          const std::size_t from = values.size() == 1 ? 0 : k;
          if (document_of_raw(change.volume.values[k]) == values[from]) continue;
          change.volume.values[k] = raws[from];
          changes = true;
        }
        return changes;
      }
      case kMute: {
        const PulseNode* node = held(target);
        if (node == nullptr) {
          result = failed();
          return false;
        }
        change.mute = values[0] != 0;
        return node->mute != change.mute;
      }
      case kPort: {
        if (std::count(values.begin(), values.end(), 1) != 1) {
          result = kMixerRefused;
          return false;
        }
        const std::size_t chosen =
            static_cast<std::size_t>(std::find(values.begin(), values.end(), 1) - values.begin());
        const PulseNode* node = held(target);
        if (node == nullptr) {
          result = failed();
          return false;
        }
        change.port = &control.items[chosen].name;
        return node->active_port != *change.port;
      }
      case kDefault:
        // A 0 changes nothing, and is refused on the default itself (a line
        // stops being the default only when another becomes it).
        if (values[0] == 0) {
          if (is_default(target)) result = kMixerRefused;
          return false;
        }
        return !is_default(target);
      default:
        result = kMixerFailed;
        return false;
    }
  }

  pa_operation* send(Change& change) {
    const Node& target = *change.target;
    switch (change.kind) {
      case kVolume:
        return client_->send_volume(target.sink, target.index, change.volume, change.made);
      case kMute:
        return client_->send_mute(target.sink, target.index, change.mute, change.made);
      case kPort:
        return client_->send_port(target.sink, target.index, *change.port, change.made);
      default:
        return client_->send_default(target.sink, target.name, change.made);
    }
  }

  // Sends the changes, waits for every answer within one bound, and then
  // confirms each: a mute as acknowledged, a volume read back (the server
  // may keep less than it was asked for), a port or default once the server
  // shows it.
  void make(std::span<Change> changes) {
    if (changes.empty()) return;
    std::vector<pa_operation*> sent;
    sent.reserve(changes.size());
    for (Change& change : changes) sent.push_back(send(change));
    client_->wait(sent);
    bool volumes[2] = {false, false};  // a volume made, of a source, of a sink
    std::vector<Change*> settling;
    for (Change& change : changes) {
      const Node& target = *change.target;
      MixerResult& result = *change.write->result;
      if (!change.made) {
        result = not_made();
        continue;
      }
      switch (change.kind) {
        case kMute:
          held_[key_of(target.sink, target.index)].mute = change.mute;
          break;
        case kVolume:
          volumes[target.sink] = true;
          break;
        default:
          settling.push_back(&change);
          break;
      }
    }
    if (volumes[0] || volumes[1]) read_back(changes, volumes);
    if (!settling.empty()) settle(settling);
  }

  // Reads back the volumes made, in one list request for the sinks and one
  // for the sources (as needed), and keeps what the server holds of each
  // node written; the bounds cover it.
  void read_back(std::span<Change> changes, const bool (&volumes)[2]) {
    std::vector<PulseNode> lists[2];  // of sources, of sinks
    std::vector<pa_operation*> asked;
    for (bool sink : {false, true}) {
      if (volumes[sink]) asked.push_back(client_->send_list(sink, lists[sink]));
    }
    const bool answered = client_->wait(asked);
    std::unordered_map<std::uint64_t, PulseNode*> now;
    for (std::vector<PulseNode>& list : lists) {
      for (PulseNode& node : list) now.emplace(key_of(node.sink, node.index), &node);
    }
    for (Change& change : changes) {
      if (change.kind != kVolume || !change.made) continue;
      const std::uint64_t key = key_of(change.target->sink, change.target->index);
      auto found = now.find(key);
      if (!answered || found == now.end()) {
        *change.write->result = failed();
        continue;
      }
      held_[key] = *found->second;
      cover(*change.write->control, document_volume(held_[key]));
      *change.write->result = kMixerOk;
    }
  }

  // Waits until the server shows the ports and defaults it acknowledged:
  // PipeWire's Pulse server acknowledges a new default or port at once and
  // makes it a moment later (its session manager does), and the next write
  // must find it made. It asks again for each node whose port changed and,
  // for a default, for the server's facts, all together, until each is
  // made or the bound passes.
  void settle(std::vector<Change*> pending) {
    const auto deadline = std::chrono::steady_clock::now() + kAnswerBound;
    for (;;) {
      std::vector<std::vector<PulseNode>> nodes(pending.size());
      PulseServer server;
      bool defaults = false;
      std::vector<pa_operation*> asked;
      for (std::size_t k = 0; k < pending.size(); ++k) {
        const Node& target = *pending[k]->target;
        if (pending[k]->kind == kPort) {
          asked.push_back(client_->send_node(target.sink, target.index, nodes[k]));
        } else {
          defaults = true;
        }
      }
      if (defaults) asked.push_back(client_->send_server_info(server));
      if (client_->wait(asked)) {
        if (defaults) server_ = std::move(server);
        std::size_t left = 0;
        for (std::size_t k = 0; k < pending.size(); ++k) {
          Change& change = *pending[k];
          const Node& target = *change.target;
          bool made = false;
          if (change.kind == kPort) {
            if (nodes[k].size() == 1) {
              PulseNode& node = held_[key_of(target.sink, target.index)];
              node = std::move(nodes[k].front());
              made = node.active_port == *change.port;
            }
          } else {
            made = is_default(target);
          }
          if (made) {
            *change.write->result = kMixerOk;
          } else {
            pending[left++] = &change;
          }
        }
        pending.resize(left);
      }
      if (pending.empty()) return;
      if (!client_->alive() || std::chrono::steady_clock::now() >= deadline) {
        for (Change* change : pending) *change->write->result = failed();
        return;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }

  // Applications.

  // What the server holds of applications: its streams, its sinks and
  // sources (for their names), and its rules when they are asked for.
  struct Streams {
    std::vector<PulseStream> streams[2];  // recording, playback
    std::vector<PulseNode> nodes[2];      // sources, sinks
    PulseRules rules;

    // The server's name of the sink (or source) of an index; empty when
    // there is none.
    std::string device_name(bool sink, std::uint32_t index) const {
      for (const PulseNode& node : nodes[sink]) {
        if (node.index == index) return node.name;
      }
      return {};
    }
  };

  // Asks for the streams, sinks and sources (and the rules, when
  // `with_rules`) together and waits once; false when the server did not
  // answer.
  bool fetch(Streams& now, bool with_rules) {
    std::vector<pa_operation*> asked;
    for (bool playback : {true, false}) {
      asked.push_back(client_->send_streams(playback, now.streams[playback]));
      asked.push_back(client_->send_list(playback, now.nodes[playback]));
    }
    if (with_rules) asked.push_back(client_->send_rules(now.rules));
    if (!client_->wait(asked)) return false;
    // The first stream of a key is the oldest.
    for (std::vector<PulseStream>& streams : now.streams) {
      std::sort(streams.begin(), streams.end(),
                [](const PulseStream& a, const PulseStream& b) { return a.index < b.index; });
    }
    return true;
  }

  // The position names of a map's channels, for a volume of `channels`;
  // unnamed ("") where the map does not fit the volume.
  static std::vector<std::string> positions_of(const pa_channel_map& map, std::uint8_t channels) {
    std::vector<std::string> positions(channels);
    if (map.channels != channels) return positions;
    for (std::uint8_t k = 0; k < channels; ++k) {
      const char* name = lib().pa_channel_position_to_string(map.map[k]);
      if (name != nullptr) positions[k] = name;
    }
    return positions;
  }

  static std::vector<std::int32_t> document_of(const pa_cvolume& volume) {
    std::vector<std::int32_t> values;
    for (std::uint8_t k = 0; k < volume.channels && k < PA_CHANNELS_MAX; ++k) {
      values.push_back(document_of_raw(volume.values[k]));
    }
    return values;
  }

  MixerResult read_applications(unsigned device, std::vector<MixerApplication>& out) override {
    out.clear();
    if (device != 0) return kMixerNoDevice;
    Streams now;
    if (!fetch(now, true)) return failed();
    std::map<std::string, MixerApplication> found;  // by key, in byte order
    for (bool playback : {true, false}) {
      for (const PulseStream& stream : now.streams[playback]) {
        if (stream.key.empty()) continue;
        auto [at, first] = found.try_emplace(stream.key);
        MixerApplication& application = at->second;
        if (application.name.empty()) application.name = stream.application_name;
        if (!first) continue;
        application.key = stream.key;
        application.playback = playback;
        application.running = true;
        application.positions = positions_of(stream.channel_map, stream.volume.channels);
        application.volume = document_of(stream.volume);
        application.mute = stream.mute;
        application.device = now.device_name(playback, stream.device);
      }
    }
    for (const PulseRule& rule : now.rules.rules) {
      bool playback = true;
      if (!is_application_key(rule.key, playback)) continue;
      auto [at, first] = found.try_emplace(rule.key);
      if (!first) continue;
      MixerApplication& application = at->second;
      application.key = rule.key;
      application.playback = playback;
      application.positions = positions_of(rule.channel_map, rule.volume.channels);
      application.volume = document_of(rule.volume);
      application.mute = rule.mute;
      application.device = rule.device;
    }
    out.reserve(found.size());
    for (auto& [key, application] : found) {
      if (application.name.empty()) application.name = name_in_key(key);
      out.push_back(std::move(application));
    }
    return kMixerOk;
  }

  // Whether a write is one the server can take: kMixerOk, with its raw
  // volume in `raws`; else why not.
  static MixerResult check_application(const ApplicationWrite& write,
                                       std::vector<std::uint32_t>& raws) {
    bool playback = true;
    if (!is_application_key(write.key, playback) || playback != write.playback) {
      return kMixerRefused;
    }
    if (write.volume.size() > static_cast<std::size_t>(PA_CHANNELS_MAX) ||
        (!write.positions.empty() && write.positions.size() != write.volume.size())) {
      return kMixerBadShape;
    }
    for (std::int32_t value : write.volume) {
      const std::optional<std::uint32_t> raw = raw_of_document(value);
      if (!raw) return kMixerRefused;
      raws.push_back(*raw);
    }
    return kMixerOk;
  }

  // The rule's volume of a write: its values, at the positions it names
  // (a standard map for their number where it names none, or one the
  // server does not know).
  static void rule_volume(const ApplicationWrite& write, const std::vector<std::uint32_t>& raws,
                          PulseRule& rule) {
    const auto channels = static_cast<std::uint8_t>(raws.size());
    rule.volume.channels = channels;
    for (std::uint8_t k = 0; k < channels; ++k) rule.volume.values[k] = raws[k];
    bool named = !write.positions.empty();
    rule.channel_map.channels = channels;
    for (std::uint8_t k = 0; named && k < channels; ++k) {
      rule.channel_map.map[k] = lib().pa_channel_position_from_string(write.positions[k].c_str());
      named = rule.channel_map.map[k] != PA_CHANNEL_POSITION_INVALID;
    }
    if (!named) {
      lib().pa_channel_map_init_extend(&rule.channel_map, channels, PA_CHANNEL_MAP_DEFAULT);
    }
  }

  static bool same_rule(const PulseRule& a, const PulseRule& b) {
    if (a.mute != b.mute || a.device != b.device || a.volume.channels != b.volume.channels) {
      return false;
    }
    for (std::uint8_t k = 0; k < a.volume.channels; ++k) {
      if (a.volume.values[k] != b.volume.values[k] ||
          a.channel_map.map[k] != b.channel_map.map[k]) {
        return false;
      }
    }
    return true;
  }

  // One request of a write of applications, and whose it is.
  struct AppRequest {
    ApplicationWrite* write = nullptr;
    bool made = false;
  };

  void write_applications(unsigned device, std::span<ApplicationWrite> writes) override {
    for (ApplicationWrite& write : writes) write.result = device == 0 ? kMixerOk : kMixerNoDevice;
    if (device != 0) return;
    std::vector<std::vector<std::uint32_t>> raws(writes.size());
    bool need_rules = false;
    for (std::size_t w = 0; w < writes.size(); ++w) {
      writes[w].result = check_application(writes[w], raws[w]);
      need_rules = need_rules || (writes[w].result == kMixerOk && !writes[w].streams_only);
    }
    Streams now;
    if (!fetch(now, need_rules)) {
      for (ApplicationWrite& write : writes) {
        if (write.result == kMixerOk) write.result = failed();
      }
      return;
    }
    std::map<std::string, PulseRule> rules;
    for (PulseRule& rule : now.rules.rules) rules[rule.key] = std::move(rule);

    // Every request of the call is sent before any answer is waited for;
    // what each write changes is kept here as it is sent, so that a later
    // write of the same key finds it.
    std::deque<AppRequest> requests;
    std::vector<pa_operation*> sent;
    const auto request = [&](ApplicationWrite& write) -> bool& {
      requests.push_back(AppRequest{&write, false});
      return requests.back().made;
    };
    for (std::size_t w = 0; w < writes.size(); ++w) {
      ApplicationWrite& write = writes[w];
      if (write.result != kMixerOk) continue;
      const bool playback = write.playback;
      bool running = false;
      for (PulseStream& stream : now.streams[playback]) {
        if (stream.key != write.key) continue;
        running = true;
        if (!write.volume.empty() && stream.volume_writable) {
          const std::vector<std::int32_t> wanted =
              volume_for_channels(write.positions, write.volume,
                                  positions_of(stream.channel_map, stream.volume.channels));
          pa_cvolume volume = stream.volume;
          bool changes = false;
          for (std::uint8_t k = 0; k < volume.channels; ++k) {
            if (document_of_raw(volume.values[k]) == wanted[k]) continue;
            volume.values[k] = raw_of_document(wanted[k]).value_or(kRawTop);
            changes = true;
          }
          if (changes) {
            sent.push_back(
                client_->send_stream_volume(playback, stream.index, volume, request(write)));
            stream.volume = volume;
          }
        }
        if (write.set_mute && stream.mute != write.mute) {
          sent.push_back(
              client_->send_stream_mute(playback, stream.index, write.mute, request(write)));
          stream.mute = write.mute;
        }
        if (!write.device.empty() && now.device_name(playback, stream.device) != write.device) {
          sent.push_back(client_->send_move(playback, stream.index, write.device, request(write)));
          stream.device = PA_INVALID_INDEX;
          for (const PulseNode& node : now.nodes[playback]) {
            if (node.name == write.device) stream.device = node.index;
          }
        }
      }
      if (write.streams_only) continue;
      if (!now.rules.listed) {
        // Without the server's stream restore, only the streams take it.
        if (!running) write.result = kMixerUnsupported;
        continue;
      }
      // What the write leaves unset, the rule keeps.
      auto existing = rules.find(write.key);
      PulseRule rule;
      rule.key = write.key;
      if (!write.volume.empty()) {
        rule_volume(write, raws[w], rule);
      } else if (existing != rules.end()) {
        rule.channel_map = existing->second.channel_map;
        rule.volume = existing->second.volume;
      }
      rule.mute = write.set_mute ? write.mute
                                 : existing != rules.end() && existing->second.mute;
      rule.device = !write.device.empty() ? write.device
                    : existing != rules.end() ? existing->second.device
                                               : std::string();
      // A rule read as the same is left alone while a stream of it runs
      // (the server keeps the rule of a running stream itself). For an
      // application not running it is written all the same, and first
      // with its volume one raw step off: PipeWire's rules as read lag
      // behind what WirePlumber keeps and applies (a volume set on a
      // stream after the rule was written), and WirePlumber takes a rule
      // only when what it reads of it changes.
      if (existing != rules.end() && same_rule(existing->second, rule)) {
        if (running) continue;
        PulseRule nudged = rule;
        for (std::uint8_t k = 0; k < nudged.volume.channels; ++k) {
          nudged.volume.values[k] += nudged.volume.values[k] > 0 ? -1 : 1;
        }
        sent.push_back(client_->send_rule_writes({&nudged, 1}, request(write)));
      }
      sent.push_back(client_->send_rule_writes({&rule, 1}, request(write)));
      rules[write.key] = std::move(rule);
    }
    client_->wait(sent);
    for (const AppRequest& asked : requests) {
      if (!asked.made && asked.write->result == kMixerOk) asked.write->result = not_made();
    }
  }

  // Lines and applications that appeared. The subscription is asked for
  // at the first call; the lines that appeared since the mixer was opened
  // are found then by what the server has now, the applications only by
  // the server's events from then on.
  MixerResult wait_for_appearances(std::chrono::milliseconds bound,
                                   std::vector<MixerAppearance>& out) override {
    out.clear();
    const auto deadline = std::chrono::steady_clock::now() + bound;
    bool since_open = false;
    if (!subscribed_) {
      bool made = false;
      pa_operation* const asked[] = {client_->send_subscribe(made)};
      client_->wait(asked);
      if (!client_->alive()) return kMixerGone;
      if (!made) return kMixerUnsupported;
      subscribed_ = true;
      since_open = true;
    }
    for (;;) {
      if (!since_open && !client_->listen(deadline)) return kMixerGone;
      if (!appeared(client_->take_events(), since_open, out)) return failed();
      since_open = false;
      if (!out.empty() || std::chrono::steady_clock::now() >= deadline) return kMixerOk;
    }
  }

  // What the events tell of (with `since_open`, also the lines the layout
  // lacks), looked up in one set of requests: the lines first, each by its
  // name, then the applications, each key once. The layout is made anew
  // when a line appeared, and when one changed: what the mixer serves its
  // reads from is then what the server holds (a server's own restore of a
  // device that appeared, say), not what this mixer last wrote.
  bool appeared(const std::vector<PulseEvent>& events, bool since_open,
                std::vector<MixerAppearance>& out) {
    std::vector<std::uint64_t> lines;             // key_of(sink, index) of new sinks and sources
    std::vector<std::pair<bool, std::uint32_t>> streams;  // (playback, index)
    bool changed = false;  // a line changed
    for (const PulseEvent& event : events) {
      const bool line = event.kind == PulseEvent::kSink || event.kind == PulseEvent::kSource;
      const bool sinkish = event.kind == PulseEvent::kSink || event.kind == PulseEvent::kPlayback;
      if (event.changed) {
        changed = true;
      } else if (line) {
        const std::uint64_t key = key_of(sinkish, event.index);
        std::erase(lines, key);
        if (event.added) {
          lines.push_back(key);
        } else {
          reported_.erase(key);
        }
      } else {
        std::erase(streams, std::make_pair(sinkish, event.index));
        if (event.added) streams.emplace_back(sinkish, event.index);
      }
    }
    if (lines.empty() && streams.empty() && !since_open && !changed) return true;
    Devices devices;
    std::vector<std::vector<PulseStream>> found(streams.size());
    std::vector<pa_operation*> asked;
    const bool relist = since_open || !lines.empty() || changed;
    if (relist) ask_devices(devices, asked);
    for (std::size_t k = 0; k < streams.size(); ++k) {
      asked.push_back(client_->send_stream(streams[k].first, streams[k].second, found[k]));
    }
    if (!client_->wait(asked)) return false;
    if (relist) {
      std::unordered_set<std::uint32_t> new_sinks;
      for (const PulseNode& sink : devices.sinks) {
        if (std::find(lines.begin(), lines.end(), key_of(true, sink.index)) != lines.end()) {
          new_sinks.insert(sink.index);
        }
      }
      bool any = false;
      for (const std::vector<PulseNode>* list : {&devices.sinks, &devices.sources}) {
        for (const PulseNode& node : *list) {
          const std::uint64_t key = key_of(node.sink, node.index);
          const bool is_new =
              std::find(lines.begin(), lines.end(), key) != lines.end() ||
              (node.is_monitor() && new_sinks.count(node.monitor_of_sink) != 0) ||
              (since_open && held_.count(key) == 0);
          if (!is_new || !reported_.insert(key).second) continue;
          out.push_back(MixerAppearance{false, node.name});
          any = true;
        }
      }
      if (any || changed) adopt(std::move(devices));
    }
    std::unordered_set<std::string> keys;
    for (const std::vector<PulseStream>& stream : found) {
      if (stream.size() != 1 || stream.front().key.empty()) continue;
      if (keys.insert(stream.front().key).second) {
        out.push_back(MixerAppearance{true, stream.front().key});
      }
    }
    return true;
  }

  bool subscribed_ = false;
  // The lines reported as appeared, by key_of(sink, index), until the
  // server says they went: a monitor reported with its sink is not
  // reported again when its own event comes.
  std::unordered_set<std::uint64_t> reported_;

  std::unique_ptr<PulseClient> client_;
  std::vector<Node> nodes_;  // by ModelLine::key
  // What the server holds: read in one request per list when the mixer is
  // opened, and kept as the run's own writes change it (each read back or
  // acknowledged). Reads are served from it.
  PulseServer server_;
  std::unordered_map<std::uint64_t, PulseNode> held_;  // by key_of(sink, index)
};

}  // namespace

Expected<std::unique_ptr<Mixer>> open_pulse_mixer(const std::string& server) {
  Expected<std::unique_ptr<PulseClient>> connected = PulseClient::connect(server);
  if (!connected) return connected.error();
  auto mixer = std::make_unique<PulseMixer>(std::move(connected).value());
  if (!mixer->load()) {
    return Error{(server.empty() ? std::string("the sound server")
                                 : "the sound server " + server) +
                 " did not describe its devices within " +
                 std::to_string(kAnswerBound.count() / 1000) + " s"};
  }
  return std::unique_ptr<Mixer>(std::move(mixer));
}

}  // namespace quorvel
