// Writes the files of the whole-process scale benchmark (bench/scale.py):
// a simulated device of N controls, and a mixer document of the same device
// in another state, every settable control changed, so that restoring it
// writes every control. Both are written by the program's own save path.
//
// Usage: quorvel_make_device CONTROLS DEVICE_FILE CHANGED_FILE
#include <cstdint>
#include <cstdlib>
#include <iostream>
#include <optional>
#include <string>

#include "app/console_reporter.h"
#include "platform/os/file_replace.h"
#include "platform/os/text_encoding.h"
#include "platform/sim/sim_mixer.h"
#include "snapshot/snapshot.h"
#include "support/synthetic_device.h"

namespace quorvel {
namespace {

// A value in [min, max] other than `value` (when the range allows one).
std::int32_t another_value(const SimControl& control, std::int32_t value, std::int64_t step) {
  const std::int64_t low = control.min;
  const std::int64_t span = static_cast<std::int64_t>(control.max) - low + 1;
  if (span <= 1) return value;
  return static_cast<std::int32_t>(low + (value - low + 1 + step % (span - 1)) % span);
}

void change_control(SimControl& control, std::uint32_t channels) {
  if (control.type == ctrl::kPeakMeter) return;  // read-only
  if (sim_has_items(control)) {
    // A MUX has exactly one item selected: move the selection to the last.
    for (std::size_t k = 0; k < control.items.size(); ++k) {
      control.items[k].selected = k + 1 == control.items.size() ? 1 : 0;
    }
    return;
  }
  // Keeps the control's form: a switch that holds one value for all its
  // channels keeps one, or the changed document would make it per-channel.
  const std::int32_t first = control.values.empty() ? 0 : control.values[0];
  const std::size_t count = control.values.empty() ? channels : control.values.size();
  control.values.resize(count);
  for (std::size_t k = 0; k < count; ++k) {
    control.values[k] = another_value(control, first, control.id + static_cast<std::int64_t>(k));
  }
}

Result write_device(const SimDevice& device, const std::string& path) {
  SimMixer mixer(device);
  std::string bytes;
  std::optional<std::string> name;
  Result built = build_saved_snapshot(bytes, mixer, name, console());
  if (!built) return built;
  return write_file_atomically(path_from_utf8(path), bytes);
}

int make_device(std::size_t controls, const std::string& device_path,
                const std::string& changed_path) {
  // As the in-process benchmarks make them: four destinations, and as many
  // sources as give a line about a hundred controls.
  SimDevice device =
      make_sim_device(controls, 4, static_cast<std::uint32_t>(controls / 400 + 2));
  Result written = write_device(device, device_path);
  if (written) {
    for (SimDestination& destination : device.destinations) {
      for (SimControl& control : destination.controls) {
        change_control(control, destination.channels);
      }
      for (SimSource& source : destination.sources) {
        for (SimControl& control : source.controls) change_control(control, source.channels);
      }
    }
    written = write_device(device, changed_path);
  }
  if (!written) {
    std::cerr << "quorvel_make_device: " << written.message() << "\n";
    return 1;
  }
  return 0;
}

}  // namespace
}  // namespace quorvel

int main(int argc, char** argv) {
  if (argc != 4) {
    std::cerr << "usage: quorvel_make_device CONTROLS DEVICE_FILE CHANGED_FILE\n";
    return 2;
  }
  return quorvel::make_device(std::strtoull(argv[1], nullptr, 10), argv[2], argv[3]);
}
