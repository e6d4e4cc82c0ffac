// The records, result codes and constants of the mixer service. They follow
// the Windows multimedia mixer API field for field (the names too), so that
// the Windows back-end is a thin pass-through and every other back-end
// presents its mixer in the same model.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/os/text_encoding.h"

// The result codes keep the platform's names. The Windows headers define the
// same names as macros, so they are defined here only where those headers
// have not already done so (the Windows back-end includes them first).
#ifndef MMSYSERR_NOERROR
#define MMSYSERR_NOERROR 0u
#define MMSYSERR_ERROR 1u
#define MMSYSERR_BADDEVICEID 2u
#define MMSYSERR_INVALHANDLE 5u
#define MMSYSERR_NODRIVER 6u
#define MMSYSERR_NOMEM 7u
#define MMSYSERR_NOTSUPPORTED 8u
#define MMSYSERR_INVALFLAG 10u
#define MMSYSERR_INVALPARAM 11u
#define MIXERR_INVALLINE 1024u
#define MIXERR_INVALCONTROL 1025u
#define MIXERR_INVALVALUE 1026u
#endif

namespace quorvel {

using MixerResult = std::uint32_t;

// What every call gives once the device itself went away (a sound server
// that stopped answering or closed its connection, a card unplugged): no
// later call can succeed, and a write sent as it went may or may not have
// been made. The Windows service says the same of a driver gone.
inline constexpr MixerResult kMixerGone = MMSYSERR_NODRIVER;

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

// Control type classes (the top nibble) and the flags of MixerControl.
inline constexpr std::uint32_t kClassMask = 0xF0000000;
inline constexpr std::uint32_t kClassMeter = 0x10000000;
inline constexpr std::uint32_t kFlagUniform = 0x00000001;
inline constexpr std::uint32_t kFlagMultiple = 0x00000002;
inline constexpr std::uint32_t kFlagDisabled = 0x80000000;
// Not a Windows flag: the control takes values beyond its declared bounds
// and keeps what the device itself holds (a sound server's volume above
// 100 %), so a value out of bounds is for the device to refuse or take.
inline constexpr std::uint32_t kFlagBeyondBounds = 0x40000000;
}  // namespace ctrl

inline constexpr std::size_t kPnameChars = 32;
inline constexpr std::size_t kShortNameChars = 16;
inline constexpr std::size_t kNameChars = 64;

// Device description (the platform's MIXERCAPSA).
struct MixerCaps {
  std::uint16_t wMid = 0;
  std::uint16_t wPid = 0;
  std::uint32_t vDriverVersion = 0;
  char szPname[kPnameChars] = {};
  std::uint32_t fdwSupport = 0;
  std::uint32_t cDestinations = 0;
};

// Line description (the platform's MIXERLINEA).
struct MixerLine {
  std::uint32_t cbStruct = sizeof(MixerLine);
  std::uint32_t dwDestination = 0;
  std::uint32_t dwSource = 0;
  std::uint32_t dwLineID = 0;
  std::uint32_t fdwLine = 0;
  std::uintptr_t dwUser = 0;  // the driver's own data (the model back-ends keep the caller's)
  std::uint32_t dwComponentType = 0;
  std::uint32_t cChannels = 0;
  std::uint32_t cConnections = 0;
  std::uint32_t cControls = 0;
  char szShortName[kShortNameChars] = {};
  char szName[kNameChars] = {};
  struct {
    std::uint32_t dwType = 0;
    std::uint32_t dwDeviceID = 0;
    std::uint16_t wMid = 0;
    std::uint16_t wPid = 0;
    std::uint32_t vDriverVersion = 0;
    char szPname[kPnameChars] = {};
  } Target;
};

// Control description (the platform's MIXERCONTROLA). Bounds are signed;
// controls with unsigned bounds store the same 32 bits.
struct MixerControl {
  std::uint32_t cbStruct = sizeof(MixerControl);
  std::uint32_t dwControlID = 0;
  std::uint32_t dwControlType = 0;
  std::uint32_t fdwControl = 0;
  std::uint32_t cMultipleItems = 0;
  char szShortName[kShortNameChars] = {};
  char szName[kNameChars] = {};
  struct {
    std::int32_t lMinimum = 0;
    std::int32_t lMaximum = 0;
    std::uint32_t dwReserved[4] = {};
  } Bounds;
  struct {
    std::uint32_t cSteps = 0;
    std::uint32_t dwReserved[5] = {};
  } Metrics;
};

