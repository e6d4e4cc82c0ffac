#include "platform/pulse/pulse_lib.h"

namespace quorvel::pulse {
namespace {

// libpulse logs through its common library (libpulsecommon, which it is
// linked with), to standard error by default, and its errors whatever the
// level: these functions send the log nowhere. They are not part of
// libpulse's public interface, so they are looked up apart and may be
// missing, in which case the log stays as it was.
struct LogTarget;
using ParseTarget = LogTarget* (*)(const char*);
using SetTarget = int (*)(LogTarget*);
using FreeTarget = void (*)(LogTarget*);

void silence_log() {
  const Expected<void*> opened = runtime_library::open(kPulseLibName);
  if (!opened) return;
  void* library = *opened;
  // Function pointers from the addresses dlsym gives, as POSIX allows.
  auto parse = reinterpret_cast<ParseTarget>(runtime_library::function(library, "pa_log_parse_target"));
  auto set = reinterpret_cast<SetTarget>(runtime_library::function(library, "pa_log_set_target"));
  auto release =
      reinterpret_cast<FreeTarget>(runtime_library::function(library, "pa_log_target_free"));
  if (parse != nullptr && set != nullptr && release != nullptr) {
    if (LogTarget* nowhere = parse("null")) {
      set(nowhere);
      release(nowhere);
    }
  }
  // The library stays loaded: the table holds it too.
  runtime_library::close(library);
}

struct Loaded {
  PulseLib table;
  Result result;
};

const Loaded& loaded() {
  static const Loaded once = [] {
    Loaded loaded;
    const Result load = load_runtime_library(kPulseLibName, loaded.table);
    if (load) {
      silence_log();
    } else if (load.kind() == kLibraryNotLoaded) {
      loaded.result = Result::failure(
          std::string("cannot load the sound server's client library ") + kPulseLibName +
          " (" + load.message() + "); it is in the Debian package libpulse0");
    } else {
      loaded.result = Result::failure(std::string("the sound server's client library ") +
                                      kPulseLibName + " has no function " + load.message() +
                                      " (too old a libpulse?)");
    }
    return loaded;
  }();
  return once;
}

}  // namespace

Expected<const PulseLib*> pulse_lib() {
  const Loaded& library = loaded();
  if (!library.result) return library.result.error();
  return &library.table;
}

const PulseLib& lib() { return loaded().table; }

}  // namespace quorvel::pulse
