// libpulse, the sound server's client library, loaded when the server
// back-end is first used (runtime_library.h): runs that never reach a sound
// server never map it, and the program builds without its headers. The few
// types and functions the back-end uses are declared here as libpulse 16
// has them (the structures whose fields are read match its layout field for
// field; their later fields are left out where only pointers to them are
// used).
#pragma once

#include <cstdint>
#include <string>

#include "common/result.h"
#include "platform/os/runtime_library.h"

extern "C" {

struct pa_mainloop;
struct pa_mainloop_api;
struct pa_context;
struct pa_operation;
struct pa_proplist;
struct pa_format_info;
struct pa_spawn_api;

using pa_volume_t = std::uint32_t;
using pa_usec_t = std::uint64_t;

enum pa_context_state_t : int {
  PA_CONTEXT_UNCONNECTED,
  PA_CONTEXT_CONNECTING,
  PA_CONTEXT_AUTHORIZING,
  PA_CONTEXT_SETTING_NAME,
  PA_CONTEXT_READY,
  PA_CONTEXT_FAILED,
  PA_CONTEXT_TERMINATED,
};

enum pa_operation_state_t : int {
  PA_OPERATION_RUNNING,
  PA_OPERATION_DONE,
  PA_OPERATION_CANCELLED,
};

enum pa_context_flags_t : int {
  PA_CONTEXT_NOFLAGS = 0,
  PA_CONTEXT_NOAUTOSPAWN = 1,
  PA_CONTEXT_NOFAIL = 2,
};

enum pa_channel_position_t : int {};

inline constexpr int PA_CHANNELS_MAX = 32;
inline constexpr std::uint32_t PA_INVALID_INDEX = 0xFFFFFFFFu;
inline constexpr pa_volume_t PA_VOLUME_NORM = 0x10000u;
inline constexpr pa_volume_t PA_VOLUME_MAX = 0x7FFFFFFFu;

struct pa_sample_spec {
  int format;
  std::uint32_t rate;
  std::uint8_t channels;
};

struct pa_channel_map {
  std::uint8_t channels;
  pa_channel_position_t map[PA_CHANNELS_MAX];
};

struct pa_cvolume {
  std::uint8_t channels;
  pa_volume_t values[PA_CHANNELS_MAX];
};

// The first fields of a port (the same for sinks and sources).
struct pa_port_info_head {
  const char* name;
  const char* description;
  std::uint32_t priority;
  int available;
};
using pa_sink_port_info = pa_port_info_head;
using pa_source_port_info = pa_port_info_head;

struct pa_sink_info {
  const char* name;
  std::uint32_t index;
  const char* description;
  pa_sample_spec sample_spec;
  pa_channel_map channel_map;
  std::uint32_t owner_module;
  pa_cvolume volume;
  int mute;
  std::uint32_t monitor_source;
  const char* monitor_source_name;
  pa_usec_t latency;
  const char* driver;
  int flags;
  pa_proplist* proplist;
  pa_usec_t configured_latency;
  pa_volume_t base_volume;
  int state;
  std::uint32_t n_volume_steps;
  std::uint32_t card;
  std::uint32_t n_ports;
  pa_sink_port_info** ports;
  pa_sink_port_info* active_port;
  std::uint8_t n_formats;
  pa_format_info** formats;
};

struct pa_source_info {
  const char* name;
  std::uint32_t index;
  const char* description;
  pa_sample_spec sample_spec;
  pa_channel_map channel_map;
  std::uint32_t owner_module;
  pa_cvolume volume;
  int mute;
  std::uint32_t monitor_of_sink;
  const char* monitor_of_sink_name;
  pa_usec_t latency;
  const char* driver;
  int flags;
  pa_proplist* proplist;
  pa_usec_t configured_latency;
  pa_volume_t base_volume;
  int state;
  std::uint32_t n_volume_steps;
  std::uint32_t card;
  std::uint32_t n_ports;
  pa_source_port_info** ports;
  pa_source_port_info* active_port;
  std::uint8_t n_formats;
  pa_format_info** formats;
};

struct pa_server_info {
  const char* user_name;
  const char* host_name;
  const char* server_version;
  const char* server_name;
  pa_sample_spec sample_spec;
  const char* default_sink_name;
  const char* default_source_name;
  std::uint32_t cookie;
  pa_channel_map channel_map;
};

using pa_context_success_cb_t = void (*)(pa_context*, int success, void* userdata);
using pa_sink_info_cb_t = void (*)(pa_context*, const pa_sink_info*, int eol, void* userdata);
using pa_source_info_cb_t = void (*)(pa_context*, const pa_source_info*, int eol, void* userdata);
using pa_server_info_cb_t = void (*)(pa_context*, const pa_server_info*, void* userdata);

// Declared only for their types (the table below takes decltype of each);
// never called by name, so never linked.
pa_mainloop* pa_mainloop_new(void);
void pa_mainloop_free(pa_mainloop*);
pa_mainloop_api* pa_mainloop_get_api(pa_mainloop*);
int pa_mainloop_prepare(pa_mainloop*, int timeout_usec);
int pa_mainloop_poll(pa_mainloop*);
int pa_mainloop_dispatch(pa_mainloop*);
pa_context* pa_context_new(pa_mainloop_api*, const char* name);
int pa_context_connect(pa_context*, const char* server, pa_context_flags_t, const pa_spawn_api*);
void pa_context_disconnect(pa_context*);
void pa_context_unref(pa_context*);
pa_context_state_t pa_context_get_state(const pa_context*);
int pa_context_errno(const pa_context*);
const char* pa_strerror(int error);
pa_operation_state_t pa_operation_get_state(const pa_operation*);
void pa_operation_cancel(pa_operation*);
void pa_operation_unref(pa_operation*);
pa_operation* pa_context_get_server_info(pa_context*, pa_server_info_cb_t, void*);
pa_operation* pa_context_get_sink_info_list(pa_context*, pa_sink_info_cb_t, void*);
pa_operation* pa_context_get_source_info_list(pa_context*, pa_source_info_cb_t, void*);
pa_operation* pa_context_get_sink_info_by_index(pa_context*, std::uint32_t, pa_sink_info_cb_t,
                                                void*);
pa_operation* pa_context_get_source_info_by_index(pa_context*, std::uint32_t,
                                                  pa_source_info_cb_t, void*);
pa_operation* pa_context_set_sink_volume_by_index(pa_context*, std::uint32_t, const pa_cvolume*,
                                                  pa_context_success_cb_t, void*);
pa_operation* pa_context_set_source_volume_by_index(pa_context*, std::uint32_t,
                                                    const pa_cvolume*, pa_context_success_cb_t,
                                                    void*);
pa_operation* pa_context_set_sink_mute_by_index(pa_context*, std::uint32_t, int,
                                                pa_context_success_cb_t, void*);
pa_operation* pa_context_set_source_mute_by_index(pa_context*, std::uint32_t, int,
                                                  pa_context_success_cb_t, void*);
pa_operation* pa_context_set_sink_port_by_index(pa_context*, std::uint32_t, const char*,
                                                pa_context_success_cb_t, void*);
pa_operation* pa_context_set_source_port_by_index(pa_context*, std::uint32_t, const char*,
                                                  pa_context_success_cb_t, void*);
pa_operation* pa_context_set_default_sink(pa_context*, const char*, pa_context_success_cb_t,
                                          void*);
pa_operation* pa_context_set_default_source(pa_context*, const char*, pa_context_success_cb_t,
                                            void*);
const char* pa_channel_position_to_string(pa_channel_position_t);
const char* pa_proplist_gets(const pa_proplist*, const char* key);

}  // extern "C"

