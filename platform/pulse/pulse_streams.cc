#include "platform/pulse/pulse_streams.h"

#include <algorithm>

namespace quorvel::pulse {
namespace {

bool starts_with(const std::string& text, const char* prefix) {
  return text.rfind(prefix, 0) == 0;
}

// Which side of the listener a position is on: -1 left, 1 right, 0 neither
// (centre, LFE, mono, aux channels).
int side_of(const std::string& position) {
  if (position.find("left") != std::string::npos) return -1;
  if (position.find("right") != std::string::npos) return 1;
  return 0;
}

std::int32_t average(const std::vector<std::int64_t>& values) {
  std::int64_t sum = 0;
  for (std::int64_t value : values) sum += value;
  const auto count = static_cast<std::int64_t>(values.size());
  return static_cast<std::int32_t>((sum + count / 2) / count);
}

bool all_named(std::span<const std::string> positions) {
  return !positions.empty() &&
         std::none_of(positions.begin(), positions.end(),
                      [](const std::string& position) { return position.empty(); });
}

}  // namespace

std::string stream_key(bool playback, const StreamNames& names) {
  if (names.restore_id != nullptr) return names.restore_id;
  const std::string prefix = playback ? kPlaybackKeyPrefix : kRecordKeyPrefix;
  if (names.role != nullptr) return prefix + "media-role:" + names.role;
  if (names.application_id != nullptr) return prefix + "application-id:" + names.application_id;
  if (names.application_name != nullptr) {
    return prefix + "application-name:" + names.application_name;
  }
  if (names.media_name != nullptr) return prefix + "media-name:" + names.media_name;
  return {};
}

bool is_application_key(const std::string& key, bool& playback) {
  if (starts_with(key, kPlaybackKeyPrefix)) {
    playback = true;
    return true;
  }
  if (starts_with(key, kRecordKeyPrefix)) {
    playback = false;
    return true;
  }
  return false;
}

std::string name_in_key(const std::string& key) {
  const std::size_t colon = key.find(':');
  return colon == std::string::npos ? std::string() : key.substr(colon + 1);
}

std::vector<std::int32_t> volume_for_channels(std::span<const std::string> from,
                                              std::span<const std::int32_t> values,
                                              std::span<const std::string> to) {
  std::vector<std::int32_t> volume;
  if (values.empty()) return volume;
  const std::vector<std::int64_t> all(values.begin(), values.end());
  const std::int32_t mean = average(all);
  const bool by_position = from.size() == values.size() && all_named(from) && all_named(to);
  const bool mono_stream = to.size() == 1 && to.front() == "mono";
  for (std::size_t k = 0; k < to.size(); ++k) {
    if (values.size() == 1 || mono_stream) {
      volume.push_back(mean);
      continue;
    }
    if (!by_position) {
      volume.push_back(k < values.size() ? values[k] : mean);
      continue;
    }
    const auto same = std::find(from.begin(), from.end(), to[k]);
    if (same != from.end()) {
      volume.push_back(values[static_cast<std::size_t>(same - from.begin())]);
      continue;
    }
    const int side = side_of(to[k]);
    std::vector<std::int64_t> beside;
    if (side != 0) {
      for (std::size_t v = 0; v < from.size(); ++v) {
        if (side_of(from[v]) == side) beside.push_back(values[v]);
      }
    }
    volume.push_back(beside.empty() ? mean : average(beside));
  }
  return volume;
}

}  // namespace quorvel::pulse
