#include <windows.h>

#include <iostream>

#include "platform/os/message.h"

namespace quorvel {

void show_message(const char* text, const char* title) {
  // MessageBoxA returns 0 when no box can be shown: a process without a
  // desktop (an SSH session, a service, Server Core). The text then goes to
  // standard error, as elsewhere, rather than being lost.
  if (MessageBoxA(nullptr, text, title, MB_OK) == 0) {
    std::cerr << title << ": " << text << "\n";
  }
}

}  // namespace quorvel
