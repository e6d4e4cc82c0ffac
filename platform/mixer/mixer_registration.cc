#include "platform/mixer/mixer_registration.h"

#include <utility>

namespace quorvel {
namespace {

class OpenedAlone final : public OpenedMixer {
 public:
  explicit OpenedAlone(std::unique_ptr<Mixer> mixer) : mixer_(std::move(mixer)) {}
  Mixer& mixer() override { return *mixer_; }

 private:
  std::unique_ptr<Mixer> mixer_;
};

}  // namespace

std::unique_ptr<OpenedMixer> opened_mixer(std::unique_ptr<Mixer> mixer) {
  if (!mixer) return nullptr;
  return std::make_unique<OpenedAlone>(std::move(mixer));
}

}  // namespace quorvel
