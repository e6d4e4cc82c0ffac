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

#include <cstdint>

#include "platform/mixer/records.h"

namespace quorvel {

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

}  // namespace quorvel
