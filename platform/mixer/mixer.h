// The mixer interface: the one way the program reads and writes an audio
// mixer, whatever the back-end. A mixer has devices numbered from 0. A device
// describes itself once (model_layout.h: destination lines, each with its
// source lines, every line with its controls, every list control with its
// items), reads the values of many controls in one call, and writes a batch
// of changes in one call, saying for each control what it refused and why.
//
// What every back-end keeps to (tests/contract checks it on each):
//   - A line has one or more channels, or shows no controls (a control of a
//     line without channels is not found by its id).
//   - Every value read lies within its control's bounds (model_layout.h says
//     how bounds read); a device that holds a value beyond them (a sound
//     server's volume above 100 %) widens the bounds to cover it.
//   - A uniform control holds one value: a read gives it in every channel
//     and a write takes one value. Any other control keeps its channels
//     apart, and a write of one value sets every channel to it.
//   - A write is all or nothing per control: kMixerRefused, changing
//     nothing, for a value out of bounds (unless the control takes values
//     beyond them and the device does), a list item neither 1 nor 0, a meter,
//     or a single-select list (MUX, SINGLESELECT, a port list) without
//     exactly one item selected.
//   - Once the device went away, every call gives kMixerGone.
// Nothing throws. Descriptions stay valid until the next describe() of the
// same device or the mixer's end.
#pragma once

#include <chrono>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "platform/mixer/control_types.h"
#include "platform/mixer/model_layout.h"

namespace quorvel {

// What a mixer call gives: kMixerOk, or why not. The numbers are what
// messages show ("mixer error 1026"), the same on every system.
using MixerResult = std::uint32_t;
inline constexpr MixerResult kMixerOk = 0;
inline constexpr MixerResult kMixerFailed = 1;      // the device failed the call
inline constexpr MixerResult kMixerNoDevice = 2;    // no device of that number
// The device itself went away (a sound server that stopped answering or
// closed its connection, a card unplugged): no later call can succeed, and a
// write sent as it went may or may not have been made.
inline constexpr MixerResult kMixerGone = 6;
inline constexpr MixerResult kMixerNoMemory = 7;
inline constexpr MixerResult kMixerUnsupported = 8;
inline constexpr MixerResult kMixerBadShape = 11;   // values not in a shape the control has
inline constexpr MixerResult kMixerNoLine = 1024;   // no line of that id
inline constexpr MixerResult kMixerNoControl = 1025;  // no control of that id
inline constexpr MixerResult kMixerRefused = 1026;  // a value the control refuses

// The read of one control's values.
struct ValueRead {
  std::uint32_t control_id = 0;
  // 1: the control as a whole (channel 0; a list control, one state per
  // item, 1 selected and 0 not); else the channel count of the control's
  // line, one value per channel (kMixerBadShape for any other count).
  std::uint32_t channels = 1;
  std::vector<std::int32_t> values;  // filled; zeros after a failure
  MixerResult result = kMixerOk;     // set by the read
};

// The write of one control's values.
struct ValueWrite {
  std::uint32_t control_id = 0;
  // One value for the control as a whole (every channel alike), one per
  // channel of its line, or one state per item of a list control; any other
  // count is kMixerBadShape.
  std::vector<std::int32_t> values;
  MixerResult result = kMixerOk;  // set by the write
  // Set with kMixerGone when the write had been sent as the device went
  // away, so that it may or may not have been made; a write the device
  // never got (or said it did not make) is not in doubt.
  bool in_doubt = false;
};

// One application, by its key: its running streams (all the streams of one
// key, taken together) or, when none runs, the server's rule for the key.
struct MixerApplication {
  // The server's own key ("sink-input-by-application-name:Firefox",
  // "source-output-by-media-role:phone", ...): a stream's identity as its
  // server keeps it, the same for the stream and its rule.
  std::string key;
  // What a user sees: the application's name, else what the key names.
  std::string name;
  bool playback = true;  // plays to a sink; else records from a source
  bool running = false;  // at least one stream of the key runs now
  // Per channel: the speaker position as documents spell them
  // ("front-left", "mono", ...) and the volume on the document's scale
  // (65535 for the server's 100 %; a server's 150 % is above it).
  std::vector<std::string> positions;
  std::vector<std::int32_t> volume;
  bool mute = false;
  // The server name of the sink (or source) it plays to (or records from);
  // empty: the server's own choice (a rule that names no device).
  std::string device;
};

// A change to the application of one key: made to every stream of the key
// now running, and kept in the server's rule for the key, so that a stream
// of it started later takes it too.
struct ApplicationWrite {
  std::string key;
  bool playback = true;
  // Per value: the speaker position (or none at all) and the volume, as in
  // MixerApplication; a stream takes each channel's value by position where
  // both have positions, else by number. Empty: the volume is left alone.
  std::vector<std::string> positions;
  std::vector<std::int32_t> volume;
  bool set_mute = false;  // whether `mute` is to be written
  bool mute = false;
  // The server name of the sink or source to play to or record from; empty:
  // left as it is. It names a device the server has.
  std::string device;
  // Only the streams now running take it; the rule is left as it is (a
  // profile followed places a stream that appeared, and the server keeps
  // what it keeps from that).
  bool streams_only = false;
  MixerResult result = kMixerOk;  // set by the write
};

// A line or an application that appeared on a mixer (a sink loaded, a
// headset plugged in, a program started): its server name, or its key.
struct MixerAppearance {
  bool application = false;
  std::string name;
};

class Mixer {
 public:
  virtual ~Mixer() = default;

