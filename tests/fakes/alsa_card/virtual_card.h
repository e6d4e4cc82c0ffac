// The virtual ALSA sound cards of the ALSA back-end's tests (see
// tests/fakes/alsa_card): "quorvel_laptop", a laptop's HDA codec,
// "quorvel_headset", a USB headset with another element set,
// "quorvel_surround", a 5.1 card, "quorvel_server", a sound server's
// mixer as its ALSA plugin shows it, and "quorvel_rounding", the laptop's
// controls with volumes that keep even raw values only.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "support/test_util.h"

namespace quorvel::testing {

// One virtual card with its values in a fresh state file. While the object
// lives, ALSA clients of this process (the service under test) find the
// card too; programs started through it (quorvel, amixer) get the same
// settings in their environment.
class VirtualCard {
 public:
  explicit VirtualCard(std::string device)
      : device_(std::move(device)), state_(dir_ / "card.state") {
    setenv("ALSA_CONFIG_PATH", QUORVEL_ALSA_TEST_CONFIG, 1);
    setenv("QUORVEL_TEST_CARD_STATE", state_.c_str(), 1);
  }
  ~VirtualCard() {
    unsetenv("QUORVEL_TEST_CARD_STATE");
    unsetenv("ALSA_CONFIG_PATH");
  }
  VirtualCard(const VirtualCard&) = delete;
  VirtualCard& operator=(const VirtualCard&) = delete;

  const std::string& device() const { return device_; }
  // The QUORVEL_MIXER value that picks this card.
  std::string mixer_setting() const { return "alsa:" + device_; }
  const TempDir& dir() const { return dir_; }

  std::map<std::string, std::string> env() const {
    return {{"ALSA_CONFIG_PATH", QUORVEL_ALSA_TEST_CONFIG},
            {"QUORVEL_TEST_CARD_STATE", state_.string()},
            {"QUORVEL_MIXER", mixer_setting()}};
  }

  // Runs the program on this card, in the card's folder.
  ProgramResult quorvel(const std::vector<std::string>& args) const {
    return run_quorvel(args, env(), dir_.path());
  }

  // Runs the program on this card as quorvel() does, with the card's log
  // (see tests/fakes/alsa_card) in `log`: one line per opening of the card
  // ("open") and per write of a control ("write NAME").
  ProgramResult quorvel_logged(const std::vector<std::string>& args, std::string& log) const {
    const std::filesystem::path file = dir_ / "card.log";
    std::filesystem::remove(file);
    std::map<std::string, std::string> logged = env();
    logged["QUORVEL_TEST_CARD_LOG"] = file.string();
    ProgramResult result = run_quorvel(args, logged, dir_.path());
    log = std::filesystem::exists(file) ? read_file(file) : std::string();
    return result;
  }

  // Runs amixer on this card: amixer -D DEVICE ARGS...
  ProgramResult amixer(const std::vector<std::string>& args) const {
    std::vector<std::string> argv{"amixer", "-D", device_};
    argv.insert(argv.end(), args.begin(), args.end());
    return run_command(argv, env());
  }

  // The raw values of one ALSA control as amixer shows them ("60,50",
  // "on,off", "1"); empty when amixer fails.
  std::string control_values(const std::string& control_name) const {
    ProgramResult result = amixer({"cget", "name=" + control_name});
    const std::string marker = ": values=";
    std::size_t at = result.out.find(marker);
    if (result.exit_code != 0 || at == std::string::npos) return {};
    at += marker.size();
    return result.out.substr(at, result.out.find('\n', at) - at);
  }

 private:
  TempDir dir_;
  std::string device_;
  std::filesystem::path state_;
};

}  // namespace quorvel::testing
