// What the sound server back-end makes of applications' streams, apart
// from libpulse: the key a stream is known by, and a volume given for one
// set of channels taken onto another stream's channels.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace quorvel::pulse {

inline constexpr const char* kPlaybackKeyPrefix = "sink-input-by-";
inline constexpr const char* kRecordKeyPrefix = "source-output-by-";

// The properties of a stream that name it; null where it has none.
struct StreamNames {
  const char* restore_id = nullptr;  // "module-stream-restore.id"
  const char* role = nullptr;        // "media.role"
  const char* application_id = nullptr;
  const char* application_name = nullptr;
  const char* media_name = nullptr;
};

// The key of a playback (or recording) stream, as the server's stream
// restore keeps it: the id the server gave the stream when it has one
// (PulseAudio's module-stream-restore and PipeWire's Pulse server both set
// it), else formed as that module forms it, from the first property of
// role, application id, application name and media name the stream has
// ("sink-input-by-media-role:phone", "source-output-by-application-name:
// Recorder"). Empty when the stream has none of them.
std::string stream_key(bool playback, const StreamNames& names);

// Whether `key` names an application's streams: true, with `playback`
// set, for a key of either prefix.
bool is_application_key(const std::string& key, bool& playback);

// What a key names, for a user: the part after its first ':'.
std::string name_in_key(const std::string& key);

// The volume for a stream whose channels stand at `to` (position names;
// "" for one without a name), from `values` given per channel at `from`
// (empty: values without positions). Each channel of the stream takes:
//   - with one value (mono values among them), that value, and on a mono
//     stream the average of all the values (mono is the mix of them all);
//   - else the value given for its own position, where both sides name
//     positions and the values have it;
//   - else, where both sides name positions, the average of the values on
//     its side (the left ones for "rear-left", the right ones for
//     "side-right"), or of all of them for a channel of neither side or
//     when no value is on its side;
//   - else (positions missing on either side), the value of its number,
//     and a channel beyond the values the average of them all.
// Averages round to the nearest. Empty `values` give an empty volume.
std::vector<std::int32_t> volume_for_channels(std::span<const std::string> from,
                                              std::span<const std::int32_t> values,
                                              std::span<const std::string> to);

}  // namespace quorvel::pulse
