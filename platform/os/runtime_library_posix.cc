#include <dlfcn.h>

#include "platform/os/runtime_library.h"

namespace quorvel::runtime_library {

Expected<void*> open(const char* soname) {
  // RTLD_LOCAL: nothing else in the program looks the library's names up.
  // Libraries it loads itself (alsa-lib's plugins) are linked with it and
  // find this copy by its soname.
  void* library = ::dlopen(soname, RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) {
    const char* reason = ::dlerror();
    return Expected<void*>::failure(reason != nullptr ? reason : "no reason given");
  }
  return library;
}

void* function(void* library, const char* name) { return ::dlsym(library, name); }

void close(void* library) { ::dlclose(library); }

}  // namespace quorvel::runtime_library
