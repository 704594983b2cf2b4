// Ctrl+C and SIGTERM: the first reaches the event loop as one call, the second
// ends the process at once with 130.
#include "cli/interrupt_watcher.h"
#include "support/test_helpers.h"

#include <csignal>
#include <gtest/gtest.h>

using cli::InterruptWatcher;

namespace {
void Earlier(int) {}
} // namespace

TEST(Interrupts, FirstSignalIsOneCallOnTheLoopAndHandlersAreRestored) {
  // Handlers of the test's own, so that what is put back is told apart from
  // whatever the test was started with (a background job ignores SIGINT).
  struct sigaction earlier {}, startedInt {}, startedTerm {};
  earlier.sa_handler = Earlier;
  sigemptyset(&earlier.sa_mask);
  ASSERT_EQ(sigaction(SIGINT, &earlier, &startedInt), 0);
  ASSERT_EQ(sigaction(SIGTERM, &earlier, &startedTerm), 0);
  {
    InterruptWatcher watcher;
    ASSERT_TRUE(watcher.Installed()) << watcher.Error().toStdString();
    InterruptWatcher second;
    EXPECT_FALSE(second.Installed()); // the process has one set of handlers

    int calls = 0;
    watcher.OnInterrupt = [&] { ++calls; };
    raise(SIGTERM);
    EXPECT_EQ(calls, 0); // nothing runs inside the handler
    ASSERT_TRUE(PumpUntil([&] { return calls > 0; }, 2000));
    // The handler wrote before raise() returned; a pipe left readable would
    // call again on each of these passes.
    for (int pass = 0; pass < 3; ++pass)
      QCoreApplication::processEvents();
    EXPECT_EQ(calls, 1);
    EXPECT_TRUE(watcher.Requested());
  }
  for (int sig : {SIGINT, SIGTERM}) {
    struct sigaction now {};
    sigaction(sig, nullptr, &now);
    EXPECT_EQ(now.sa_handler, &Earlier) << sig;
  }

  {
    // A new watcher starts afresh: its first signal is again only a request.
    InterruptWatcher again;
    ASSERT_TRUE(again.Installed());
    bool called = false;
    again.OnInterrupt = [&] { called = true; };
    raise(SIGINT);
    EXPECT_TRUE(PumpUntil([&] { return called; }, 2000));
  }
  sigaction(SIGINT, &startedInt, nullptr);
  sigaction(SIGTERM, &startedTerm, nullptr);
}

TEST(InterruptsDeathTest, SecondSignalEndsAtOnceWith130) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        InterruptWatcher watcher;
        raise(SIGINT);
        raise(SIGINT);
        std::exit(0); // not reached
      },
      ::testing::ExitedWithCode(130), "");
}
