// The mixer service: the one interface through which the program reads and
// writes an audio mixer. Its operations, records and result codes follow the
// Windows multimedia mixer API one for one, so that the Windows back-end is a
// thin pass-through and every other back-end (the simulated device, ALSA)
// presents its mixer in the same model: a device has destination lines, each
// destination has source lines, every line has controls, and a control holds
// one 32-bit value per channel of its line (a list control, one per item).
//
// Every back-end derives from CheckedMixer (checked_mixer.h), which makes the
// checks below that the call's own arguments decide, once for all of them;
// ModelMixer (model_mixer.h) makes the rest for the back-ends that serve a
// model of their own, and the winmm back-end leaves them to winmm.
// Operations never throw; they return a result code, and on any code but
// MMSYSERR_NOERROR the caller's records and arrays may hold partial data.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/mixer/records.h"

namespace quorvel {

enum class LineQuery {
  kDestination,  // by line.dwDestination
  kSource,       // by line.dwDestination and line.dwSource
  kLineId,       // by line.dwLineID
};
enum class ControlsQuery {
  kAll,      // every control of the line controls.dwLineID
  kOneById,  // the control controls.dwControlID, wherever it is
};
enum class DetailsQuery {
  kValue,     // 32-bit values
  kListText,  // the names of a list control's items
};

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
  // Releases the handle on its service (once; later calls do nothing).
  void close();

 private:
  MixerService* service_ = nullptr;
  std::uintptr_t id_ = 0;
};

// What every back-end shows: a line has one or more channels, or no
// controls at all (a control without channels is not shown). Every value
// read lies within its control's bounds. A control flagged uniform
// (ctrl::kFlagUniform) holds one value: a read gives it in every channel and
// a write of one value per channel takes the first for all of them; any
// other control keeps its channels apart.
//
// Every operation on a handle gives MMSYSERR_INVALHANDLE, changing nothing,
// for a handle that open() of this service did not give or that was closed;
// MMSYSERR_INVALFLAG for a query that is none of the kinds above; and
// MMSYSERR_INVALPARAM for a record whose cbStruct is not its size, a record
// shape the line or control does not have, or a null array where the call
// has an entry to read or fill (records.h says what each field takes).
// How much a device describes, for a caller that sizes a buffer ahead.
struct MixerExtent {
  std::size_t lines = 0;
  std::size_t controls = 0;
  std::size_t channel_values = 0;  // a value per channel of each control
  std::size_t items = 0;           // the items of every list control
  // The bytes of the text the device holds beyond the records' fixed-size
  // names: each line's device name and product identity, and its speaker positions once for each
  // of its controls.
  std::size_t text_bytes = 0;
};

class MixerService {
 public:
  virtual ~MixerService() = default;

  // Number of mixer devices, numbered from 0; 0 when the machine has none.
  virtual unsigned device_count() = 0;
  // Opens device `device` into `out`; MMSYSERR_BADDEVICEID beyond device_count().
  virtual MixerResult open(unsigned device, MixerHandle& out) = 0;
  // Fills the device's name (szPname, at most 31 bytes) and cDestinations.
  virtual MixerResult get_dev_caps(const MixerHandle& handle, MixerCaps& caps) = 0;
  // Describes the line `query` names; MIXERR_INVALLINE for an index beyond
  // cDestinations or cConnections, or an unknown dwLineID.
  virtual MixerResult get_line_info(const MixerHandle& handle, MixerLine& line,
                                    LineQuery query) = 0;
  // Fills pamxctrl with the line's controls in order (kAll; MIXERR_INVALLINE for an
  // unknown line) or one control and its dwLineID (kOneById; MIXERR_INVALCONTROL).
  virtual MixerResult get_line_controls(const MixerHandle& handle,
                                        MixerLineControls& controls,
                                        ControlsQuery query) = 0;
  // Reads a control's values, or a list control's item names (kListText);
  // MIXERR_INVALCONTROL for an unknown control.
  virtual MixerResult get_control_details(const MixerHandle& handle,
                                          MixerControlDetails& details,
                                          DetailsQuery query) = 0;
  // Writes a control's values all or nothing; MIXERR_INVALVALUE, changing nothing, for a
  // value out of bounds, an item not 0 or 1, a meter, or a MUX without one item selected.
  // Where the device itself holds values beyond a control's bounds (a sound server's
  // volume above 100 %), the back-end may take such a value; the control's bounds then
  // cover it in every later description.
  virtual MixerResult set_control_details(const MixerHandle& handle,
                                          const MixerControlDetails& details) = 0;
  // Not a Windows operation: fills what the back-end knows of the line
  // `line_id` beyond its description (an empty identity when it knows
  // nothing more); MIXERR_INVALLINE for an unknown line.
  virtual MixerResult get_line_identity(const MixerHandle& handle, std::uint32_t line_id,
                                        LineIdentity& identity) = 0;
  // Not a Windows operation: fills how much the device describes, counted
  // from what the back-end holds, without a query of its own per line;
  // MMSYSERR_NOTSUPPORTED when it cannot say so cheaply.
  virtual MixerResult get_extent(const MixerHandle& /*handle*/, MixerExtent& /*extent*/) {
    return MMSYSERR_NOTSUPPORTED;
  }

 protected:
  friend class MixerHandle;
  // Releases a handle; MixerHandle calls it.
  virtual MixerResult close(std::uintptr_t handle) = 0;
};

}  // namespace quorvel
