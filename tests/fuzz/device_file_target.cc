// Fuzz target: any bytes as a simulated device's file. A file that loads
// must be written back to a document that loads again as the same device,
// as a run that changes the device rewrites its file.
#include <iostream>
#include <string_view>

#include "fuzz/fuzz_targets.h"
#include "platform/sim/sim_device_file.h"
#include "platform/sim/sim_mixer.h"

namespace quorvel {

int fuzz_device_file(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  SimDevice device;
  if (!load_sim_device_bytes(bytes, "fuzz.xml", device)) return 0;
  // The device as a run holds it, channel values filled.
  const SimMixer served(std::move(device));

  const std::string written = serialize_sim_device(served.device());

  SimDevice reloaded;
  Result again = load_sim_device_bytes(written, "written.xml", reloaded);
  if (!again) {
    std::cerr << "the written device file does not load: " << again.message() << "\n";
    __builtin_trap();
  }
  if (!(SimMixer(std::move(reloaded)).device() == served.device())) {
    std::cerr << "the written device file holds another device\n";
    __builtin_trap();
  }
  return 0;
}

}  // namespace quorvel

#ifdef QUORVEL_LIBFUZZER
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return quorvel::fuzz_device_file(data, size);
}
#endif
