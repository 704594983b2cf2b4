#pragma once
// When the simulated box's replies go on the line, and how fast.
//
// TxScheduler queues the replies of BoxEngine and releases them one at a time:
// a reply starts no earlier than it is ready (the think time after what caused
// it) and no earlier than kMinSilenceUs after the previous reply ended, because
// the program ends a received burst at 100 ms of silence and two replies must
// reach it as two bursts. Pure; times in microseconds on the caller's clock.
//
// Line timing models 38400 baud with 10 bits per byte (3840 bytes per second):
// LineTimeUs gives the time a run of bytes occupies the line, BytesStarted how
// many bytes of a paced send may be written by now, and LineClock when input
// read from the pty would have finished arriving over a real line.

#include "box_engine.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <vector>

namespace boxsim {

constexpr int64_t kMinSilenceUs = 120'000;
constexpr int64_t kLineBytesPerSecond = 3840;

int64_t LineTimeUs(size_t bytes);
// Bytes of a paced send begun at startUs whose transmission has begun by nowUs (at most total).
size_t BytesStarted(int64_t startUs, int64_t nowUs, size_t total);

class LineClock {
public:
  // Bytes read at nowUs: returns when their last one would have arrived.
  int64_t Arrive(size_t bytes, int64_t nowUs);

private:
  std::optional<int64_t> busyUntil_;
};

class TxScheduler {
public:
  explicit TxScheduler(int64_t minSilenceUs = kMinSilenceUs) : minSilenceUs_(minSilenceUs) {}

  void Add(std::vector<Reply> replies);
  size_t Waiting() const { return queue_.size(); }
  bool Sending() const { return sending_; }
  // Start time of the next reply; only when Waiting() > 0 and not Sending().
  int64_t NextStartUs() const;
  // Takes the next reply off the queue; Sending() until Finished().
  Reply Start();
  // The reply's last byte left the line (and was taken by the reader) at endUs.
  void Finished(int64_t endUs);

private:
  std::deque<Reply> queue_;
  bool sending_ = false;
  std::optional<int64_t> lastEndUs_;
  int64_t minSilenceUs_;
};

} // namespace boxsim
