// When the simulated box's replies may go on the line, and the line rate model.
#include "tx_scheduler.h"

#include <gtest/gtest.h>

using namespace boxsim;

namespace {

Reply Ready(int64_t readyUs, int64_t thinkUs = 0, bool followsPrevious = false) {
  Reply r;
  r.bytes = {0x68, 0x00, 0x01, 0x99, 0x16};
  r.readyUs = readyUs;
  r.thinkUs = thinkUs;
  r.followsPrevious = followsPrevious;
  return r;
}

} // namespace

TEST(TxScheduler, FirstReplyStartsWhenReady) {
  TxScheduler s;
  s.Add({Ready(5'000)});
  EXPECT_EQ(s.NextStartUs(), 5'000);
}

TEST(TxScheduler, KeepsTheSilenceBetweenReplies) {
  TxScheduler s;
  s.Add({Ready(0), Ready(0)});
  ASSERT_EQ(s.Waiting(), 2u);
  s.Start();
  EXPECT_TRUE(s.Sending());
  s.Finished(10'000);
  EXPECT_FALSE(s.Sending());
  EXPECT_EQ(s.NextStartUs(), 10'000 + kMinSilenceUs);
  s.Start();
  s.Finished(140'000);
  // A reply that became ready long after the last one ended is not held back.
  s.Add({Ready(900'000)});
  EXPECT_EQ(s.NextStartUs(), 900'000);
}

TEST(TxScheduler, ThinkTimeOfFollowingBurstsCountsFromThePreviousEnd) {
  struct Case {
    int64_t thinkUs;
    int64_t expectedGapUs;
  };
  for (const Case c : {Case{0, kMinSilenceUs}, Case{50'000, kMinSilenceUs}, Case{300'000, 300'000}}) {
    SCOPED_TRACE(c.thinkUs);
    TxScheduler s;
    s.Add({Ready(c.thinkUs, c.thinkUs), Ready(0, c.thinkUs, true)});
    EXPECT_EQ(s.NextStartUs(), c.thinkUs);
    s.Start();
    s.Finished(2'000'000);
    EXPECT_EQ(s.NextStartUs(), 2'000'000 + c.expectedGapUs);
  }
}

TEST(LineTiming, ThirtyEightFourHundredBaudCarries3840BytesASecond) {
  EXPECT_EQ(LineTimeUs(0), 0);
  EXPECT_EQ(LineTimeUs(3840), 1'000'000);
  EXPECT_EQ(LineTimeUs(6), 1'562);
  EXPECT_EQ(LineTimeUs(4102), 1'068'229);
}

TEST(LineTiming, PacedSendReleasesBytesAsTheirTurnComes) {
  EXPECT_EQ(BytesStarted(1'000, 999, 100), 0u);
  EXPECT_EQ(BytesStarted(1'000, 1'000, 100), 1u); // the first byte goes at once
  EXPECT_EQ(BytesStarted(1'000, 1'000 + 260, 100), 1u);
  EXPECT_EQ(BytesStarted(1'000, 1'000 + 261, 100), 2u);
  EXPECT_EQ(BytesStarted(0, 10'000, 4096), 39u);
  EXPECT_EQ(BytesStarted(0, 1'000'000, 4096), 3841u);
  EXPECT_EQ(BytesStarted(0, 5'000'000, 4096), 4096u);
}

TEST(LineTiming, InputArrivesBackToBackAtTheLineRate) {
  LineClock line;
  // A 4102-byte block read at once has fully arrived only after its line time.
  EXPECT_EQ(line.Arrive(4102, 1'000), 1'000 + 1'068'229);
  // More bytes read while the line is still busy queue behind it.
  EXPECT_EQ(line.Arrive(6, 2'000), 1'000 + 1'068'229 + 1'562);
  // After a pause the line starts from the time of reading.
  EXPECT_EQ(line.Arrive(4, 5'000'000), 5'000'000 + 1'041);
}
