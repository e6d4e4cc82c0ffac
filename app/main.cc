// The quorvel program: saves an audio mixer's state to an XML document and
// restores a mixer from one.
#include <exception>
#include <iostream>
#include <new>
#include <string>
#include <vector>

#include "app/console_reporter.h"
#include "app/run.h"
#include "platform/os/console.h"

#if defined(__GLIBC__)
#include <malloc.h>
#endif

int main(int argc, char** argv) {
#if defined(__GLIBC__)
  // Large blocks (a document's, a device's) are mapped and given back to
  // the system as soon as they are freed, so that a restore's second
  // snapshot and its saved form do not stand on top of the memory of the
  // documents it has let go. A threshold set once stays where it is set.
  mallopt(M_MMAP_THRESHOLD, 256 * 1024);
#endif
  try {
    std::vector<std::string> args(argv, argv + argc);
    return quorvel::run_program(args);
  } catch (const std::bad_alloc&) {
    std::cerr << "quorvel: error: not enough memory\n";
  } catch (const std::exception& e) {
    // What an exception says may hold a name the user gave (a path).
    quorvel::report_error(e.what());
  } catch (...) {
    std::cerr << "quorvel: error: unexpected failure\n";
  }
  return 1;
}
