// The base of every mixer back-end: it keeps the table of open handles and
// makes the checks of the contract that the call's own arguments decide
// (handles, device numbers, query kinds, record sizes, arrays), then passes
// the call on to the back-end's do_ operation. A back-end that serves a model
// of its own derives from ModelMixer (model_mixer.h), which makes the checks
// that need the model; one that passes calls to a platform service that
// makes them itself (winmm) derives from this class directly.
//
// Arrays: a null array is refused with MMSYSERR_INVALPARAM whenever the call
// has at least one entry to read or fill, counted from the call's own fields
// (cControls for kAll, 1 for kOneById, cChannels * max(cMultipleItems, 1)
// values, cMultipleItems item names); with nothing to read or fill it may be
// null.
//
// When a call breaks several rules, the first broken in this order decides:
// handle, query kind (MMSYSERR_INVALFLAG), record and element sizes, counts
// fixed by the query, arrays; then the back-end's own checks.
#pragma once

#include <cstdint>
#include <memory>
#include <unordered_map>

#include "platform/mixer/mixer.h"

namespace quorvel {

class CheckedMixer : public MixerService {
 public:
  // What a back-end keeps for one open handle (derive to keep more); it is
  // destroyed when the handle closes or the service goes.
  struct OpenDevice {
    virtual ~OpenDevice() = default;
    unsigned device = 0;  // set by the base after do_open
  };

  CheckedMixer() = default;
  ~CheckedMixer() override;
  CheckedMixer(const CheckedMixer&) = delete;
  CheckedMixer& operator=(const CheckedMixer&) = delete;

  unsigned device_count() final;
  MixerResult open(unsigned device, MixerHandle& out) final;
  MixerResult get_dev_caps(const MixerHandle& handle, MixerCaps& caps) final;
  MixerResult get_line_info(const MixerHandle& handle, MixerLine& line, LineQuery query) final;
  MixerResult get_line_controls(const MixerHandle& handle, MixerLineControls& controls,
                                ControlsQuery query) final;
  MixerResult get_control_details(const MixerHandle& handle, MixerControlDetails& details,
                                  DetailsQuery query) final;
  MixerResult set_control_details(const MixerHandle& handle,
                                  const MixerControlDetails& details) final;
  MixerResult get_line_identity(const MixerHandle& handle, std::uint32_t line_id,
                                LineIdentity& identity) final;
  MixerResult get_extent(const MixerHandle& handle, MixerExtent& extent) final;

 protected:
  // The operations, called once the checks above have passed; `open` is the
  // handle's own state.
  virtual unsigned do_device_count() = 0;
  // Opens `device` (below do_device_count()) into `out`.
  virtual MixerResult do_open(unsigned device, std::unique_ptr<OpenDevice>& out) = 0;
  // Releases the handle's resources; on a failure the handle stays open.
  virtual MixerResult do_close(OpenDevice& open);
  virtual MixerResult do_get_dev_caps(OpenDevice& open, MixerCaps& caps) = 0;
  virtual MixerResult do_get_line_info(OpenDevice& open, MixerLine& line, LineQuery query) = 0;
  virtual MixerResult do_get_line_controls(OpenDevice& open, MixerLineControls& controls,
                                           ControlsQuery query) = 0;
  virtual MixerResult do_get_control_details(OpenDevice& open, MixerControlDetails& details,
                                             DetailsQuery query) = 0;
  virtual MixerResult do_set_control_details(OpenDevice& open,
                                             const MixerControlDetails& details) = 0;
  // By default a line has no identity beyond its description: an empty one
  // for a line get_line_info finds by id.
  virtual MixerResult do_get_line_identity(OpenDevice& open, std::uint32_t line_id,
                                           LineIdentity& identity);
  // By default the back-end cannot say (MMSYSERR_NOTSUPPORTED).
  virtual MixerResult do_get_extent(OpenDevice& open, MixerExtent& extent);

  MixerResult close(std::uintptr_t handle) final;

 private:
  // The state of one of this service's open handles; null for any other.
  OpenDevice* find(const MixerHandle& handle);

  std::unordered_map<std::uintptr_t, std::unique_ptr<OpenDevice>> handles_;
};

}  // namespace quorvel
