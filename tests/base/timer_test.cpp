#include "base/timer.h"

#include <gtest/gtest.h>
#include <functional>
#include <vector>

using namespace base;

// Each row sets a timer up, acts on it at given moments of a manual clock and
// lists the moments it ticked, to the millisecond.
TEST(Timer, TicksExactlyWhenItsSettingsSay) {
  using Act = std::function<void(TTimer &)>;
  const Act on = [](TTimer &t) { t.SetEnabled(true); };
  const Act off = [](TTimer &t) { t.SetEnabled(false); };
  auto interval = [](int ms) { return Act([ms](TTimer &t) { t.SetInterval(ms); }); };
  const Act reapply = [](TTimer &t) {
    t.SetInterval(t.Interval());
    t.SetEnabled(true);
  };
  struct Case {
    const char *name;
    int interval;
    std::vector<std::pair<int64_t, Act>> acts; // at that moment
    int64_t end;
    std::vector<int64_t> ticks;
  };
  const std::vector<Case> cases = {
      {"made disabled, it never ticks", 20, {}, 1000, {}},
      {"enabled, every period until disabled", 20, {{0, on}, {65, off}}, 1000, {20, 40, 60}},
      {"interval 0 never ticks", 0, {{0, on}}, 1000, {}},
      {"the same interval or a repeated enable keeps the period",
       150,
       {{0, on}, {40, reapply}, {80, reapply}, {120, reapply}, {149, reapply}},
       200,
       {150}},
      {"a new interval restarts the period", 100, {{0, on}, {70, interval(101)}}, 300, {171, 272}},
      {"enabled again after off starts afresh", 100, {{0, on}, {70, off}, {70, on}}, 200, {170}},
      {"interval 0 stops it, a new one starts it", 50, {{0, on}, {60, interval(0)}, {160, interval(30)}}, 200,
       {50, 190}},
      {"an interval given while off waits for the enable", 0, {{10, interval(40)}, {30, on}}, 110, {70, 110}},
  };
  for (const Case &c : cases) {
    ManualClock clock;
    TTimer timer(nullptr, c.interval, clock);
    std::vector<int64_t> ticks;
    timer.OnTimer = [&] { ticks.push_back(clock.NowMs()); };
    for (const auto &[at, act] : c.acts) {
      clock.Advance(at - clock.NowMs());
      act(timer);
    }
    clock.Advance(c.end - clock.NowMs());
    EXPECT_EQ(ticks, c.ticks) << c.name;
  }
}
