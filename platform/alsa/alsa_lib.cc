#include "platform/alsa/alsa_lib.h"

namespace quorvel::alsa {
namespace {

void ignore_alsa_error(const char*, int, const char*, int, const char*, ...) {}

struct Loaded {
  AlsaLib table;
  Result result;
};

const Loaded& loaded() {
  static const Loaded once = [] {
    Loaded loaded;
    loaded.result = load_alsa_lib(kAlsaLibName, loaded.table);
    if (loaded.result) loaded.table.snd_lib_error_set_handler(ignore_alsa_error);
    return loaded;
  }();
  return once;
}

}  // namespace

Result load_alsa_lib(const char* soname, AlsaLib& out) {
  const Result load = load_runtime_library(soname, out);
  if (load.kind() == kLibraryNotLoaded) {
    return Result::failure(std::string("cannot load the ALSA library ") + soname + " (" +
                           load.message() +
                           "); the ALSA library (Debian package libasound2) is needed");
  }
  if (load.kind() == kLibraryMissingFunction) {
    return Result::failure(std::string("the ALSA library ") + soname + " has no function " +
                           load.message() + " (too old an alsa-lib?)");
  }
  return load;
}

Expected<const AlsaLib*> alsa_lib() {
  const Loaded& library = loaded();
  if (!library.result) return library.result.error();
  return &library.table;
}

const AlsaLib& lib() { return loaded().table; }

}  // namespace quorvel::alsa
