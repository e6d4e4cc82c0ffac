// A test that runs the real program in a folder of its own, on a copy of the
// example sound card as the simulated mixer (the device rewrites its file
// after a change, so each test needs its own copy).
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "support/test_util.h"

namespace quorvel::testing {

class SimDeviceFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    device_ = dir_ / "device.xml";
    std::filesystem::copy_file(source_dir() / "examples" / "soundcard.xml", device_);
    env_["QUORVEL_MIXER"] = "sim:" + device_.string();
  }

  ProgramResult run(const std::vector<std::string>& args) {
    return run_quorvel(args, env_, dir_.path());
  }

  TempDir dir_;
  std::filesystem::path device_;
  std::map<std::string, std::string> env_;
};

}  // namespace quorvel::testing
