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
inline constexpr pa_channel_position_t PA_CHANNEL_POSITION_INVALID{-1};

enum pa_channel_map_def_t : int {
  PA_CHANNEL_MAP_AIFF,
  PA_CHANNEL_MAP_DEFAULT = PA_CHANNEL_MAP_AIFF,
};

enum pa_update_mode_t : int {
  PA_UPDATE_SET,
  PA_UPDATE_MERGE,
  PA_UPDATE_REPLACE,
};

enum pa_subscription_mask_t : int {
  PA_SUBSCRIPTION_MASK_SINK = 0x0001,
  PA_SUBSCRIPTION_MASK_SOURCE = 0x0002,
  PA_SUBSCRIPTION_MASK_SINK_INPUT = 0x0004,
  PA_SUBSCRIPTION_MASK_SOURCE_OUTPUT = 0x0008,
};

enum pa_subscription_event_type_t : int {
  PA_SUBSCRIPTION_EVENT_SINK = 0x0000,
  PA_SUBSCRIPTION_EVENT_SOURCE = 0x0001,
  PA_SUBSCRIPTION_EVENT_SINK_INPUT = 0x0002,
  PA_SUBSCRIPTION_EVENT_SOURCE_OUTPUT = 0x0003,
  PA_SUBSCRIPTION_EVENT_FACILITY_MASK = 0x000F,
  PA_SUBSCRIPTION_EVENT_NEW = 0x0000,
  PA_SUBSCRIPTION_EVENT_CHANGE = 0x0010,
  PA_SUBSCRIPTION_EVENT_REMOVE = 0x0020,
  PA_SUBSCRIPTION_EVENT_TYPE_MASK = 0x0030,
};

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

// A playback stream (a sink input) and a recording stream (a source
// output); their fields differ in order.
struct pa_sink_input_info {
  std::uint32_t index;
  const char* name;
  std::uint32_t owner_module;
  std::uint32_t client;
  std::uint32_t sink;
  pa_sample_spec sample_spec;
  pa_channel_map channel_map;
  pa_cvolume volume;
  pa_usec_t buffer_usec;
  pa_usec_t sink_usec;
  const char* resample_method;
  const char* driver;
  int mute;
  pa_proplist* proplist;
  int corked;
  int has_volume;
  int volume_writable;
  pa_format_info* format;
};

struct pa_source_output_info {
  std::uint32_t index;
  const char* name;
  std::uint32_t owner_module;
  std::uint32_t client;
  std::uint32_t source;
  pa_sample_spec sample_spec;
  pa_channel_map channel_map;
  pa_usec_t buffer_usec;
  pa_usec_t source_usec;
  const char* resample_method;
  const char* driver;
  pa_proplist* proplist;
  int corked;
  pa_cvolume volume;
  int mute;
  int has_volume;
  int volume_writable;
  pa_format_info* format;
};

// A rule of the stream-restore extension.
struct pa_ext_stream_restore_info {
  const char* name;
  pa_channel_map channel_map;
  pa_cvolume volume;
  const char* device;
  int mute;
};

using pa_context_success_cb_t = void (*)(pa_context*, int success, void* userdata);
using pa_sink_info_cb_t = void (*)(pa_context*, const pa_sink_info*, int eol, void* userdata);
using pa_source_info_cb_t = void (*)(pa_context*, const pa_source_info*, int eol, void* userdata);
using pa_server_info_cb_t = void (*)(pa_context*, const pa_server_info*, void* userdata);
using pa_sink_input_info_cb_t = void (*)(pa_context*, const pa_sink_input_info*, int eol,
                                         void* userdata);
using pa_source_output_info_cb_t = void (*)(pa_context*, const pa_source_output_info*, int eol,
                                            void* userdata);
using pa_ext_stream_restore_read_cb_t = void (*)(pa_context*, const pa_ext_stream_restore_info*,
                                                 int eol, void* userdata);
