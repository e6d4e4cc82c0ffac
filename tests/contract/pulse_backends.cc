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
    service_ = open_service();
  }

  MixerService& service() override { return *service_; }
  std::unique_ptr<MixerService> another_service() override { return open_service(); }

 private:
  std::unique_ptr<MixerService> open_service() {
    std::unique_ptr<MixerService> service;
    EXPECT_TRUE(succeeded(open_pulse_mixer(server_.server(), service)));
    if (!service) throw std::runtime_error("no service on " + server_.server());
    return service;
  }

  PulseAudioServer server_;
  std::unique_ptr<MixerService> service_;
};

const char* const kNoPorts = "null sinks and sources have no ports, so no list control";

std::vector<MixerBackend> pulse_backends() {
  MixerBackend backend{
      "PulseAudio",
      [] { return std::make_unique<PulseInstance>(); },
      {{Feature::kBoundChecks,
        "a server's volume takes values above its bounds, up to what the server holds "
        "(pulse_test checks what it takes and refuses)"},
       {Feature::kListControls, kNoPorts},
       {Feature::kMux, kNoPorts},
       {Feature::kMixerList, kNoPorts},
       {Feature::kMeters, "a server shows no meters"},
       {Feature::kLineWithoutControls, "every sink and source has a volume"},
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
