// The run sequence of the program: build the snapshot, read the arguments,
// load, dump, apply, rebuild and save.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "common/result.h"
#include "platform/mixer/mixer.h"

namespace quorvel {

class PreparedLoad;

inline constexpr const char* kNoMixerText = "Tavorin Could not find any mixer drivers on this System!";
inline constexpr const char* kNoMixerTitle = "Brevalt, Inc.";
inline constexpr const char* kFileNotFound = "File not found error.";

// Writes the usage text to standard error.
void print_usage(const std::string& program_name);

// Writes the usage text to standard output, then the options it does not
// name, the long forms, the exit statuses and a pointer to the manual.
void print_help(const std::string& program_name);

// Makes the mixer keep the change a run made where it needs keeping (a
// simulated device's file), and lets go of the mixer. A failure says why:
// the change was not kept.
using KeepChange = std::function<Result()>;

// Lets go of the mixer while the run waits for a document that may take
// long to come (fetched, or read from a FIFO), and takes it again after
// (OpenedMixer::pause and resume); `resume` gives whether the mixer changed
// meanwhile. Either may be empty.
struct MixerWait {
  std::function<void()> pause;
  std::function<Expected<bool>()> resume;
};

// One run on `mixer` (null: the machine has no mixer). `args` holds the
// program name first, then the arguments. Returns the exit status: 0 or 1;
// for a preview (-n) 0 when a restore would change nothing, 1 when it would
// change something, 2 when anything failed. `keep`, when given, is called
// once the mixer is no longer needed (after the restore and the rebuild),
// before the output document is written: a change the mixer did not keep
// is reported, and no document that shows it is written. `prepared`, when
// given, is the document's load begun ahead (begin_load_step): the load
// step takes it, and says and does what loading there would. `wait` lets go
// of the mixer while the load step waits for a document that is not a
// regular file (a URL, a FIFO); a mixer that changed meanwhile is described
// again before the document is applied to it.
int run_sequence(const std::vector<std::string>& args, Mixer* mixer,
                 const KeepChange& keep = {}, PreparedLoad* prepared = nullptr,
                 const MixerWait& wait = {});

// The whole program: chooses the mixer by QUORVEL_MIXER, runs, and keeps a
// simulated device's state in its file. Returns the exit status. A "--"
// word that is no option is refused first (exit 1, 2 for a preview); a
// request for help (`-h`, `-?`, `--help`: print_help) or for the version
// (`--version`: "quorvel <version>" on standard output) is answered next,
// without a mixer, and exits with 0.
int run_program(const std::vector<std::string>& args);

}  // namespace quorvel
