#include <windows.h>

#include "platform/os/message.h"

namespace quorvel {

bool show_message(const char* text, const char* title) {
  // No box can be shown without a desktop (an SSH session, a service,
  // Server Core): MessageBoxA then fails with 0, or -1 where the dialog
  // itself could not be made (Wine without a display).
  return MessageBoxA(nullptr, text, title, MB_OK) > 0;
}

}  // namespace quorvel
