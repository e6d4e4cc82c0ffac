// The base of a back-end that describes each device once as a ModelLayout
// (the simulated device, an ALSA card, a sound server). ModelMixer keeps the
// layouts, finds controls by id and makes the checks the interface promises
// (mixer.h: shapes, bounds, read-only meters, list selections); the back-end
// itself only reads and writes values.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "platform/mixer/mixer.h"

namespace quorvel {

class ModelMixer : public Mixer {
 public:
  MixerResult describe(unsigned device, const ModelLayout*& layout) final;
  void read(unsigned device, std::span<ValueRead> reads) final;
  void write(unsigned device, std::span<ValueWrite> writes) final;

 protected:
  // A write that passed the checks, for write_batch.
  struct CheckedWrite {
    ModelControl* control = nullptr;
    std::span<const std::int32_t> values;  // as write_values takes them
    MixerResult* result = nullptr;         // where its result goes
  };

  // Gives device `device` its layout (before or at its first describe; again
  // only while no caller holds the old one). Where ids repeat, the first
  // line or control with an id is found by it.
  void set_layout(unsigned device, ModelLayout layout);
  // A device's layout; null before set_layout.
  const ModelLayout* layout(unsigned device) const;
  // A device's control by id (a control of a line without channels is
  // none); null when there is no such control.
  const ModelControl* control_by_id(unsigned device, std::uint32_t control_id) const;

  // The hooks.
  // Called for a device without a layout: opens it and gives its layout
  // with set_layout, or says why not (kMixerGone when it cannot be had).
  // A back-end that gives every layout up front needs none.
  virtual MixerResult load_device(unsigned device);
  // Reads a control into `values`: one value per channel of a control
  // without items (one value: the control as a whole; a uniform control is
  // only ever read so), or one state per item of a list control.
  virtual MixerResult read_values(unsigned device, const ModelControl& control,
                                  std::span<std::int32_t> values) = 0;
  // Writes `values`, shaped as read_values reads them (one value: every
  // channel alike; a uniform control is only ever written so), which are
  // within the bounds (unless the control has device_bounds) and keep a
  // list's rules. A back-end with rules of its own refuses with
  // kMixerRefused before it changes anything. A device_bounds control's
  // bounds are widened here to cover what the device took.
  virtual MixerResult write_values(unsigned device, ModelControl& control,
                                   std::span<const std::int32_t> values) = 0;
  // Makes the checked writes of one write() call, in order, each result set
  // as write_values gives it; by default one write_values after another. A
  // back-end that can send them together (a sound server) overrides it.
  virtual void write_batch(unsigned device, std::span<CheckedWrite> writes);
  // Whether a write that write_batch gave kMixerGone may have been made all
  // the same (a request sent to a server that stopped answering), rather
  // than refused by a device that is no longer there.
  virtual bool gone_writes_in_doubt() const { return false; }

 private:
  // The device's layout, loaded when it has none yet; null (with `result`
  // saying why) when there is no such device or it cannot be had.
  ModelLayout* loaded(unsigned device, MixerResult& result);

  std::vector<std::unique_ptr<ModelLayout>> devices_;  // by device number; null: no layout yet
};

}  // namespace quorvel