// Every libpulse function the back-end calls.
#define QUORVEL_PULSE_FUNCTIONS(X)   \
  X(pa_mainloop_new)                 \
  X(pa_mainloop_free)                \
  X(pa_mainloop_get_api)             \
  X(pa_mainloop_prepare)             \
  X(pa_mainloop_poll)                \
  X(pa_mainloop_dispatch)            \
  X(pa_context_new)                  \
  X(pa_context_connect)              \
  X(pa_context_disconnect)           \
  X(pa_context_unref)                \
  X(pa_context_get_state)            \
  X(pa_context_errno)                \
  X(pa_strerror)                     \
  X(pa_operation_get_state)          \
  X(pa_operation_cancel)             \
  X(pa_operation_unref)              \
  X(pa_context_get_server_info)      \
  X(pa_context_get_sink_info_list)   \
  X(pa_context_get_source_info_list) \
  X(pa_context_get_sink_info_by_index) \
  X(pa_context_get_source_info_by_index) \
  X(pa_context_set_sink_volume_by_index) \
  X(pa_context_set_source_volume_by_index) \
  X(pa_context_set_sink_mute_by_index) \
  X(pa_context_set_source_mute_by_index) \
  X(pa_context_set_sink_port_by_index) \
  X(pa_context_set_source_port_by_index) \
  X(pa_context_set_default_sink)     \
  X(pa_context_set_default_source)   \
  X(pa_channel_position_to_string)   \
  X(pa_proplist_gets)

namespace quorvel::pulse {

struct PulseLib {
  QUORVEL_LIBRARY_TABLE(QUORVEL_PULSE_FUNCTIONS)
};

inline constexpr const char* kPulseLibName = "libpulse.so.0";

// The process's libpulse, loaded at the first call, with its own log
// messages silenced; null when it cannot be loaded, and then `why` (when
// given) says why.
const PulseLib* pulse_lib(std::string* why = nullptr);

// The loaded libpulse; only for code that runs once pulse_lib() gave it.
const PulseLib& lib();

}  // namespace quorvel::pulse
