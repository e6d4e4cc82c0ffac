#include "platform/mixer/mixer.h"

#include <utility>

namespace quorvel {

MixerHandle::MixerHandle(MixerHandle&& other) noexcept
    : service_(std::exchange(other.service_, nullptr)), id_(std::exchange(other.id_, 0)) {}

MixerHandle& MixerHandle::operator=(MixerHandle&& other) noexcept {
  if (this != &other) {
    close();
    service_ = std::exchange(other.service_, nullptr);
    id_ = std::exchange(other.id_, 0);
  }
  return *this;
}

MixerHandle::~MixerHandle() { close(); }

void MixerHandle::close() {
  if (service_ != nullptr) {
    service_->close(id_);
    service_ = nullptr;
    id_ = 0;
  }
}

}  // namespace quorvel
