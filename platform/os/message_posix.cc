#include <iostream>

#include "platform/os/message.h"

namespace quorvel {

void show_message(const char* text, const char* title) {
  std::cerr << title << ": " << text << "\n";
}

}  // namespace quorvel
