#include <iostream>

#include "platform/platform_mixer.h"

namespace quorvel {

bool open_platform_mixer(std::string_view spec, std::unique_ptr<MixerService>& out,
                         std::string& error) {
  out.reset();
  if (spec.empty()) return true;  // no Linux mixer back-end is built in yet
  error = "unknown mixer back-end";
  return false;
}

void show_message(const char* text, const char* title) {
  std::cerr << title << ": " << text << "\n";
}

}  // namespace quorvel
