// The numbers a mixer document records for a line's component type and a
// control's type, and the flags of a control type's class. They are the
// numbers the Windows multimedia mixer gives the same kinds, so that a
// document reads the same whichever system saved it.
#pragma once

#include <cstdint>

namespace quorvel {

// Line component types used by the back-ends and tests.
inline constexpr std::uint32_t kComponentDstMonitor = 0x00000003;
inline constexpr std::uint32_t kComponentDstSpeakers = 0x00000004;
inline constexpr std::uint32_t kComponentDstWaveIn = 0x00000007;
inline constexpr std::uint32_t kComponentSrcUndefined = 0x00001000;

// Control types. A control type is matched exactly, flags play no part.
namespace ctrl {
inline constexpr std::uint32_t kCustom = 0x00000000;
inline constexpr std::uint32_t kBooleanMeter = 0x10010000;
inline constexpr std::uint32_t kSignedMeter = 0x10020000;
inline constexpr std::uint32_t kPeakMeter = 0x10020001;
inline constexpr std::uint32_t kUnsignedMeter = 0x10030000;
inline constexpr std::uint32_t kBoolean = 0x20010000;
inline constexpr std::uint32_t kOnOff = 0x20010001;
inline constexpr std::uint32_t kMute = 0x20010002;
inline constexpr std::uint32_t kMono = 0x20010003;
inline constexpr std::uint32_t kLoudness = 0x20010004;
inline constexpr std::uint32_t kStereoEnh = 0x20010005;
inline constexpr std::uint32_t kButton = 0x21010000;
inline constexpr std::uint32_t kSigned = 0x30020000;
inline constexpr std::uint32_t kUnsigned = 0x30030000;
inline constexpr std::uint32_t kDecibels = 0x30040000;
inline constexpr std::uint32_t kPercent = 0x30050000;
inline constexpr std::uint32_t kSlider = 0x40020000;
inline constexpr std::uint32_t kPan = 0x40020001;
inline constexpr std::uint32_t kQSoundPan = 0x40020002;
inline constexpr std::uint32_t kFader = 0x50030000;
inline constexpr std::uint32_t kVolume = 0x50030001;
inline constexpr std::uint32_t kBass = 0x50030002;
inline constexpr std::uint32_t kTreble = 0x50030003;
inline constexpr std::uint32_t kEqualizer = 0x50030004;
inline constexpr std::uint32_t kMicroTime = 0x60030000;
inline constexpr std::uint32_t kMilliTime = 0x61030000;
inline constexpr std::uint32_t kSingleSelect = 0x70010000;
inline constexpr std::uint32_t kMux = 0x70010001;
inline constexpr std::uint32_t kMultipleSelect = 0x71010000;
inline constexpr std::uint32_t kMixer = 0x71010001;
// Not Windows types; no card back-end writes them, so they pair only with
// their own kind. A sound server's sink or source has them:
// the device's active port: a single-select list of its ports by name;
inline constexpr std::uint32_t kPortSelect = 0x70010002;
// whether the line is the server's default of its kind: a 1 makes it so,
// a 0 is never written (a line stops being the default only when another
// becomes it).
inline constexpr std::uint32_t kDefaultSwitch = 0x20010006;

// Control type classes (the top nibble).
inline constexpr std::uint32_t kClassMask = 0xF0000000;
inline constexpr std::uint32_t kClassMeter = 0x10000000;
}  // namespace ctrl

}  // namespace quorvel
