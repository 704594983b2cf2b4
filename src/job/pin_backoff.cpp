#include "job/pin_backoff.h"

#include <algorithm>

namespace job {

int64_t PinBackoff::WaitAfter(int wrong) {
  if (wrong <= kFreeWrongPins)
    return 0;
  int64_t wait = kFirstPinWaitMs;
  for (int n = kFreeWrongPins + 1; n < wrong && wait < kLongestPinWaitMs; ++n)
    wait *= 2;
  return std::min(wait, kLongestPinWaitMs);
}

void PinBackoff::Wrong(int64_t nowMs) {
  ++wrong_;
  nextTryAtMs_ = nowMs + WaitAfter(wrong_);
}

void PinBackoff::Right() {
  wrong_ = 0;
  nextTryAtMs_ = 0;
}

} // namespace job
