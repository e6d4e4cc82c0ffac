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

#include "platform/mixer/checked_mixer.h"

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

// The service: the base checks every call's arguments (handles, sizes,
// arrays, query kinds), then the call goes to winmm, which checks the rest.
class WinmmMixer final : public CheckedMixer {
 public:
  WinmmMixer() = default;

 private:
  unsigned do_device_count() override;
  MixerResult do_open(unsigned device, std::unique_ptr<OpenDevice>& out) override;
  MixerResult do_close(OpenDevice& open) override;
  MixerResult do_get_dev_caps(OpenDevice& open, MixerCaps& caps) override;
  MixerResult do_get_line_info(OpenDevice& open, MixerLine& line, LineQuery query) override;
  MixerResult do_get_line_controls(OpenDevice& open, MixerLineControls& controls,
                                   ControlsQuery query) override;
  MixerResult do_get_control_details(OpenDevice& open, MixerControlDetails& details,
                                     DetailsQuery query) override;
  MixerResult do_set_control_details(OpenDevice& open,
                                     const MixerControlDetails& details) override;
};

}  // namespace quorvel
