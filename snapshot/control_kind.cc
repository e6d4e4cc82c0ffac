#include "snapshot/control_kind.h"

#include "platform/mixer.h"

namespace quorvel {

CaptureKind capture_kind(std::uint32_t control_type) {
  switch (control_type) {
    case ctrl::kBooleanMeter:
    case ctrl::kSignedMeter:
      return CaptureKind::kSingleCh1;
    case ctrl::kPeakMeter:
    case ctrl::kUnsignedMeter:
    case ctrl::kBoolean:
    case ctrl::kOnOff:
    case ctrl::kMute:
    case ctrl::kMono:
    case ctrl::kLoudness:
    case ctrl::kStereoEnh:
    case ctrl::kButton:
    case ctrl::kSigned:
    case ctrl::kUnsigned:
    case ctrl::kDecibels:
    case ctrl::kPercent:
    case ctrl::kQSoundPan:
    case ctrl::kEqualizer:
    case ctrl::kMicroTime:
    case ctrl::kMilliTime:
    case ctrl::kSingleSelect:
      return CaptureKind::kSingle;
    case ctrl::kSlider:
    case ctrl::kPan:
    case ctrl::kFader:
    case ctrl::kVolume:
    case ctrl::kBass:
    case ctrl::kTreble:
      return CaptureKind::kPerChannel;
    case ctrl::kMux:
      return CaptureKind::kMuxList;
    case ctrl::kMultipleSelect:
    case ctrl::kMixer:
      return CaptureKind::kMixerList;
    default:
      return CaptureKind::kNothing;
  }
}

}  // namespace quorvel
