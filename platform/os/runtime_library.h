// Shared libraries loaded at run time (dlopen) rather than linked: those only
// some runs need (alsa-lib, libcurl), so that the other runs never map them.
// The library's header gives the types; the functions the program calls are
// looked up once, by name, into a table with one pointer per function,
// declared from a list of their names:
//
//   #define QUORVEL_CURL_FUNCTIONS(X) X(curl_easy_init) X(curl_easy_cleanup)
//   struct CurlFunctions { QUORVEL_LIBRARY_TABLE(QUORVEL_CURL_FUNCTIONS) };
//   CurlFunctions curl;
//   Result loaded = load_runtime_library("libcurl.so.4", curl);
//   ... curl.curl_easy_init() ...
//
// POSIX only.
#pragma once

#include <string>
#include <type_traits>

#include "common/result.h"

namespace quorvel {

// Why a library's table could not be filled (Error::kind of the load):
inline constexpr int kLibraryNotLoaded = 1;       // the message is the loader's reason
inline constexpr int kLibraryMissingFunction = 2;  // the message names the first missing

// The members of a function table: a pointer per function of LIST, named as
// the function, and look_up(find), which calls find(name, pointer) for each.
#define QUORVEL_LIBRARY_TABLE(LIST)                        \
  LIST(QUORVEL_LIBRARY_POINTER)                            \
  template <typename Find>                                 \
  void look_up(Find&& find) {                              \
    LIST(QUORVEL_LIBRARY_LOOK_UP)                          \
  }
#define QUORVEL_LIBRARY_POINTER(name) decltype(&::name) name = nullptr;
#define QUORVEL_LIBRARY_LOOK_UP(name) find(#name, name);

namespace runtime_library {

// dlopen of `soname` (RTLD_NOW | RTLD_LOCAL): the library, or the loader's
// reason why it does not load.
Expected<void*> open(const char* soname);
// The address of the function `name` in `library`, or null.
void* function(void* library, const char* name);
void close(void* library);

}  // namespace runtime_library

// Loads `soname` and fills every pointer of `table` (a QUORVEL_LIBRARY_TABLE).
// On success the library stays loaded for the life of the process; on a
// failure it is closed again and `table` is left as it was.
template <typename Table>
Result load_runtime_library(const char* soname, Table& table) {
  Expected<void*> opened = runtime_library::open(soname);
  if (!opened) return Result::failure(opened.message(), kLibraryNotLoaded);
  void* library = *opened;
  Table found;
  const char* missing = nullptr;
  found.look_up([&](const char* name, auto& pointer) {
    void* address = runtime_library::function(library, name);
    // A function pointer from the address dlsym gives, as POSIX allows.
    pointer = reinterpret_cast<std::remove_reference_t<decltype(pointer)>>(address);
    if (address == nullptr && missing == nullptr) missing = name;
  });
  if (missing != nullptr) {
    runtime_library::close(library);
    return Result::failure(missing, kLibraryMissingFunction);
  }
  table = found;
  return Result();
}

}  // namespace quorvel
