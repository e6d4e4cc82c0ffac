// Windows only: the mixer on the Windows multimedia mixer (winmm).
//
// A device is opened at its first description and walked once: its
// destinations, each one's sources, every line's controls and the names of
// every list control's items become its ModelLayout. Reads and writes then
// go to winmm one control at a time, on the device's open handle, shaped
// as the caller asks: winmm (or the driver behind it) makes the checks of
// values, bounds and lists itself, and its result codes are the mixer's
// (the same numbers). Names come from winmm as 8-bit text in the system
// code page and go into the layout as UTF-8.
#pragma once

#include <windows.h>
#include <mmsystem.h>

#include <memory>
#include <span>
#include <vector>

#include "platform/mixer/mixer.h"

namespace quorvel {

// Record conversions: what the layout takes of each winmm record. A name
// ends at its terminator or, should winmm fill its field whole, one byte
// before the field's end.
ModelLine line_from_windows(const MIXERLINEA& line);
ModelControl control_from_windows(const MIXERCONTROLA& control);
ModelItem item_from_windows(const MIXERCONTROLDETAILS_LISTTEXTA& text);
// The header of a details call on a control: `channels` (1: the control
// as a whole) times `items` (0 for a control without items) entries of
// `entry_size` bytes in `array`.
MIXERCONTROLDETAILS details_of(DWORD control_id, DWORD channels, DWORD items, void* array,
                               DWORD entry_size);

class WinmmMixer final : public Mixer {
 public:
  WinmmMixer();
  // Closes every device it opened.
  ~WinmmMixer() override;
  WinmmMixer(const WinmmMixer&) = delete;
  WinmmMixer& operator=(const WinmmMixer&) = delete;

  unsigned device_count() override;
  MixerResult describe(unsigned device, const ModelLayout*& layout) override;
  // A read asks winmm for the channels it names (a list control: one
  // channel, a state per item), into zeros: a channel winmm does not fill
  // reads 0.
  void read(unsigned device, std::span<ValueRead> reads) override;
  // A write sends the values as they come (a uniform control: its first
  // value, as the control as a whole; a list control: one state per item).
  void write(unsigned device, std::span<ValueWrite> writes) override;

 private:
  struct Device;
  // Device `device`, opened and described at the first call; null, with
  // `result` saying why, when it cannot be had.
  Device* described(unsigned device, MixerResult& result);

  std::vector<std::unique_ptr<Device>> devices_;  // by device number; null: not opened
};

}  // namespace quorvel
