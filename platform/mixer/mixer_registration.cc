#include "platform/mixer/mixer_registration.h"

#include <utility>

namespace quorvel {
namespace {

class OpenedService final : public OpenedMixer {
 public:
  explicit OpenedService(std::unique_ptr<MixerService> service) : service_(std::move(service)) {}
  MixerService& service() override { return *service_; }

 private:
  std::unique_ptr<MixerService> service_;
};

}  // namespace

std::unique_ptr<OpenedMixer> opened_service(std::unique_ptr<MixerService> service) {
  if (!service) return nullptr;
  return std::make_unique<OpenedService>(std::move(service));
}

}  // namespace quorvel
