// One connection to a sound server through libpulse, used synchronously:
// requests are sent, as many as the caller has at once, and then waited for
// together, libpulse's main loop running in the calling thread until the
// server has answered them all, for at most the bound. A server that does
// not answer in time (or drops the connection) leaves the client dead:
// every later call fails at once, so a stalled server costs one bound per
// run, not one per control.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "common/result.h"
#include "platform/pulse/pulse_lib.h"

namespace quorvel::pulse {

// How long the server has to answer the connection, and each request (or
// each set of requests waited for together).
inline constexpr std::chrono::milliseconds kAnswerBound{2000};

// A sink or a source as the server describes it.
struct PulseNode {
  bool sink = true;
  std::uint32_t index = PA_INVALID_INDEX;  // the server's number of it, for this connection
  std::string name;         // the server's name of it, stable across runs (not always unique)
  // "VENDOR:PRODUCT", the device.vendor.id and device.product.id the server
  // reports for the hardware behind it; empty unless it reports both.
  std::string product_id;
  std::string description;  // what a user sees
  std::uint32_t monitor_of_sink = PA_INVALID_INDEX;  // a source's sink, when it is a monitor
  pa_channel_map channel_map{};
  pa_cvolume volume{};
  bool mute = false;
  std::vector<std::string> ports;
  std::string active_port;  // empty without ports

  bool is_monitor() const { return !sink && monitor_of_sink != PA_INVALID_INDEX; }
};

// An application's stream: a sink input (playback) or a source output.
struct PulseStream {
  bool playback = true;
  std::uint32_t index = PA_INVALID_INDEX;   // the server's number of it
  std::uint32_t device = PA_INVALID_INDEX;  // the index of its sink (or source)
  std::string key;                          // pulse_streams.h; empty: it has none
  std::string application_name;             // empty when it has none
  pa_channel_map channel_map{};
  pa_cvolume volume{};
  bool mute = false;
  bool volume_writable = true;  // whether a client may set its volume
};

// A rule of the server's stream restore: what a stream of the key takes
// when it starts.
struct PulseRule {
  std::string key;
  pa_channel_map channel_map{};
  pa_cvolume volume{};  // no channels: the rule keeps no volume
  std::string device;   // empty: it keeps none
  bool mute = false;
};

// The server's rules, as a read lists them.
struct PulseRules {
  std::vector<PulseRule> rules;
  // Whether the server listed them; not when it has no stream restore (a
  // PulseAudio without module-stream-restore) or the read failed.
  bool listed = false;
};

// Something the server said appeared or went (subscription events).
struct PulseEvent {
  enum Kind { kSink, kSource, kPlayback, kRecord };
  Kind kind = kSink;
  bool added = true;  // new; else removed, or (`changed`) changed
  bool changed = false;  // a sink or source that changed (a stream's changes are not kept)
  std::uint32_t index = PA_INVALID_INDEX;
};

struct PulseServer {
  std::string name;  // the server's own name of itself ("pulseaudio", ...)
  std::string default_sink;
  std::string default_source;
};

// The kind of a failure to reach a sound server when there is simply no
// server to reach (no libpulse, nothing listening), rather than one that
// failed.
inline constexpr int kPulseServerAbsent = 1;

class PulseClient {
 public:
  // Connects to `server` (a libpulse server string; empty: the user's
  // server, as libpulse finds it), never starting one. Fails saying why when
  // libpulse is missing, or the server refuses or does not answer in time
  // (of kind kPulseServerAbsent when no server is there).
  static Expected<std::unique_ptr<PulseClient>> connect(const std::string& server);
  ~PulseClient();
  PulseClient(const PulseClient&) = delete;
  PulseClient& operator=(const PulseClient&) = delete;

  // Each sends a request without waiting for its answer and returns its
  // operation, for wait(); null when it could not be sent (the client dead,
  // or arguments libpulse refuses). The answer goes to what the call names,
  // which must stay where it is until the operation has been waited for:
  // the server's facts; every sink (or source), appended to `out`; the sink
  // or source of an index (two nodes may share one name, never an index),
  // appended to `out` (nothing when there is none); `made`, set when the
  // server acknowledged a change as made.
  pa_operation* send_server_info(PulseServer& out);
  pa_operation* send_list(bool sink, std::vector<PulseNode>& out);
  pa_operation* send_node(bool sink, std::uint32_t index, std::vector<PulseNode>& out);
  pa_operation* send_volume(bool sink, std::uint32_t index, const pa_cvolume& volume,
                            bool& made);
  pa_operation* send_mute(bool sink, std::uint32_t index, bool mute, bool& made);
  pa_operation* send_port(bool sink, std::uint32_t index, const std::string& port,
                          bool& made);
  pa_operation* send_default(bool sink, const std::string& name, bool& made);
  // Applications' streams: every playback (or recording) stream, or the
  // one of an index, appended to `out`; a stream's volume, mute and device
  // (the server's name of a sink or source); the server's stream-restore
  // rules; rules written, each replacing the rule of its key (and only
  // that one), leaving the streams now running alone.
  pa_operation* send_streams(bool playback, std::vector<PulseStream>& out);
  pa_operation* send_stream(bool playback, std::uint32_t index, std::vector<PulseStream>& out);
  pa_operation* send_stream_volume(bool playback, std::uint32_t index, const pa_cvolume& volume,
                                   bool& made);
  pa_operation* send_stream_mute(bool playback, std::uint32_t index, bool mute, bool& made);
  pa_operation* send_move(bool playback, std::uint32_t index, const std::string& device,
                          bool& made);
  pa_operation* send_rules(PulseRules& out);
  pa_operation* send_rule_writes(std::span<const PulseRule> rules, bool& made);

  // Asks the server to tell of sinks, sources and streams that appear or
  // go: from then on, its events are kept (as the main loop runs, in any
  // call) until taken.
  pa_operation* send_subscribe(bool& made);
  // Runs the main loop until an event is kept or `deadline` passes, then
  // takes in whatever else has arrived. False once the connection went.
  bool listen(std::chrono::steady_clock::time_point deadline);
  // The events kept so far, in the order they came; none are kept after.
  std::vector<PulseEvent> take_events() { return std::exchange(events_, {}); }

  // Runs the main loop until every one of `operations` is done, all within
  // one bound, and releases them. False when one of them was not sent, or
  // when the bound passed first or the connection went: the client is then
  // dead, the requests not yet answered are given up, and a refusal may be
  // libpulse's own, not the server's.
  bool wait(std::span<pa_operation* const> operations);

  // False once the server stopped answering or the connection went.
  bool alive() const { return !dead_; }

 private:
  PulseClient() = default;
  // One turn of the main loop, waiting at most until `deadline`.
  bool turn(std::chrono::steady_clock::time_point deadline);

  static void take_event(pa_context*, pa_subscription_event_type_t type, std::uint32_t index,
                         void* self);

  std::vector<PulseEvent> events_;
  pa_mainloop* loop_ = nullptr;
  pa_context* context_ = nullptr;
  bool dead_ = false;
};

}  // namespace quorvel::pulse
