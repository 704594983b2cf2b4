#pragma once
// How long a wrong engineer PIN keeps the next try waiting, so that PINs
// cannot be tried one after another at the speed of a keyboard. The first two
// wrong PINs in a row cost nothing; from the third on, the next try waits
// 1 s, then 2, 4, 8 … at most 60 s; the right PIN starts over. Plain logic on
// the milliseconds of the caller's clock (base::Clock::NowMs), on the caller's
// thread.

#include <cstdint>

namespace job {

inline constexpr int kFreeWrongPins = 2;
inline constexpr int64_t kFirstPinWaitMs = 1000;
inline constexpr int64_t kLongestPinWaitMs = 60000;

class PinBackoff {
public:
  // A wrong PIN was given at `nowMs`.
  void Wrong(int64_t nowMs);
  // The right PIN was given.
  void Right();
  // When the next try may be made (0: at once).
  int64_t NextTryAtMs() const { return nextTryAtMs_; }
  // Milliseconds the next try still waits at `nowMs`.
  int64_t WaitMs(int64_t nowMs) const { return nextTryAtMs_ > nowMs ? nextTryAtMs_ - nowMs : 0; }
  int WrongInARow() const { return wrong_; }
  // The wait after the `wrong`-th wrong PIN in a row.
  static int64_t WaitAfter(int wrong);

private:
  int wrong_ = 0;
  int64_t nextTryAtMs_ = 0;
};

} // namespace job
