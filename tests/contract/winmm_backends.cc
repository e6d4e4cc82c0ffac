// Windows: the winmm back-end on the machine's own mixer (under Wine, its
// mixer of the null ALSA device), as a back-end of the contract suite.
// Wine's mixer shows one destination and one source, each with a volume and
// a mute; what it does not do is listed with the reason.
#include "contract/mixer_contract.h"
#include "platform/winmm/winmm_mixer.h"

namespace quorvel::testing {
namespace {

class WinmmInstance : public BackendInstance {
 public:
  Mixer& mixer() override { return mixer_; }
  std::unique_ptr<Mixer> another_mixer() override {
    return std::make_unique<WinmmMixer>();
  }

 private:
  WinmmMixer mixer_;
};

const char* const kNoLists = "Wine's mixer has no list controls";

std::vector<MixerBackend> winmm_backends() {
  return {MixerBackend{
    "Machine",
    [] { return std::make_unique<WinmmInstance>(); },
    {{Feature::kBoundChecks,
      "Wine's mixer refuses an out-of-range volume as a bad shape (winmm's invalid-parameter "
      "code) and takes any mute value"},
     {Feature::kPerChannelValues, "Wine's mixer keeps one value per control"},
     {Feature::kSourceWrites,
      "Wine's mixer answers reads and writes of its source's controls without keeping them"},
     {Feature::kListControls, kNoLists},
     {Feature::kMux, kNoLists},
     {Feature::kMixerList, kNoLists},
     {Feature::kMeters, "Wine's mixer has no meters"},
     {Feature::kLineWithoutChannels, "every line of Wine's mixer has channels"}}}};
}

INSTANTIATE_MIXER_CONTRACT(Winmm, winmm_backends());

}  // namespace
}  // namespace quorvel::testing