using pa_context_subscribe_cb_t = void (*)(pa_context*, pa_subscription_event_type_t,
                                           std::uint32_t index, void* userdata);

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
pa_operation* pa_context_get_sink_input_info_list(pa_context*, pa_sink_input_info_cb_t, void*);
pa_operation* pa_context_get_source_output_info_list(pa_context*, pa_source_output_info_cb_t,
                                                     void*);
pa_operation* pa_context_get_sink_input_info(pa_context*, std::uint32_t, pa_sink_input_info_cb_t,
                                             void*);
pa_operation* pa_context_get_source_output_info(pa_context*, std::uint32_t,
                                                pa_source_output_info_cb_t, void*);
pa_operation* pa_context_set_sink_input_volume(pa_context*, std::uint32_t, const pa_cvolume*,
                                               pa_context_success_cb_t, void*);
pa_operation* pa_context_set_source_output_volume(pa_context*, std::uint32_t, const pa_cvolume*,
                                                  pa_context_success_cb_t, void*);
pa_operation* pa_context_set_sink_input_mute(pa_context*, std::uint32_t, int,
                                             pa_context_success_cb_t, void*);
pa_operation* pa_context_set_source_output_mute(pa_context*, std::uint32_t, int,
                                                pa_context_success_cb_t, void*);
pa_operation* pa_context_move_sink_input_by_name(pa_context*, std::uint32_t, const char*,
                                                 pa_context_success_cb_t, void*);
pa_operation* pa_context_move_source_output_by_name(pa_context*, std::uint32_t, const char*,
                                                    pa_context_success_cb_t, void*);
pa_operation* pa_ext_stream_restore_read(pa_context*, pa_ext_stream_restore_read_cb_t, void*);
pa_operation* pa_ext_stream_restore_write(pa_context*, pa_update_mode_t,
                                          const pa_ext_stream_restore_info data[], unsigned n,
                                          int apply_immediately, pa_context_success_cb_t, void*);
pa_operation* pa_context_subscribe(pa_context*, pa_subscription_mask_t, pa_context_success_cb_t,
                                   void*);
void pa_context_set_subscribe_callback(pa_context*, pa_context_subscribe_cb_t, void*);
const char* pa_channel_position_to_string(pa_channel_position_t);
pa_channel_position_t pa_channel_position_from_string(const char*);
pa_channel_map* pa_channel_map_init_extend(pa_channel_map*, unsigned channels,
                                           pa_channel_map_def_t);
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
  X(pa_context_get_sink_input_info_list) \
  X(pa_context_get_source_output_info_list) \
  X(pa_context_get_sink_input_info)  \
  X(pa_context_get_source_output_info) \
  X(pa_context_set_sink_input_volume) \
  X(pa_context_set_source_output_volume) \
  X(pa_context_set_sink_input_mute)  \
  X(pa_context_set_source_output_mute) \
  X(pa_context_move_sink_input_by_name) \
  X(pa_context_move_source_output_by_name) \
  X(pa_ext_stream_restore_read)      \
  X(pa_ext_stream_restore_write)     \
  X(pa_context_subscribe)            \
  X(pa_context_set_subscribe_callback) \
  X(pa_channel_position_to_string)   \
  X(pa_channel_position_from_string) \
  X(pa_channel_map_init_extend)      \
  X(pa_proplist_gets)

namespace quorvel::pulse {

struct PulseLib {
  QUORVEL_LIBRARY_TABLE(QUORVEL_PULSE_FUNCTIONS)
};

inline constexpr const char* kPulseLibName = "libpulse.so.0";

// The process's libpulse, loaded at the first call, with its own log
// messages silenced; or why it cannot be loaded.
Expected<const PulseLib*> pulse_lib();

// The loaded libpulse; only for code that runs once pulse_lib() gave it.
const PulseLib& lib();

}  // namespace quorvel::pulse
