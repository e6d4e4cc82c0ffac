#include "platform/pulse/pulse_client.h"

#include <algorithm>

#include "platform/pulse/pulse_streams.h"

namespace quorvel::pulse {
namespace {

using Clock = std::chrono::steady_clock;

// libpulse's error codes for nothing listening where the server would be
// (PA_ERR_CONNECTIONREFUSED) and no server known at all (PA_ERR_NOENTITY).
constexpr int kErrorConnectionRefused = 6;
constexpr int kErrorNoEntity = 5;

// What sinks and sources have alike (the two records share these fields).
template <typename Info>
PulseNode common_node_of(const Info& info) {
  PulseNode node;
  node.index = info.index;
  node.name = info.name != nullptr ? info.name : "";
  if (info.proplist != nullptr) {
    const char* vendor = lib().pa_proplist_gets(info.proplist, "device.vendor.id");
    const char* product = lib().pa_proplist_gets(info.proplist, "device.product.id");
    if (vendor != nullptr && product != nullptr && *vendor != '\0' && *product != '\0') {
      node.product_id = std::string(vendor) + ":" + product;
    }
  }
  node.description = info.description != nullptr ? info.description : "";
  node.channel_map = info.channel_map;
  node.volume = info.volume;
  node.mute = info.mute != 0;
  for (std::uint32_t k = 0; k < info.n_ports && info.ports != nullptr; ++k) {
    if (info.ports[k] != nullptr && info.ports[k]->name != nullptr) {
      node.ports.emplace_back(info.ports[k]->name);
    }
  }
  if (info.active_port != nullptr && info.active_port->name != nullptr) {
    node.active_port = info.active_port->name;
  }
  return node;
}

PulseNode node_of(const pa_sink_info& info) {
  PulseNode node = common_node_of(info);
  node.sink = true;
  return node;
}

PulseNode node_of(const pa_source_info& info) {
  PulseNode node = common_node_of(info);
  node.sink = false;
  node.monitor_of_sink = info.monitor_of_sink;
  return node;
}

// A list request's nodes, appended to the vector until the end of the list.
template <typename Info>
void gather(pa_context*, const Info* info, int eol, void* userdata) {
  if (eol != 0 || info == nullptr) return;
  static_cast<std::vector<PulseNode>*>(userdata)->push_back(node_of(*info));
}

// What sink inputs and source outputs have alike.
template <typename Info>
PulseStream common_stream_of(const Info& info, bool playback) {
  PulseStream stream;
  stream.playback = playback;
  stream.index = info.index;
  stream.channel_map = info.channel_map;
  stream.volume = info.volume;
  stream.mute = info.mute != 0;
  stream.volume_writable = info.has_volume != 0 && info.volume_writable != 0;
  if (info.proplist != nullptr) {
    const auto property = [&](const char* name) {
      return lib().pa_proplist_gets(info.proplist, name);
    };
    StreamNames names;
    names.restore_id = property("module-stream-restore.id");
    names.role = property("media.role");
    names.application_id = property("application.id");
    names.application_name = property("application.name");
    names.media_name = property("media.name");
    stream.key = stream_key(playback, names);
    if (names.application_name != nullptr) stream.application_name = names.application_name;
  }
  return stream;
}

PulseStream stream_of(const pa_sink_input_info& info) {
  PulseStream stream = common_stream_of(info, true);
  stream.device = info.sink;
  return stream;
}

PulseStream stream_of(const pa_source_output_info& info) {
  PulseStream stream = common_stream_of(info, false);
  stream.device = info.source;
  return stream;
}

template <typename Info>
void gather_streams(pa_context*, const Info* info, int eol, void* userdata) {
  if (eol != 0 || info == nullptr) return;
  static_cast<std::vector<PulseStream>*>(userdata)->push_back(stream_of(*info));
}

// The rules until the end of the list, which says whether the server had
// them to list (a negative end: it refused the read).
void gather_rules(pa_context*, const pa_ext_stream_restore_info* info, int eol, void* userdata) {
  auto* out = static_cast<PulseRules*>(userdata);
  if (eol != 0) {
    out->listed = eol > 0;
    return;
  }
  if (info == nullptr || info->name == nullptr) return;
  PulseRule rule;
  rule.key = info->name;
  rule.channel_map = info->channel_map;
  rule.volume = info->volume;
  if (rule.volume.channels > PA_CHANNELS_MAX || rule.channel_map.channels != rule.volume.channels) {
    rule.volume.channels = 0;
  }
  rule.device = info->device != nullptr ? info->device : "";
  rule.mute = info->mute != 0;
  out->rules.push_back(std::move(rule));
}

void take_server(pa_context*, const pa_server_info* info, void* userdata) {
  auto* out = static_cast<PulseServer*>(userdata);
  if (info == nullptr) return;
  out->name = info->server_name != nullptr ? info->server_name : "";
  out->default_sink = info->default_sink_name != nullptr ? info->default_sink_name : "";
  out->default_source = info->default_source_name != nullptr ? info->default_source_name : "";
}

void take_answer(pa_context*, int success, void* userdata) {
  *static_cast<bool*>(userdata) = success != 0;
}

// Why the context could not reach `shown`: absent when nothing listens.
Error unreachable(const PulseLib& pa, pa_context* context, const std::string& shown) {
  const int error = pa.pa_context_errno(context);
  const bool nothing_there = error == kErrorConnectionRefused || error == kErrorNoEntity;
  return Error{"cannot reach " + shown + ": " + pa.pa_strerror(error),
               nothing_there ? kPulseServerAbsent : 0};
}

}  // namespace

Expected<std::unique_ptr<PulseClient>> PulseClient::connect(const std::string& server) {
  using Connected = Expected<std::unique_ptr<PulseClient>>;
  if (const Expected<const PulseLib*> loaded = pulse_lib(); !loaded) {
    return Error{loaded.message(), kPulseServerAbsent};
  }
  const PulseLib& pa = lib();
  std::unique_ptr<PulseClient> client(new PulseClient());
  client->loop_ = pa.pa_mainloop_new();
  if (client->loop_ == nullptr) return Connected::failure("libpulse cannot make its main loop");
  client->context_ = pa.pa_context_new(pa.pa_mainloop_get_api(client->loop_), "quorvel");
  if (client->context_ == nullptr) return Connected::failure("libpulse cannot make a context");
  const std::string shown = server.empty() ? "the sound server" : "the sound server " + server;
  // A server is never started for the run: one that is not running is absent.
  if (pa.pa_context_connect(client->context_, server.empty() ? nullptr : server.c_str(),
                            PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
    return unreachable(pa, client->context_, shown);
  }
  const auto deadline = Clock::now() + kAnswerBound;
  for (;;) {
    const pa_context_state_t state = pa.pa_context_get_state(client->context_);
    if (state == PA_CONTEXT_READY) break;
    if (state == PA_CONTEXT_FAILED || state == PA_CONTEXT_TERMINATED) {
      return unreachable(pa, client->context_, shown);
    }
    if (Clock::now() >= deadline || !client->turn(deadline)) {
      return Connected::failure(shown + " did not answer within " +
                                std::to_string(kAnswerBound.count() / 1000) + " s");
    }
  }
  return client;
}

PulseClient::~PulseClient() {
  const PulseLib& pa = lib();
  if (context_ != nullptr) {
    pa.pa_context_disconnect(context_);
    pa.pa_context_unref(context_);
  }
  if (loop_ != nullptr) pa.pa_mainloop_free(loop_);
}

bool PulseClient::turn(Clock::time_point deadline) {
  const PulseLib& pa = lib();
  const auto left = std::chrono::duration_cast<std::chrono::microseconds>(deadline - Clock::now());
  const int timeout = static_cast<int>(std::max<std::int64_t>(left.count(), 0));
  if (pa.pa_mainloop_prepare(loop_, timeout) < 0) return false;
  if (pa.pa_mainloop_poll(loop_) < 0) return false;
  return pa.pa_mainloop_dispatch(loop_) >= 0;
}

bool PulseClient::wait(std::span<pa_operation* const> operations) {
  const PulseLib& pa = lib();
  const auto deadline = Clock::now() + kAnswerBound;
  bool all = true;
  // The server answers a connection's requests in the order they were sent,
  // so they are waited for in that order.
  std::size_t next = 0;
  while (!dead_ && next < operations.size()) {
    pa_operation* operation = operations[next];
    if (operation == nullptr) {
      all = false;
      if (pa.pa_context_get_state(context_) != PA_CONTEXT_READY) dead_ = true;
      ++next;
      continue;
    }
    const pa_operation_state_t state = pa.pa_operation_get_state(operation);
    if (state != PA_OPERATION_RUNNING) {
      all = all && state == PA_OPERATION_DONE;
      ++next;
      continue;
    }
    if (pa.pa_context_get_state(context_) != PA_CONTEXT_READY || Clock::now() >= deadline ||
        !turn(deadline)) {
      dead_ = true;
    }
  }
  // When the connection goes, libpulse ends the requests still waiting as
  // failed: those answers are not the server's.
  if (pa.pa_context_get_state(context_) != PA_CONTEXT_READY) dead_ = true;
  for (pa_operation* operation : operations) {
    if (operation == nullptr) continue;
    // Given up: no answer reaches the caller's records after this.
    if (pa.pa_operation_get_state(operation) == PA_OPERATION_RUNNING) {
      pa.pa_operation_cancel(operation);
    }
    pa.pa_operation_unref(operation);
  }
  return all && !dead_ && next == operations.size();
}

pa_operation* PulseClient::send_server_info(PulseServer& out) {
  if (dead_) return nullptr;
  return lib().pa_context_get_server_info(context_, take_server, &out);
}

pa_operation* PulseClient::send_list(bool sink, std::vector<PulseNode>& out) {
  if (dead_) return nullptr;
  const PulseLib& pa = lib();
  return sink ? pa.pa_context_get_sink_info_list(context_, gather<pa_sink_info>, &out)
              : pa.pa_context_get_source_info_list(context_, gather<pa_source_info>, &out);
}

pa_operation* PulseClient::send_node(bool sink, std::uint32_t index,
                                     std::vector<PulseNode>& out) {
  if (dead_) return nullptr;
  const PulseLib& pa = lib();
  return sink ? pa.pa_context_get_sink_info_by_index(context_, index, gather<pa_sink_info>,
                                                     &out)
              : pa.pa_context_get_source_info_by_index(context_, index,
                                                       gather<pa_source_info>, &out);
}

pa_operation* PulseClient::send_volume(bool sink, std::uint32_t index, const pa_cvolume& volume,
                                       bool& made) {
  if (dead_) return nullptr;
  const PulseLib& pa = lib();
  return sink ? pa.pa_context_set_sink_volume_by_index(context_, index, &volume, take_answer,
                                                       &made)
              : pa.pa_context_set_source_volume_by_index(context_, index, &volume, take_answer,
                                                         &made);
}

pa_operation* PulseClient::send_mute(bool sink, std::uint32_t index, bool mute, bool& made) {
  if (dead_) return nullptr;
  const PulseLib& pa = lib();
  return sink ? pa.pa_context_set_sink_mute_by_index(context_, index, mute ? 1 : 0, take_answer,
                                                     &made)
              : pa.pa_context_set_source_mute_by_index(context_, index, mute ? 1 : 0,
                                                       take_answer, &made);
}

pa_operation* PulseClient::send_port(bool sink, std::uint32_t index, const std::string& port,
                                     bool& made) {
  if (dead_) return nullptr;
  const PulseLib& pa = lib();
  return sink ? pa.pa_context_set_sink_port_by_index(context_, index, port.c_str(), take_answer,
                                                     &made)
              : pa.pa_context_set_source_port_by_index(context_, index, port.c_str(),
                                                       take_answer, &made);
}

pa_operation* PulseClient::send_default(bool sink, const std::string& name, bool& made) {
  if (dead_) return nullptr;
  const PulseLib& pa = lib();
  return sink ? pa.pa_context_set_default_sink(context_, name.c_str(), take_answer, &made)
              : pa.pa_context_set_default_source(context_, name.c_str(), take_answer, &made);
}

pa_operation* PulseClient::send_streams(bool playback, std::vector<PulseStream>& out) {
  if (dead_) return nullptr;
  const PulseLib& pa = lib();
  return playback ? pa.pa_context_get_sink_input_info_list(
                        context_, gather_streams<pa_sink_input_info>, &out)
                  : pa.pa_context_get_source_output_info_list(
                        context_, gather_streams<pa_source_output_info>, &out);
}

pa_operation* PulseClient::send_stream(bool playback, std::uint32_t index,
                                       std::vector<PulseStream>& out) {
  if (dead_) return nullptr;
  const PulseLib& pa = lib();
  return playback ? pa.pa_context_get_sink_input_info(context_, index,
                                                      gather_streams<pa_sink_input_info>, &out)
                  : pa.pa_context_get_source_output_info(
                        context_, index, gather_streams<pa_source_output_info>, &out);
}

pa_operation* PulseClient::send_stream_volume(bool playback, std::uint32_t index,
                                              const pa_cvolume& volume, bool& made) {
  if (dead_) return nullptr;
  const PulseLib& pa = lib();
  return playback ? pa.pa_context_set_sink_input_volume(context_, index, &volume, take_answer,
                                                        &made)
                  : pa.pa_context_set_source_output_volume(context_, index, &volume, take_answer,
                                                           &made);
}

pa_operation* PulseClient::send_stream_mute(bool playback, std::uint32_t index, bool mute,
                                            bool& made) {
  if (dead_) return nullptr;
  const PulseLib& pa = lib();
  return playback ? pa.pa_context_set_sink_input_mute(context_, index, mute ? 1 : 0, take_answer,
                                                      &made)
                  : pa.pa_context_set_source_output_mute(context_, index, mute ? 1 : 0,
                                                         take_answer, &made);
}

pa_operation* PulseClient::send_move(bool playback, std::uint32_t index, const std::string& device,
                                     bool& made) {
  if (dead_) return nullptr;
  const PulseLib& pa = lib();
  return playback ? pa.pa_context_move_sink_input_by_name(context_, index, device.c_str(),
                                                          take_answer, &made)
                  : pa.pa_context_move_source_output_by_name(context_, index, device.c_str(),
                                                             take_answer, &made);
}

pa_operation* PulseClient::send_rules(PulseRules& out) {
  if (dead_) return nullptr;
  return lib().pa_ext_stream_restore_read(context_, gather_rules, &out);
}

pa_operation* PulseClient::send_rule_writes(std::span<const PulseRule> rules, bool& made) {
  if (dead_ || rules.empty()) return nullptr;
  std::vector<pa_ext_stream_restore_info> infos;
  infos.reserve(rules.size());
  for (const PulseRule& rule : rules) {
    pa_ext_stream_restore_info info{};
    info.name = rule.key.c_str();
    info.channel_map = rule.channel_map;
    info.volume = rule.volume;
    info.device = rule.device.empty() ? nullptr : rule.device.c_str();
    info.mute = rule.mute ? 1 : 0;
    infos.push_back(info);
  }
  // libpulse copies the rules into its request before it returns. A rule
  // replaces the one of its key, the others stay: PulseAudio's "merge"
  // would leave a rule that exists as it was, and "set" would drop every
  // other. The streams running are written apart, so the rules are not
  // applied to them.
  return lib().pa_ext_stream_restore_write(context_, PA_UPDATE_REPLACE, infos.data(),
                                           static_cast<unsigned>(infos.size()), 0, take_answer,
                                           &made);
}

void PulseClient::take_event(pa_context*, pa_subscription_event_type_t type, std::uint32_t index,
                             void* self) {
  const int operation = type & PA_SUBSCRIPTION_EVENT_TYPE_MASK;
  PulseEvent event;
  switch (type & PA_SUBSCRIPTION_EVENT_FACILITY_MASK) {
    case PA_SUBSCRIPTION_EVENT_SINK:
      event.kind = PulseEvent::kSink;
      break;
    case PA_SUBSCRIPTION_EVENT_SOURCE:
      event.kind = PulseEvent::kSource;
      break;
    case PA_SUBSCRIPTION_EVENT_SINK_INPUT:
      event.kind = PulseEvent::kPlayback;
      break;
    case PA_SUBSCRIPTION_EVENT_SOURCE_OUTPUT:
      event.kind = PulseEvent::kRecord;
      break;
    default:
      return;
  }
  event.changed = operation == PA_SUBSCRIPTION_EVENT_CHANGE;
  if (event.changed && event.kind != PulseEvent::kSink && event.kind != PulseEvent::kSource) return;
  event.added = operation == PA_SUBSCRIPTION_EVENT_NEW;
  event.index = index;
  static_cast<PulseClient*>(self)->events_.push_back(event);
}

pa_operation* PulseClient::send_subscribe(bool& made) {
  if (dead_) return nullptr;
  const PulseLib& pa = lib();
  pa.pa_context_set_subscribe_callback(context_, take_event, this);
  const auto mask = static_cast<pa_subscription_mask_t>(
      PA_SUBSCRIPTION_MASK_SINK | PA_SUBSCRIPTION_MASK_SOURCE | PA_SUBSCRIPTION_MASK_SINK_INPUT |
      PA_SUBSCRIPTION_MASK_SOURCE_OUTPUT);
  return pa.pa_context_subscribe(context_, mask, take_answer, &made);
}

bool PulseClient::listen(Clock::time_point deadline) {
  const PulseLib& pa = lib();
  while (!dead_ && events_.empty() && Clock::now() < deadline) {
    if (!turn(deadline) || pa.pa_context_get_state(context_) != PA_CONTEXT_READY) dead_ = true;
  }
  // What came with the first event (a sink's monitor after the sink) is
  // taken in too, without waiting for more.
  while (!dead_ && !events_.empty()) {
    const std::size_t kept = events_.size();
    if (!turn(Clock::now()) || pa.pa_context_get_state(context_) != PA_CONTEXT_READY) {
      dead_ = true;
    }
    if (events_.size() == kept) break;
  }
  return !dead_;
}

}  // namespace quorvel::pulse
