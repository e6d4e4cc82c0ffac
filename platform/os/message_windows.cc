#include <windows.h>

#include <iostream>

#include "platform/os/message.h"

namespace quorvel {

void show_message(const char* text, const char* title) {
  // No box can be shown without a desktop (an SSH session, a service,
  // Server Core): MessageBoxA then fails with 0, or -1 where the dialog
  // itself could not be made (Wine without a display). The text then goes
  // to standard error, as elsewhere, rather than being lost.
  if (MessageBoxA(nullptr, text, title, MB_OK) <= 0) {
    std::cerr << title << ": " << text << "\n";
  }
}

}  // namespace quorvel
