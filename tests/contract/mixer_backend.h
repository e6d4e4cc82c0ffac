// A back-end the mixer contract suite runs against: how to make it, and what
// it can show. A clause that needs a feature a back-end lacks is skipped
// there with the reason the back-end gives. Each back-end's own file
// (sim_backends.cc, alsa_backends.cc, ...) instantiates the suite for it.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "platform/mixer/mixer.h"

namespace quorvel::testing {

enum class Feature {
  kWrites,               // keeps what is written (a read-only mixer refuses every write)
  kShapeChecks,          // refuses values in a shape the control does not have
  kBoundChecks,          // refuses values beyond the bounds of a control without device_bounds
  kPerChannelValues,     // reads and writes each channel of a line apart
  kSourceWrites,         // the controls of source lines keep what is written
  kListControls,         // has list controls (items and their names)
  kMux,                  // has a MUX
  kMixerList,            // has a MIXER list
  kMeters,               // has a meter
  kLineWithoutChannels,  // has a line without channels
  kSharedDevice,         // another mixer object on the same device sees its writes
};

// One back-end as the suite uses it: a mixer, and a way to make another
// mixer object on the same device.
class BackendInstance {
 public:
  virtual ~BackendInstance() = default;
  virtual Mixer& mixer() = 0;
  virtual std::unique_ptr<Mixer> another_mixer() = 0;
};

struct MixerBackend {
  std::string name;  // the test's parameter name
  std::function<std::unique_ptr<BackendInstance>()> make;
  // Features the back-end lacks, each with the reason.
  std::map<Feature, std::string> lacks;
  // Why the back-end cannot run on this machine (a package missing), or ""
  // when it can; none: it always can. The suite is skipped with the reason.
  std::function<std::string()> missing = nullptr;

  bool has(Feature feature) const { return lacks.count(feature) == 0; }
};

inline void PrintTo(const MixerBackend& backend, std::ostream* out) { *out << backend.name; }

}  // namespace quorvel::testing
