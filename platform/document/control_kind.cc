#include "platform/document/control_kind.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "platform/document/document_format.h"
#include "platform/mixer/mixer.h"

namespace quorvel {
namespace {

// How a control's values are captured into a document.
enum class CaptureKind {
  kNothing,     // nothing after the name
  kSingle,      // one value without a channel number
  kSingleCh1,   // one value with ch="1"
  kSwitch,      // one value, or one per channel when the channels are apart
  kPerChannel,  // one value per channel, at least one
  kMuxList,     // a mux_list of items
  kMixerList,   // a mixer_list of items
};

struct ControlKinds {
  std::uint32_t type;
  CaptureKind capture;
  WriteKind write;
};

constexpr ControlKinds kKnownTypes[] = {
    {ctrl::kCustom, CaptureKind::kNothing, WriteKind::kNothing},
    {ctrl::kBooleanMeter, CaptureKind::kSingleCh1, WriteKind::kNothing},
    {ctrl::kSignedMeter, CaptureKind::kSingleCh1, WriteKind::kNothing},
    {ctrl::kPeakMeter, CaptureKind::kSingle, WriteKind::kNothing},
    {ctrl::kUnsignedMeter, CaptureKind::kSingle, WriteKind::kNothing},
    {ctrl::kBoolean, CaptureKind::kSwitch, WriteKind::kSwitch},
    {ctrl::kOnOff, CaptureKind::kSwitch, WriteKind::kSwitch},
    {ctrl::kMute, CaptureKind::kSwitch, WriteKind::kSwitch},
    {ctrl::kMono, CaptureKind::kSwitch, WriteKind::kSwitch},
    {ctrl::kLoudness, CaptureKind::kSwitch, WriteKind::kSwitch},
    {ctrl::kStereoEnh, CaptureKind::kSwitch, WriteKind::kSwitch},
    {ctrl::kButton, CaptureKind::kSingle, WriteKind::kUniform},
    {ctrl::kSigned, CaptureKind::kSingle, WriteKind::kUniform},
    {ctrl::kUnsigned, CaptureKind::kSingle, WriteKind::kUniform},
    {ctrl::kDecibels, CaptureKind::kSingle, WriteKind::kUniform},
    {ctrl::kPercent, CaptureKind::kSingle, WriteKind::kUniform},
    {ctrl::kSlider, CaptureKind::kPerChannel, WriteKind::kPerChannel},
    {ctrl::kPan, CaptureKind::kPerChannel, WriteKind::kPerChannel},
    {ctrl::kQSoundPan, CaptureKind::kSingle, WriteKind::kUniform},
    {ctrl::kFader, CaptureKind::kPerChannel, WriteKind::kChannels},
    {ctrl::kVolume, CaptureKind::kPerChannel, WriteKind::kChannels},
    {ctrl::kBass, CaptureKind::kPerChannel, WriteKind::kPerChannel},
    {ctrl::kTreble, CaptureKind::kPerChannel, WriteKind::kPerChannel},
    {ctrl::kEqualizer, CaptureKind::kSingle, WriteKind::kUniform},
    {ctrl::kMicroTime, CaptureKind::kSingle, WriteKind::kUniform},
    {ctrl::kMilliTime, CaptureKind::kSingle, WriteKind::kUniform},
    {ctrl::kSingleSelect, CaptureKind::kSingle, WriteKind::kUniform},
    {ctrl::kMux, CaptureKind::kMuxList, WriteKind::kList},
    {ctrl::kMultipleSelect, CaptureKind::kMixerList, WriteKind::kNothing},
    {ctrl::kMixer, CaptureKind::kMixerList, WriteKind::kList},
    {ctrl::kPortSelect, CaptureKind::kMuxList, WriteKind::kList},
    {ctrl::kDefaultSwitch, CaptureKind::kSingle, WriteKind::kUniform},
};

const ControlKinds* find_type(std::uint32_t control_type) {
  for (const ControlKinds& known : kKnownTypes) {
    if (known.type == control_type) return &known;
  }
  return nullptr;
}

CaptureKind capture_kind(std::uint32_t control_type) {
  const ControlKinds* known = find_type(control_type);
  return known != nullptr ? known->capture : CaptureKind::kNothing;
}

}  // namespace

ValueForm value_form(std::uint32_t control_type, std::uint32_t channels, bool uniform) {
  switch (capture_kind(control_type)) {
    case CaptureKind::kNothing: return {};
    case CaptureKind::kSingle: return {1, false};
    case CaptureKind::kSingleCh1: return {1, true};
    case CaptureKind::kSwitch:
      if (!uniform && channels > 1) return {channels, true};
      return {1, false};
    case CaptureKind::kPerChannel: return {std::max<std::uint32_t>(channels, 1), true};
    case CaptureKind::kMuxList: return {0, false, doc::kMuxList};
    case CaptureKind::kMixerList: return {0, false, doc::kMixerList};
  }
  return {};
}

WriteKind write_kind(std::uint32_t control_type) {
  const ControlKinds* known = find_type(control_type);
  return known != nullptr ? known->write : WriteKind::kUnknown;
}

bool is_channel_switch(std::uint32_t control_type) {
  return capture_kind(control_type) == CaptureKind::kSwitch;
}

bool is_volume_control(std::uint32_t control_type) {
  return control_type == ctrl::kFader || control_type == ctrl::kVolume;
}

long volume_percent(std::int64_t value) {
  return std::lround(static_cast<double>(value) * 100.0 / 65535.0);
}

std::string server_volume_decibels(std::int64_t value) {
  if (value <= 0) return "-inf dB";
  char text[32];
  const double decibels = 60.0 * std::log10(static_cast<double>(value) / 65535.0);
  // Never "-0.00": a volume a hair under 100 % shows as 0.00 dB.
  std::snprintf(text, sizeof text, "%.2f dB", std::abs(decibels) < 0.005 ? 0.0 : decibels);
  return text;
}

std::string value_with_percent(std::uint32_t control_type, std::int64_t value) {
  std::string text = std::to_string(value);
  if (!is_volume_control(control_type)) return text;
  text += " (";
  text += std::to_string(volume_percent(value));
  text += "%)";
  return text;
}

}  // namespace quorvel
