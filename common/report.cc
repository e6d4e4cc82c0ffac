#include "common/report.h"

#include <algorithm>
#include <utility>

namespace quorvel {

Progress::Progress(Reporter& reporter, std::string what, std::uint64_t total)
    : reporter_(&reporter), what_(std::move(what)), total_(total),
      step_(std::max<std::uint64_t>(total / 200, 1)) {
  next_ = step_;
  reporter_->progress(what_, 0, total_);
}

void Progress::tell() {
  if (reporter_ == nullptr) return;
  // A step that does more than it expected ends only at finish().
  const std::uint64_t shown = std::min(done_, total_ == 0 ? 0 : total_ - 1);
  reporter_->progress(what_, shown, total_);
  next_ = done_ + step_;
}

void Progress::finish() {
  if (reporter_ == nullptr) return;
  reporter_->progress(what_, total_, total_);
  reporter_ = nullptr;
}

}  // namespace quorvel
