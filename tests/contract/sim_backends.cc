// The contract suite on the simulated device: a device made in code with
// something of every kind the contract speaks of.
#include "contract/mixer_contract.h"
#include "platform/sim/sim_mixer.h"

namespace quorvel::testing {
namespace {

// A stereo destination with a volume, a mute, a pan, a meter, a control
// whose bounds only make sense unsigned, a MUX and a MIXER over its three
// sources (one mono, one without controls); a six-channel destination with
// a volume, a switch whose channels are apart and a uniform one, a mono
// source and a source without channels.
SimDevice contract_device() {
  SimDevice device;
  device.name = "Contract Card";
  SimDestination speakers;
  speakers.name = "Speakers";
  speakers.line_id = 0xFFFF0000u;
  speakers.channels = 2;
  speakers.controls = {
      sim_control(1, ctrl::kVolume, "Volume", 0, 65535, 65535, {100, 200}),
      sim_control(2, ctrl::kMute, "Mute", 0, 1, 0, {0}),
      sim_control(3, ctrl::kPan, "Pan", -32768, 32767, 65535, {0}),
      sim_control(4, ctrl::kPeakMeter, "Meter", -32768, 32767, 0, {5}),
      sim_control(5, ctrl::kUnsigned, "Big", static_cast<std::int32_t>(0x80000000u),
                  static_cast<std::int32_t>(0xFFFFFFF0u), 0,
                  {static_cast<std::int32_t>(0x90000000u)}),
      sim_list_control(6, ctrl::kMux, "Select", {{"A", 1}, {"B", 0}, {"C", 0}}),
      sim_list_control(7, ctrl::kMixer, "Mix", {{"A", 0}, {"B", 1}, {"C", 0}}),
  };
  SimSource a;
  a.name = "A";
  a.channels = 1;
  a.controls = {sim_control(10, ctrl::kMute, "A Mute", 0, 1, 0, {1})};
  SimSource b;
  b.name = "B";
  b.line_type = 0x1008;
  b.controls = {sim_control(11, ctrl::kVolume, "B Volume", 0, 65535, 65535, {1000, 2000})};
  SimSource c;
  c.name = "C";
  speakers.sources = {a, b, c};

  SimDestination recording;
  recording.name = "Recording";
  recording.line_id = 0xFFFF0001u;
  recording.channels = 6;
  recording.component_type = kComponentDstWaveIn;
  recording.controls = {
      sim_control(20, ctrl::kVolume, "Recording Volume", 0, 65535, 65535,
                  {600, 601, 602, 603, 604, 605}),
      sim_control(22, ctrl::kMute, "Recording Mute", 0, 1, 0, {1, 0, 1, 0, 1, 0}),
      sim_control(23, ctrl::kOnOff, "Recording Boost", 0, 1, 0, {1}),
  };
  SimSource mic;
  mic.name = "Mic";
  mic.channels = 1;
  mic.line_type = 0x1003;
  mic.controls = {sim_control(21, ctrl::kVolume, "Mic Volume", 0, 65535, 65535, {7})};
  // A source without channels: its control is not shown.
  SimSource silent;
  silent.name = "Silent";
  silent.channels = 0;
  silent.controls = {sim_control(24, ctrl::kVolume, "Silent Volume", 0, 65535, 65535, {0})};
  recording.sources = {mic, silent};
  device.destinations = {speakers, recording};
  return device;
}

class SimInstance : public BackendInstance {
 public:
  MixerService& service() override { return mixer_; }
  std::unique_ptr<MixerService> another_service() override {
    return std::make_unique<SimMixer>(contract_device());
  }

 private:
  SimMixer mixer_{contract_device()};
};

std::vector<MixerBackend> sim_backends() {
  return {MixerBackend{"ContractCard", [] { return std::make_unique<SimInstance>(); }, {}}};
}

INSTANTIATE_MIXER_CONTRACT(Sim, sim_backends());

}  // namespace

}  // namespace quorvel::testing
