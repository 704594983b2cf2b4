#include "base/timer.h"
#include "support/test_helpers.h"

#include <gtest/gtest.h>

using namespace base;

TEST(Timer, StartsDisabledAndTicksOnlyWhileEnabledWithAnInterval) {
  TTimer timer(nullptr, 20);
  int ticks = 0;
  timer.OnTimer = [&] { ++ticks; };
  EXPECT_FALSE(timer.Enabled());
  PumpFor(60);
  EXPECT_EQ(ticks, 0);

  timer.SetEnabled(true);
  ASSERT_TRUE(PumpUntil([&] { return ticks >= 2; }, 2000));
  timer.SetEnabled(false);
  const int stopped = ticks;
  PumpFor(60);
  EXPECT_EQ(ticks, stopped);
}

TEST(Timer, IntervalZeroNeverTicks) {
  TTimer timer(nullptr, 0);
  int ticks = 0;
  timer.OnTimer = [&] { ++ticks; };
  timer.SetEnabled(true);
  PumpFor(50);
  EXPECT_EQ(ticks, 0);
  EXPECT_TRUE(timer.Enabled());
}

TEST(Timer, SameIntervalOrRepeatedEnableDoesNotRestartThePeriod) {
  TTimer timer(nullptr, 150);
  int ticks = 0;
  timer.OnTimer = [&] { ++ticks; };
  timer.SetEnabled(true);
  // Re-applying the same settings every 40 ms must not keep pushing the tick away.
  QElapsedTimer clock;
  clock.start();
  while (ticks == 0 && clock.elapsed() < 3000) {
    timer.SetInterval(150);
    timer.SetEnabled(true);
    PumpFor(40);
  }
  EXPECT_EQ(ticks, 1) << "each re-application restarted the period";
}

TEST(Timer, NewIntervalOnARunningTimerRestartsItsPeriod) {
  TTimer timer(nullptr, 100);
  int ticks = 0;
  timer.OnTimer = [&] { ++ticks; };
  timer.SetEnabled(true);
  QElapsedTimer clock;
  clock.start();
  PumpFor(70);
  timer.SetInterval(101);
  ASSERT_TRUE(PumpUntil([&] { return ticks >= 1; }, 1000));
  EXPECT_GE(clock.elapsed(), 165) << "the tick came from the old period";
}
