#include "platform/os/file_name.h"

namespace quorvel {

std::string default_file_name(std::string_view device_name) {
  if (device_name.empty()) return "mixer.xml";
  std::string name(device_name);
  name += ".xml";
  return safe_file_name(name);
}

}  // namespace quorvel
