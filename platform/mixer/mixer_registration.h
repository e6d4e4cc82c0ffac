// How a mixer back-end is reached: each back-end folder gives one
// registration, and the program's list of them (app/mixer_backends.cc)
// chooses among them by the QUORVEL_MIXER environment variable.
#pragma once

#include <memory>
#include <string>

#include "common/report.h"
#include "common/result.h"
#include "platform/mixer/mixer.h"

namespace quorvel {

// A mixer opened for one run.
class OpenedMixer {
 public:
  virtual ~OpenedMixer() = default;
  virtual Mixer& mixer() = 0;
  // Called once the run is over: keeps what it changed where the back-end
  // must do so itself (a simulated device rewrites its file). A failure
  // says what was not kept, and why.
  virtual Result keep_changes() { return Result(); }
  // Called while the run waits for something that may take long (its
  // document fetched, or read from a FIFO), with no description held: lets other
  // runs have the mixer meanwhile, where the back-end holds it for the run.
  virtual void pause() {}
  // Called when that wait is over: takes the mixer again, and where it may
  // have changed meanwhile reads it again; gives true when it did, and the
  // run must describe it again. Fails, saying why, when it cannot be had.
  virtual Expected<bool> resume() { return false; }
};

// A mixer that keeps its own state (a sound card): the mixer alone.
std::unique_ptr<OpenedMixer> opened_mixer(std::unique_ptr<Mixer> mixer);

// What opening a mixer gives: the mixer (null where an opener may find
// none, as the machine's own mixer of a kind), or why it could not be had.
using MixerOpening = Expected<std::unique_ptr<OpenedMixer>>;

struct MixerRegistration {
  // QUORVEL_MIXER=KIND:NAME names the mixer NAME of this back-end.
  const char* kind = nullptr;
  // What NAME is, for messages ("PATH, a simulated device file"); null
  // when the back-end's mixers cannot be named.
  const char* name_form = nullptr;
  // Each opener says what it must say as it opens (a wait for a device
  // another run holds) to `reporter`.
  // Opens the mixer `name` (never empty) names; fails saying why.
  MixerOpening (*open_named)(const std::string& name, Reporter& reporter) = nullptr;
  // Opens the machine's own mixer of this kind, for QUORVEL_MIXER unset:
  // gives it, or null when the machine has none of this kind, or fails
  // saying why it could not look. Null for a back-end that is never the
  // machine's mixer.
  MixerOpening (*open_default)(Reporter& reporter) = nullptr;
  // Opens what QUORVEL_MIXER=KIND alone names: the back-end's own default
  // mixer of its kind (a user's sound server, ALSA's "default"); fails
  // saying why. Null when KIND alone names nothing.
  MixerOpening (*open_bare)(Reporter& reporter) = nullptr;
  // Whether something on the machine says that this back-end's mixer is
  // the machine's (a sound server named in the environment, or its socket
  // in the user's runtime folder): open_default's failure is then the run's,
  // and no later back-end is tried, so that a run never falls back to
  // another mixer than the one the user means. Null: never.
  bool (*claims_machine)() = nullptr;
};

}  // namespace quorvel
