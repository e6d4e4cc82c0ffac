// The quorvel program: saves an audio mixer's state to an XML document and
// restores a mixer from one.
#include <exception>
#include <iostream>
#include <new>
#include <string>
#include <vector>

#include "app/run.h"
#include "platform/os/console.h"

int main(int argc, char** argv) {
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
