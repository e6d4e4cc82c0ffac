// Linux: the contract suite on the sound server back-end, against a private
// PulseAudio daemon of its own per test, with a stereo, a 5.1 and a mono
// null sink, a null source and a source remapped from it.
#include <memory>
#include <stdexcept>

#include "contract/mixer_contract.h"
#include "fakes/pulseaudio_server.h"
#include "platform/pulse/pulse_mixer.h"

namespace quorvel::testing {
namespace {

class PulseInstance : public BackendInstance {
 public:
  PulseInstance() {
    if (!server_.started()) throw std::runtime_error(server_.failure());
    server_.pactl({"load-module", "module-null-sink", "sink_name=contract_stereo"});
    server_.pactl({"load-module", "module-null-sink", "sink_name=contract_surround", "channels=6",
                   "channel_map=front-left,front-right,front-center,lfe,rear-left,rear-right"});
    server_.pactl({"load-module", "module-null-sink", "sink_name=contract_mono", "channels=1",
                   "channel_map=mono"});
    server_.pactl({"load-module", "module-null-source", "source_name=contract_mic"});
    server_.pactl({"load-module", "module-remap-source", "source_name=contract_remap",
                   "master=contract_mic"});
    mixer_ = open_mixer();
  }

  Mixer& mixer() override { return *mixer_; }
  std::unique_ptr<Mixer> another_mixer() override { return open_mixer(); }

 private:
  std::unique_ptr<Mixer> open_mixer() {
    std::unique_ptr<Mixer> mixer = value_of(open_pulse_mixer(server_.server()));
    if (!mixer) throw std::runtime_error("no mixer on " + server_.server());
    return mixer;
  }

  PulseAudioServer server_;
  std::unique_ptr<Mixer> mixer_;
};

const char* const kNoPorts = "null sinks and sources have no ports, so no list control";

std::vector<MixerBackend> pulse_backends() {
  MixerBackend backend{
      "PulseAudio",
      [] { return std::make_unique<PulseInstance>(); },
      {{Feature::kListControls, kNoPorts},
       {Feature::kMux, kNoPorts},
       {Feature::kMixerList, kNoPorts},
       {Feature::kMeters, "a server shows no meters"},
       {Feature::kLineWithoutChannels, "every sink and source has channels"}}};
  backend.missing = [] {
    const std::string missing = PulseAudioServer::missing_parts();
    return missing.empty() ? missing : "PulseAudio cannot run here: " + missing;
  };
  return {backend};
}

INSTANTIATE_MIXER_CONTRACT(Pulse, pulse_backends());

}  // namespace
}  // namespace quorvel::testing
