// alsa-lib, loaded when the ALSA back-end is first used (runtime_library.h):
// runs that never use ALSA (a simulated device, the usage text) never map
// it. Its header gives the types and constants only.
#pragma once

#include <alsa/asoundlib.h>

#include <string>

#include "common/result.h"
#include "platform/os/runtime_library.h"

// Every alsa-lib function the back-end calls.
#define QUORVEL_ALSA_FUNCTIONS(X)                                                      \
  X(snd_lib_error_set_handler)                                                         \
  X(snd_strerror)                                                                      \
  X(snd_card_next)                                                                     \
  X(snd_config_update_ref)                                                             \
  X(snd_config_unref)                                                                  \
  X(snd_config_search_definition)                                                      \
  X(snd_config_search)                                                                 \
  X(snd_config_get_string)                                                             \
  X(snd_config_delete)                                                                 \
  X(snd_ctl_open)                                                                      \
  X(snd_ctl_close)                                                                     \
  X(snd_ctl_card_info_malloc)                                                          \
  X(snd_ctl_card_info_free)                                                            \
  X(snd_ctl_card_info)                                                                 \
  X(snd_ctl_card_info_get_mixername)                                                   \
  X(snd_ctl_card_info_get_name)                                                        \
  X(snd_ctl_elem_id_malloc)                                                            \
  X(snd_ctl_elem_id_free)                                                              \
  X(snd_ctl_elem_id_set_interface)                                                     \
  X(snd_ctl_elem_id_set_name)                                                          \
  X(snd_ctl_elem_id_set_index)                                                         \
  X(snd_ctl_elem_info_malloc)                                                          \
  X(snd_ctl_elem_info_free)                                                            \
  X(snd_ctl_elem_info_get_type)                                                        \
  X(snd_ctl_elem_info_get_count)                                                       \
  X(snd_ctl_elem_info_get_items)                                                       \
  X(snd_ctl_elem_info_set_item)                                                        \
  X(snd_ctl_elem_info_get_item_name)                                                   \
  X(snd_ctl_elem_value_malloc)                                                         \
  X(snd_ctl_elem_value_free)                                                           \
  X(snd_ctl_elem_value_clear)                                                          \
  X(snd_ctl_elem_value_set_integer)                                                    \
  X(snd_ctl_elem_value_set_enumerated)                                                 \
  X(snd_hctl_ctl)                                                                      \
  X(snd_hctl_find_elem)                                                                \
  X(snd_hctl_elem_info)                                                                \
  X(snd_hctl_elem_write)                                                               \
  X(snd_mixer_open)                                                                    \
  X(snd_mixer_attach)                                                                  \
  X(snd_mixer_selem_register)                                                          \
  X(snd_mixer_load)                                                                    \
  X(snd_mixer_close)                                                                   \
  X(snd_mixer_get_hctl)                                                                \
  X(snd_mixer_first_elem)                                                              \
  X(snd_mixer_elem_next)                                                               \
  X(snd_mixer_elem_get_type)                                                           \
  X(snd_mixer_class_get_event)                                                         \
  X(snd_mixer_selem_get_name)                                                          \
  X(snd_mixer_selem_get_index)                                                         \
  X(snd_mixer_selem_is_enumerated)                                                     \
  X(snd_mixer_selem_is_enum_capture)                                                   \
  X(snd_mixer_selem_get_enum_items)                                                    \
  X(snd_mixer_selem_get_enum_item)                                                     \
  X(snd_mixer_selem_set_enum_item)                                                     \
  X(snd_mixer_selem_has_playback_channel)                                              \
  X(snd_mixer_selem_has_capture_channel)                                               \
  X(snd_mixer_selem_has_common_volume)                                                 \
  X(snd_mixer_selem_has_common_switch)                                                 \
  X(snd_mixer_selem_has_playback_volume)                                               \
  X(snd_mixer_selem_has_playback_switch)                                               \
  X(snd_mixer_selem_has_capture_volume)                                                \
  X(snd_mixer_selem_has_capture_switch)                                                \
  X(snd_mixer_selem_has_capture_switch_exclusive)                                      \
  X(snd_mixer_selem_get_capture_group)                                                 \
  X(snd_mixer_selem_has_playback_volume_joined)                                        \
  X(snd_mixer_selem_has_playback_switch_joined)                                        \
  X(snd_mixer_selem_has_capture_volume_joined)                                         \
  X(snd_mixer_selem_has_capture_switch_joined)                                         \
  X(snd_mixer_selem_get_playback_volume_range)                                         \
  X(snd_mixer_selem_get_capture_volume_range)                                          \
  X(snd_mixer_selem_get_playback_volume)                                               \
  X(snd_mixer_selem_get_capture_volume)                                                \
  X(snd_mixer_selem_get_playback_switch)                                               \
  X(snd_mixer_selem_get_capture_switch)                                                \
  X(snd_mixer_selem_set_playback_volume)                                               \
  X(snd_mixer_selem_set_capture_volume)                                                \
  X(snd_mixer_selem_set_playback_switch)                                               \
  X(snd_mixer_selem_set_capture_switch)

namespace quorvel::alsa {

// The table: one pointer per function, named as the function.
struct AlsaLib {
  QUORVEL_LIBRARY_TABLE(QUORVEL_ALSA_FUNCTIONS)
};

// The soname the back-end loads.
inline constexpr const char* kAlsaLibName = "libasound.so.2";

// Loads the library `soname` and fills `out` with its functions; fails,
// saying why, when it does not load or lacks one of them. A library that
// loaded stays loaded for the life of the process.
Result load_alsa_lib(const char* soname, AlsaLib& out);

// The process's alsa-lib, loaded at the first call, or why it cannot be.
// alsa-lib's own error messages are silenced once it is loaded: the
// back-end reports through result codes.
Expected<const AlsaLib*> alsa_lib();

// The loaded alsa-lib; only for code that runs once alsa_lib() gave it.
const AlsaLib& lib();

}  // namespace quorvel::alsa