  // Number of devices, numbered from 0; 0 when the machine has none.
  virtual unsigned device_count() = 0;
  // Describes device `device`, opening it at the first call: `layout` then
  // points at its description. kMixerNoDevice beyond device_count(); a
  // device that cannot be opened says why.
  virtual MixerResult describe(unsigned device, const ModelLayout*& layout) = 0;
  // Reads every entry of `reads`, setting each one's values and result.
  virtual void read(unsigned device, std::span<ValueRead> reads) = 0;
  // Writes every entry of `writes`, setting each one's result: in order,
  // each after the ones before it, a refused one changing nothing of its
  // control. A write that succeeds has been made when the call returns.
  virtual void write(unsigned device, std::span<ValueWrite> writes) = 0;

  // A sound server's applications (mixers of other kinds keep none, which
  // these defaults say: kMixerUnsupported).
  // Reads every application of device `device` into `out` (replacing what
  // it held), one per key, in order of their keys: the running ones as
  // their first stream has them, the others as their rules have them.
  virtual MixerResult read_applications(unsigned device, std::vector<MixerApplication>& out) {
    (void)device;
    out.clear();
    return kMixerUnsupported;
  }
  // Makes every entry of `writes`, in order, setting each one's result
  // (kMixerUnsupported on a mixer without applications). A key with no
  // stream running changes only the rule.
  virtual void write_applications(unsigned device, std::span<ApplicationWrite> writes) {
    (void)device;
    for (ApplicationWrite& entry : writes) entry.result = kMixerUnsupported;
  }
  // Waits at most `bound` for lines or applications to appear on device 0,
  // and gives (in `out`, replacing what it held) those that appeared since
  // the mixer was opened or since the last call; the next describe() then
  // describes the device as it is now. kMixerUnsupported for a mixer that
  // cannot tell (only a sound server can), kMixerGone once it went away.
  virtual MixerResult wait_for_appearances(std::chrono::milliseconds bound,
                                           std::vector<MixerAppearance>& out) {
    (void)bound;
    out.clear();
    return kMixerUnsupported;
  }
};

// Reads one control: its values, or the failure's result.
MixerResult read_control(Mixer& mixer, std::uint32_t control_id, std::uint32_t channels,
                         std::vector<std::int32_t>& values);
// Writes one control.
MixerResult write_control(Mixer& mixer, std::uint32_t control_id,
                          std::vector<std::int32_t> values);

}  // namespace quorvel
