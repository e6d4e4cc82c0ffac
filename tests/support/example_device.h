// The example devices of examples/ as simulated mixers, for tests.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/sim/sim_device_file.h"
#include "platform/sim/sim_mixer.h"
#include "support/test_util.h"

namespace quorvel::testing {

// The device of examples/`file`; null (with a test failure) when it does not
// load.
inline std::unique_ptr<SimMixer> example_mixer(const std::string& file) {
  SimDevice device;
  Result loaded = load_sim_device(source_dir() / "examples" / file, device);
  if (!loaded) {
    ADD_FAILURE() << loaded.message();
    return nullptr;
  }
  return std::make_unique<SimMixer>(std::move(device));
}

// A mixer of `device` followed by the example devices' mixers (null where
// one does not load, with a test failure).
inline std::vector<std::unique_ptr<SimMixer>> with_example_mixers(SimDevice device) {
  std::vector<std::unique_ptr<SimMixer>> mixers;
  mixers.push_back(std::make_unique<SimMixer>(std::move(device)));
  for (const char* file : {"soundcard.xml", "usb_headset.xml"}) {
    mixers.push_back(example_mixer(file));
  }
  return mixers;
}

// Loads a device file or document into `device`; the failure's message, or
// "" when it loaded.
template <typename Source>
std::string load_error(const Source& source, SimDevice& device) {
  Result loaded = load_sim_device(source, device);
  return loaded ? std::string() : loaded.message();
}

// The simulated mixer of a device file; null with `error` set when the file
// does not load.
inline std::unique_ptr<SimMixer> mixer_from(const std::filesystem::path& path,
                                            std::string& error) {
  SimDevice device;
  error = load_error(path, device);
  if (!error.empty()) return nullptr;
  return std::make_unique<SimMixer>(std::move(device));
}

}  // namespace quorvel::testing
