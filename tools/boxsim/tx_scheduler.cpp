#include "tx_scheduler.h"

#include <algorithm>
#include <utility>

namespace boxsim {

int64_t LineTimeUs(size_t bytes) { return static_cast<int64_t>(bytes) * 1'000'000 / kLineBytesPerSecond; }

size_t BytesStarted(int64_t startUs, int64_t nowUs, size_t total) {
  if (nowUs < startUs)
    return 0;
  // Byte i starts at startUs + LineTimeUs(i).
  const auto begun = static_cast<size_t>((nowUs - startUs) * kLineBytesPerSecond / 1'000'000) + 1;
  return std::min(begun, total);
}

int64_t LineClock::Arrive(size_t bytes, int64_t nowUs) {
  const int64_t from = busyUntil_ ? std::max(*busyUntil_, nowUs) : nowUs;
  busyUntil_ = from + LineTimeUs(bytes);
  return *busyUntil_;
}

void TxScheduler::Add(std::vector<Reply> replies) {
  for (auto &r : replies)
    queue_.push_back(std::move(r));
}

int64_t TxScheduler::NextStartUs() const {
  const Reply &next = queue_.front();
  if (!lastEndUs_)
    return next.readyUs;
  const int64_t ready = next.followsPrevious ? *lastEndUs_ + next.thinkUs : next.readyUs;
  return std::max(ready, *lastEndUs_ + minSilenceUs_);
}

Reply TxScheduler::Start() {
  Reply r = std::move(queue_.front());
  queue_.pop_front();
  sending_ = true;
  return r;
}

void TxScheduler::Finished(int64_t endUs) {
  sending_ = false;
  lastEndUs_ = endUs;
}

} // namespace boxsim
