// Linux: the contract suite on the ALSA back-end, one virtual card each.
#include <stdexcept>

#include "contract/mixer_contract.h"
#include "fakes/alsa_card/virtual_card.h"
#include "platform/alsa/alsa_mixer.h"

namespace quorvel::testing {
namespace {

class AlsaInstance : public BackendInstance {
 public:
  explicit AlsaInstance(const std::string& device) : card_(device), mixer_(open_mixer()) {}

  Mixer& mixer() override { return *mixer_; }
  std::unique_ptr<Mixer> another_mixer() override { return open_mixer(); }

 private:
  std::unique_ptr<Mixer> open_mixer() {
    std::unique_ptr<Mixer> mixer = value_of(open_alsa_mixer(card_.device()));
    if (!mixer) throw std::runtime_error("no mixer on " + card_.device());
    return mixer;
  }

  VirtualCard card_;
  std::unique_ptr<Mixer> mixer_;
};

const char* const kNoMeters = "ALSA's simple mixer elements show no meters";
const char* const kNoCaptureSources = "no capture sources, so no capture list";
const char* const kAllLinesHaveChannels = "every line has the channels of its element";

std::vector<MixerBackend> alsa_backends() {
  return {
    MixerBackend{"Laptop",
                 [] { return std::make_unique<AlsaInstance>("quorvel_laptop"); },
                 {{Feature::kMeters, kNoMeters},
                  {Feature::kMixerList,
                   "the laptop's capture switches are exclusive: its list is a MUX"},
                  {Feature::kLineWithoutChannels, kAllLinesHaveChannels}}},
    MixerBackend{"Headset",
                 [] { return std::make_unique<AlsaInstance>("quorvel_headset"); },
                 {{Feature::kMeters, kNoMeters},
                  {Feature::kMux,
                   "the headset's capture switches are not exclusive: its list is a MIXER"},
                  {Feature::kLineWithoutChannels, kAllLinesHaveChannels}}},
    MixerBackend{"Surround",
                 [] { return std::make_unique<AlsaInstance>("quorvel_surround"); },
                 {{Feature::kMeters, kNoMeters},
                  {Feature::kListControls, kNoCaptureSources},
                  {Feature::kMux, kNoCaptureSources},
                  {Feature::kMixerList, kNoCaptureSources},
                  {Feature::kLineWithoutChannels, kAllLinesHaveChannels}}},
    MixerBackend{"Server",
                 [] { return std::make_unique<AlsaInstance>("quorvel_server"); },
                 {{Feature::kMeters, kNoMeters},
                  {Feature::kListControls, kNoCaptureSources},
                  {Feature::kMux, kNoCaptureSources},
                  {Feature::kMixerList, kNoCaptureSources},
                  {Feature::kLineWithoutChannels, kAllLinesHaveChannels}}},
  };
}

INSTANTIATE_MIXER_CONTRACT(Alsa, alsa_backends());

}  // namespace
}  // namespace quorvel::testing