// Query for the controls of a line (the platform's MIXERLINECONTROLSA).
struct MixerLineControls {
  std::uint32_t cbStruct = sizeof(MixerLineControls);
  std::uint32_t dwLineID = 0;     // kAll: the line asked for; kOneById: set to the control's line
  std::uint32_t dwControlID = 0;  // kOneById: the control asked for
  std::uint32_t cControls = 0;    // kAll: the line's control count; kOneById: 1
  std::uint32_t cbmxctrl = sizeof(MixerControl);
  MixerControl* pamxctrl = nullptr;  // cControls records to fill
};

// Values of a control (the platform's MIXERCONTROLDETAILS).
struct MixerControlDetails {
  std::uint32_t cbStruct = sizeof(MixerControlDetails);
  std::uint32_t dwControlID = 0;
  // 1 (the control as a whole: a read gives channel 0, a write sets every
  // channel) or the channel count of the control's line.
  std::uint32_t cChannels = 0;
  // 0 for a control without items; the item count of a list control.
  std::uint32_t cMultipleItems = 0;
  // 4 for values; sizeof(ListText) for item names.
  std::uint32_t cbDetails = 0;
  // Values: cChannels 32-bit values, or cChannels blocks of cMultipleItems
  // item states (1 selected, 0 not; a write takes the first block).
  // Item names: cMultipleItems ListText records.
  void* paDetails = nullptr;
};

// A details record for reading or writing `channels` (times `items`, when
// non-zero) 32-bit values of a control through `slots`.
inline MixerControlDetails value_details(std::uint32_t control_id, std::uint32_t channels,
                                         std::uint32_t items, std::int32_t* slots) {
  MixerControlDetails details;
  details.dwControlID = control_id;
  details.cChannels = channels;
  details.cMultipleItems = items;
  details.cbDetails = sizeof(std::int32_t);
  details.paDetails = slots;
  return details;
}

// Not a Windows record: what a back-end knows of a line beyond MixerLine.
struct LineIdentity {
  // The device's own name of what the line stands for (a sound server's
  // sink or source name), stable across runs; empty when it has none.
  std::string device_name;
  // The identity of the product behind the line, "VENDOR:PRODUCT" as the
  // device reports them (a USB or Bluetooth device's ids); empty when the
  // back-end does not know it.
  std::string product_id;
  // The speaker position of each channel, in channel order, spelled as the
  // document writes it ("front-left", "lfe", "mono", ...); empty when the
  // back-end does not know them.
  std::vector<std::string> positions;
};

// Name of one item of a list control (MIXERCONTROLDETAILS_LISTTEXTA).
struct ListText {
  std::uint32_t dwParam1 = 0;
  std::uint32_t dwParam2 = 0;
  char szName[kNameChars] = {};
};

// Copies UTF-8 `text` into a fixed name field as the platform's 8-bit text
// (the system code page on Windows, UTF-8 elsewhere), cut to fit with its
// terminator. The cut is made on the UTF-8 text and never splits a
// character, so a name comes out the same on every platform.
template <std::size_t N>
void copy_name(char (&field)[N], std::string_view text) {
  std::size_t n = text.size() < N - 1 ? text.size() : N - 1;
  if (n < text.size()) {
    while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) --n;
  }
  // A character never takes more bytes in a code page than in UTF-8.
  const std::string native = utf8_to_system(text.substr(0, n));
  n = native.size() < N - 1 ? native.size() : N - 1;
  native.copy(field, n);
  field[n] = '\0';
}

// Reads a fixed name field up to its terminator (or its end).
template <std::size_t N>
std::string name_of(const char (&field)[N]) {
  std::size_t n = 0;
  while (n < N && field[n] != '\0') ++n;
  return std::string(field, n);
}

}  // namespace quorvel
