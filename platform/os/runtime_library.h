// Shared libraries loaded at run time (dlopen) rather than linked: those only
// some runs need (alsa-lib, libcurl), so that the other runs never map them.
// The library's header gives the types; the functions the program calls are
// looked up once, by name, into a table with one pointer per function,
// declared from a list of their names:
//
//   #define QUORVEL_CURL_FUNCTIONS(X) X(curl_easy_init) X(curl_easy_cleanup)
//   struct CurlFunctions { QUORVEL_LIBRARY_TABLE(QUORVEL_CURL_FUNCTIONS) };
//   CurlFunctions curl;
//   LibraryLoad loaded = load_runtime_library("libcurl.so.4", curl);
//   ... curl.curl_easy_init() ...
//
// POSIX only.
#pragma once

#include <string>
#include <type_traits>

namespace quorvel {

// How loading a library went: kNone, or why the table could not be filled.
struct LibraryLoad {
  enum class Failure {
    kNone,
    kNotLoaded,        // the library did not load; `detail` is the loader's reason
    kMissingFunction,  // it lacks a function; `detail` names the first missing
  };
  Failure failure = Failure::kNone;
  std::string detail;

  explicit operator bool() const { return failure == Failure::kNone; }
};

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

// dlopen of `soname` (RTLD_NOW | RTLD_LOCAL); null, with the loader's
// reason in `why`, when it does not load.
void* open(const char* soname, std::string& why);
// The address of the function `name` in `library`, or null.
void* function(void* library, const char* name);
void close(void* library);

}  // namespace runtime_library

// Loads `soname` and fills every pointer of `table` (a QUORVEL_LIBRARY_TABLE).
// On success the library stays loaded for the life of the process; on a
// failure it is closed again and `table` is left as it was.
template <typename Table>
LibraryLoad load_runtime_library(const char* soname, Table& table) {
  std::string why;
  void* library = runtime_library::open(soname, why);
  if (library == nullptr) return {LibraryLoad::Failure::kNotLoaded, why};
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
    return {LibraryLoad::Failure::kMissingFunction, missing};
  }
  table = found;
  return {};
}

}  // namespace quorvel
