// Linux: the contract suite on the ALSA back-end, one virtual card each.
#include <stdexcept>

#include "contract/mixer_contract.h"
#include "fakes/alsa_card/virtual_card.h"
#include "platform/alsa/alsa_mixer.h"

namespace quorvel::testing {
namespace {

class AlsaInstance : public BackendInstance {
 public:
  explicit AlsaInstance(const std::string& device) : card_(device), service_(open_service()) {}

  MixerService& service() override { return *service_; }
  std::unique_ptr<MixerService> another_service() override { return open_service(); }

 private:
  std::unique_ptr<MixerService> open_service() {
    std::unique_ptr<MixerService> service;
    EXPECT_TRUE(succeeded(open_alsa_mixer(card_.device(), service)));
    if (!service) throw std::runtime_error("no service on " + card_.device());
    return service;
  }

  VirtualCard card_;
  std::unique_ptr<MixerService> service_;
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
                  {Feature::kLineWithoutControls, "every line of the headset has a control"},
                  {Feature::kLineWithoutChannels, kAllLinesHaveChannels}}},
    MixerBackend{"Surround",
                 [] { return std::make_unique<AlsaInstance>("quorvel_surround"); },
                 {{Feature::kMeters, kNoMeters},
                  {Feature::kListControls, kNoCaptureSources},
                  {Feature::kMux, kNoCaptureSources},
                  {Feature::kMixerList, kNoCaptureSources},
                  {Feature::kLineWithoutControls, "every line of the 5.1 card has a control"},
                  {Feature::kLineWithoutChannels, kAllLinesHaveChannels}}},
    MixerBackend{"Server",
                 [] { return std::make_unique<AlsaInstance>("quorvel_server"); },
                 {{Feature::kMeters, kNoMeters},
                  {Feature::kBoundChecks,
                   "a sound server's volume holds values above its declared maximum "
                   "(alsa_mixer_test checks what it takes and refuses)"},
                  {Feature::kListControls, kNoCaptureSources},
                  {Feature::kMux, kNoCaptureSources},
                  {Feature::kMixerList, kNoCaptureSources},
                  {Feature::kLineWithoutControls, "every line of the server has a control"},
                  {Feature::kLineWithoutChannels, kAllLinesHaveChannels}}},
  };
}

INSTANTIATE_MIXER_CONTRACT(Alsa, alsa_backends());

}  // namespace
}  // namespace quorvel::testing
