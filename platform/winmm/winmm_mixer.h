// Windows only: the mixer service on the Windows multimedia mixer (winmm).
//
// Every operation is passed straight to the matching winmm function on the
// handle it names. Our records and the Windows ones carry the same fields
// but not the same layout (the Windows records are packed, and their sizes
// differ between 32-bit and 64-bit builds), so each call converts its
// records field by field, with the Windows record's size taken from its
// type. Names pass through as the platform gives them: 8-bit text in the
// system code page.
#pragma once

#include <windows.h>
#include <mmsystem.h>

#include <cstdint>
#include <memory>
#include <unordered_set>

#include "platform/mixer/mixer.h"

namespace quorvel {

// Record conversions. A conversion to a Windows record sets its cbStruct
// from the Windows type; one from a Windows record leaves ours as it was.
void from_windows(const MIXERCAPSA& in, MixerCaps& out);
void from_windows(const MIXERLINEA& in, MixerLine& out);
void to_windows(const MixerLine& in, MIXERLINEA& out);
void from_windows(const MIXERCONTROLA& in, MixerControl& out);
void from_windows(const MIXERCONTROLDETAILS_LISTTEXTA& in, ListText& out);
// The header of a values or list-text call; `array` and `element_size` are
// what the Windows call reads or fills.
void to_windows(const MixerControlDetails& in, void* array, DWORD element_size,
                MIXERCONTROLDETAILS& out);

// The query flags of each kind of call on a handle.
DWORD line_info_flags(LineQuery query);
DWORD line_controls_flags(ControlsQuery query);
DWORD control_details_flags(DetailsQuery query);

// Looks for the control `control_id` on every line of the open mixer, as a
// by-id query would: fills `found` and the id of the line that owns it.
// Returns MIXERR_INVALCONTROL when no line has it.
MMRESULT find_control_on_lines(HMIXEROBJ mixer, DWORD control_id, MIXERCONTROLA& found,
                               DWORD& line_id);

class WinmmMixer : public MixerService {
 public:
  WinmmMixer() = default;
  ~WinmmMixer() override;
  WinmmMixer(const WinmmMixer&) = delete;
  WinmmMixer& operator=(const WinmmMixer&) = delete;

  unsigned device_count() override;
  MixerResult open(unsigned device, MixerHandle& out) override;
  MixerResult get_dev_caps(const MixerHandle& handle, MixerCaps& caps) override;
  MixerResult get_line_info(const MixerHandle& handle, MixerLine& line,
                            LineQuery query) override;
  MixerResult get_line_controls(const MixerHandle& handle, MixerLineControls& controls,
                                ControlsQuery query) override;
  MixerResult get_control_details(const MixerHandle& handle, MixerControlDetails& details,
                                  DetailsQuery query) override;
  MixerResult set_control_details(const MixerHandle& handle,
                                  const MixerControlDetails& details) override;

 protected:
  MixerResult close(std::uintptr_t handle) override;

 private:
  // The winmm handle behind one of ours; null when it is not one of ours.
  HMIXEROBJ object(const MixerHandle& handle) const;

  std::unordered_set<std::uintptr_t> handles_;
};

}  // namespace quorvel
