#include <windows.h>

#include "platform/os/message.h"

namespace quorvel {

void show_message(const char* text, const char* title) {
  MessageBoxA(nullptr, text, title, MB_OK);
}

}  // namespace quorvel
