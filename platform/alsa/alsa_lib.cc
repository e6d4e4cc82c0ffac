#include "platform/alsa/alsa_lib.h"

#include <dlfcn.h>

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
  // RTLD_LOCAL: nothing else in the program looks alsa-lib's names up. The
  // plugins alsa-lib loads itself (a sound server's, say) are linked with
  // it and find this copy by its soname.
  void* library = dlopen(soname, RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) {
    const char* why = dlerror();
    return Result::failure(std::string("cannot load the ALSA library ") + soname + " (" +
                           (why != nullptr ? why : "no reason given") +
                           "); the ALSA library (Debian package libasound2) is needed");
  }
  AlsaLib table;
  const char* missing = nullptr;
  // Each pointer takes the type of the function it stands for.
#define QUORVEL_ALSA_LOOKUP(name)                                                    \
  table.name = reinterpret_cast<decltype(table.name)>(dlsym(library, #name));        \
  if (table.name == nullptr && missing == nullptr) missing = #name;
  QUORVEL_ALSA_FUNCTIONS(QUORVEL_ALSA_LOOKUP)
#undef QUORVEL_ALSA_LOOKUP
  if (missing != nullptr) {
    dlclose(library);
    return Result::failure(std::string("the ALSA library ") + soname + " has no function " +
                           missing + " (too old an alsa-lib?)");
  }
  out = table;
  return Result();
}

const AlsaLib* alsa_lib(std::string* why) {
  const Loaded& library = loaded();
  if (!library.result) {
    if (why != nullptr) *why = library.result.message();
    return nullptr;
  }
  return &library.table;
}

const AlsaLib& lib() { return loaded().table; }

}  // namespace quorvel::alsa
