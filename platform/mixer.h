// The mixer service: the one interface through which the program reads and
// writes an audio mixer. Its operations, records and result codes follow the
// Windows multimedia mixer API one for one, so that the Windows back-end is a
// thin pass-through and every other back-end (the simulated device, ALSA)
// presents its mixer in the same model.
//
// Model
//   A device has destination lines (speakers, recording, ...). Each
//   destination has source lines connected to it. Every line has controls
//   (volume, mute, pan, lists, meters, ...). A control holds one 32-bit value
//   per channel of its line; a list control holds one per item.
//
// Contract for every back-end
//   - Operations never throw; they return a result code.
//   - A handle that did not come from open() on this service, or that was
//     already closed, gives MMSYSERR_INVALHANDLE and changes nothing.
//   - A record whose cbStruct is not the size of its record type, or a null
//     pointer where an array is needed, gives MMSYSERR_INVALPARAM.
//   - On any result other than MMSYSERR_NOERROR the caller's arrays may hold
//     partial data; callers must not use them.
//
//   device_count()
//     Number of mixer devices; 0 means this machine has no mixer.
//   open(device, out)
//     Device numbers run from 0 to device_count() - 1; any other gives
//     MMSYSERR_BADDEVICEID. On success `out` owns a handle that closes itself.
//   get_dev_caps(handle, caps)
//     Fills szPname (NUL-terminated, at most 31 bytes) and cDestinations.
//   get_line_info(handle, line, query)
//     kDestination: reads line.dwDestination; an index at or beyond
//       cDestinations gives MIXERR_INVALLINE.
//     kSource: reads line.dwDestination and line.dwSource; a source index at
//       or beyond that destination's cConnections gives MIXERR_INVALLINE.
//     kLineId: reads line.dwLineID; an unknown id gives MIXERR_INVALLINE.
//     On success fills dwDestination, dwSource, dwLineID, dwComponentType,
//     cChannels, cConnections (0 for sources), cControls and the names.
//   get_line_controls(handle, controls, query)
//     kAll: reads dwLineID and cControls; an unknown line gives
//       MIXERR_INVALLINE; cControls must equal the line's control count and
//       cbmxctrl must be sizeof(MixerControl), else MMSYSERR_INVALPARAM.
//       Fills pamxctrl[0 .. cControls-1] in the service's order.
//     kOneById: reads dwControlID; an unknown control gives
//       MIXERR_INVALCONTROL. cControls must be 1. Fills pamxctrl[0] and sets
//       dwLineID to the line that owns the control.
//   get_control_details(handle, details, query)
//     An unknown dwControlID gives MIXERR_INVALCONTROL.
//     kValue: cbDetails must be 4. cChannels must be 1 or the owning line's
//       channel count; cMultipleItems must be 0 for a control without items
//       and the control's item count for one with items; otherwise
//       MMSYSERR_INVALPARAM. Fills cChannels (times cMultipleItems, when
//       non-zero) 32-bit values, channel-major. cChannels 1 reads channel 0
//       of a control (the control as a whole).
//     kListText: only for controls with items (else MMSYSERR_INVALPARAM);
//       cbDetails must be sizeof(ListText) and cMultipleItems the control's
//       item count. Fills one ListText per item.
//   set_control_details(handle, details)
//     The same shape checks as a kValue read. cChannels 1 sets every channel
//     alike. A value outside the control's bounds, or any write the control
//     refuses (meters are read-only; a MUX must have exactly one item
//     selected), gives MIXERR_INVALVALUE and the control keeps all its
//     values: a write is all or nothing.
//   close(handle)
//     Releases the handle. Normally called by MixerHandle's destructor.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

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

// Line component types used by the back-ends and tests.
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

// Control type classes (the top nibble) and the flags of MixerControl.
inline constexpr std::uint32_t kClassMask = 0xF0000000;
inline constexpr std::uint32_t kClassMeter = 0x10000000;
inline constexpr std::uint32_t kFlagUniform = 0x00000001;
inline constexpr std::uint32_t kFlagMultiple = 0x00000002;
inline constexpr std::uint32_t kFlagDisabled = 0x80000000;
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
  std::uintptr_t dwUser = 0;
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
  std::uint32_t dwLineID = 0;
  std::uint32_t dwControlID = 0;
  std::uint32_t cControls = 0;
  std::uint32_t cbmxctrl = sizeof(MixerControl);
  MixerControl* pamxctrl = nullptr;
};

// Values of a control (the platform's MIXERCONTROLDETAILS).
struct MixerControlDetails {
  std::uint32_t cbStruct = sizeof(MixerControlDetails);
  std::uint32_t dwControlID = 0;
  std::uint32_t cChannels = 0;
  std::uint32_t cMultipleItems = 0;
  std::uint32_t cbDetails = 0;
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

// Name of one item of a list control (MIXERCONTROLDETAILS_LISTTEXTA).
struct ListText {
  std::uint32_t dwParam1 = 0;
  std::uint32_t dwParam2 = 0;
  char szName[kNameChars] = {};
};

enum class LineQuery { kDestination, kSource, kLineId };
enum class ControlsQuery { kAll, kOneById };
enum class DetailsQuery { kValue, kListText };

class MixerService;

// An open mixer handle; closes itself when it goes out of scope.
class MixerHandle {
 public:
  MixerHandle() = default;
  MixerHandle(MixerService* service, std::uintptr_t id) : service_(service), id_(id) {}
  MixerHandle(MixerHandle&& other) noexcept;
  MixerHandle& operator=(MixerHandle&& other) noexcept;
  MixerHandle(const MixerHandle&) = delete;
  MixerHandle& operator=(const MixerHandle&) = delete;
  ~MixerHandle();

  std::uintptr_t id() const { return id_; }
  bool is_open() const { return service_ != nullptr; }
  // The service the handle was opened on; null when not open.
  MixerService* service() const { return service_; }
  void close();

 private:
  MixerService* service_ = nullptr;
  std::uintptr_t id_ = 0;
};

class MixerService {
 public:
  virtual ~MixerService() = default;

  virtual unsigned device_count() = 0;
  virtual MixerResult open(unsigned device, MixerHandle& out) = 0;
  virtual MixerResult get_dev_caps(const MixerHandle& handle, MixerCaps& caps) = 0;
  virtual MixerResult get_line_info(const MixerHandle& handle, MixerLine& line,
                                    LineQuery query) = 0;
  virtual MixerResult get_line_controls(const MixerHandle& handle,
                                        MixerLineControls& controls,
                                        ControlsQuery query) = 0;
  virtual MixerResult get_control_details(const MixerHandle& handle,
                                          MixerControlDetails& details,
                                          DetailsQuery query) = 0;
  virtual MixerResult set_control_details(const MixerHandle& handle,
                                          const MixerControlDetails& details) = 0;

 protected:
  friend class MixerHandle;
  virtual MixerResult close(std::uintptr_t handle) = 0;
};

// Copies UTF-8 `text` into a fixed name field as the platform's 8-bit text
// (the system code page on Windows, UTF-8 elsewhere), cut to fit with its
// terminator. The cut is made on the UTF-8 text and never splits a
// character, so a name comes out the same on every platform.
std::string utf8_to_system(std::string_view text);  // platform/text_encoding.h

template <std::size_t N>
void copy_name(char (&field)[N], const std::string& text) {
  std::size_t n = text.size() < N - 1 ? text.size() : N - 1;
  if (n < text.size()) {
    while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) --n;
  }
  // A character never takes more bytes in a code page than in UTF-8.
  const std::string native = utf8_to_system(std::string_view(text).substr(0, n));
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
