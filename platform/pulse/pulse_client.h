// One connection to a sound server through libpulse, used synchronously:
// each call sends one request and runs libpulse's main loop in the calling
// thread until the server answers, for at most the bound. A server that
// does not answer in time (or drops the connection) leaves the client dead:
// every later call fails at once, so a stalled server costs one bound per
// run, not one per control.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "common/result.h"
#include "platform/pulse/pulse_lib.h"

namespace quorvel::pulse {

// How long the server has to answer the connection, and each request.
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

struct PulseServer {
  std::string name;  // the server's own name of itself ("pulseaudio", ...)
  std::string default_sink;
  std::string default_source;
};

class PulseClient {
 public:
  // Connects to `server` (a libpulse server string; empty: the user's
  // server, as libpulse finds it), never starting one. Fails saying why when
  // libpulse is missing, or the server refuses or does not answer in time;
  // `absent` (when given) then says whether there is simply no server to
  // reach (no libpulse, nothing listening), rather than one that failed.
  static Result connect(const std::string& server, std::unique_ptr<PulseClient>& out,
                        bool* absent = nullptr);
  ~PulseClient();
  PulseClient(const PulseClient&) = delete;
  PulseClient& operator=(const PulseClient&) = delete;

  // Each asks the server and waits for its answer; false when none came.
  bool server_info(PulseServer& out);
  bool sinks(std::vector<PulseNode>& out);
  bool sources(std::vector<PulseNode>& out);
  // A sink or source by its index: two nodes may share one name, never an
  // index.
  bool node(bool sink, std::uint32_t index, PulseNode& out);

  // Each asks for a change and waits until the server has made it; false
  // when it refused or did not answer.
  bool set_volume(bool sink, std::uint32_t index, const pa_cvolume& volume);
  bool set_mute(bool sink, std::uint32_t index, bool mute);
  bool set_port(bool sink, std::uint32_t index, const std::string& port);
  bool set_default(bool sink, const std::string& name);

  // False once the server stopped answering or the connection went.
  bool alive() const { return !dead_; }

 private:
  PulseClient() = default;
  // Runs the main loop until `operation` is done; false when the bound
  // passed first or the connection went (the client is then dead).
  bool finish(pa_operation* operation);
  bool acknowledged(pa_operation* operation);
  // One turn of the main loop, waiting at most until `deadline`.
  bool turn(std::chrono::steady_clock::time_point deadline);

  pa_mainloop* loop_ = nullptr;
  pa_context* context_ = nullptr;
  bool dead_ = false;
  bool succeeded_ = false;  // the last acknowledgement
};

}  // namespace quorvel::pulse
