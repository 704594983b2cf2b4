#include "base/clock.h"

#include <QTimer>
#include <atomic>
#include <chrono>
#include <mutex>
#include <vector>

namespace base {

namespace {

class SystemAlarm : public Alarm {
public:
  explicit SystemAlarm(std::function<void()> fire) {
    // A coarse timer may fire up to 5 % early; time-outs are promises to the operator.
    timer_.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer_, &QTimer::timeout, [fire = std::move(fire)] { fire(); });
  }
  void Arm(int ms, bool repeat) override {
    timer_.setSingleShot(!repeat);
    timer_.start(std::max(0, ms));
  }
  void Disarm() override { timer_.stop(); }
  bool Armed() const override { return timer_.isActive(); }

private:
  QTimer timer_;
};

class SteadyClock : public Clock {
public:
  int64_t NowMs() const override {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
  }
  std::unique_ptr<Alarm> MakeAlarm(std::function<void()> fire) override {
    return std::make_unique<SystemAlarm>(std::move(fire));
  }
};

} // namespace

Clock &SystemClock() {
  static SteadyClock clock;
  return clock;
}

// ---- the manual clock ---------------------------------------------------------

namespace {
struct AlarmEntry {
  std::function<void()> fire;
  bool armed = false;
  bool repeat = false;
  int64_t due = 0;
  int64_t period = 0;
  uint64_t order = 0; // when armed, for alarms due at the same moment
};
} // namespace

struct ManualClock::State {
  std::atomic<int64_t> now{0};
  // Alarms and watchers are touched by the owning thread; the mutex guards
  // the watchers against a waiting thread dropping its token.
  std::mutex mutex;
  std::vector<std::weak_ptr<AlarmEntry>> alarms;
  std::vector<std::weak_ptr<std::function<void()>>> watchers;
  uint64_t nextOrder = 0;

  void Wake() {
    std::vector<std::shared_ptr<std::function<void()>>> live;
    {
      std::lock_guard lock(mutex);
      std::erase_if(watchers, [](const auto &w) { return w.expired(); });
      for (const auto &w : watchers)
        if (auto f = w.lock())
          live.push_back(std::move(f));
    }
    for (const auto &f : live)
      (*f)();
  }
};

namespace {
class ManualAlarm : public Alarm {
public:
  ManualAlarm(std::shared_ptr<ManualClock::State> state, std::shared_ptr<AlarmEntry> entry)
      : state_(std::move(state)), entry_(std::move(entry)) {}
  ~ManualAlarm() override { entry_->armed = false; }
  void Arm(int ms, bool repeat) override {
    ms = std::max(0, ms);
    // A period of nothing would fire for ever within one move.
    entry_->armed = !(repeat && ms == 0);
    entry_->repeat = repeat;
    entry_->period = ms;
    entry_->due = state_->now.load() + ms;
    entry_->order = state_->nextOrder++;
  }
  void Disarm() override { entry_->armed = false; }
  bool Armed() const override { return entry_->armed; }

private:
  std::shared_ptr<ManualClock::State> state_;
  std::shared_ptr<AlarmEntry> entry_;
};
} // namespace

ManualClock::ManualClock() : state_(std::make_shared<State>()) {}
ManualClock::~ManualClock() = default;

int64_t ManualClock::NowMs() const { return state_->now.load(); }

std::unique_ptr<Alarm> ManualClock::MakeAlarm(std::function<void()> fire) {
  auto entry = std::make_shared<AlarmEntry>();
  entry->fire = std::move(fire);
  std::erase_if(state_->alarms, [](const auto &w) { return w.expired(); });
  state_->alarms.push_back(entry);
  return std::make_unique<ManualAlarm>(state_, std::move(entry));
}

std::shared_ptr<void> ManualClock::WatchMoves(std::function<void()> woken) {
  auto watcher = std::make_shared<std::function<void()>>(std::move(woken));
  std::lock_guard lock(state_->mutex);
  state_->watchers.push_back(watcher);
  return watcher;
}

void ManualClock::Advance(int64_t ms) {
  const int64_t target = state_->now.load() + std::max<int64_t>(0, ms);
  for (;;) {
    std::shared_ptr<AlarmEntry> next;
    for (const auto &w : state_->alarms) {
      auto e = w.lock();
      if (e && e->armed && e->due <= target &&
          (!next || e->due < next->due || (e->due == next->due && e->order < next->order)))
        next = std::move(e);
    }
    if (!next)
      break;
    state_->now.store(next->due);
    state_->Wake();
    if (next->repeat) {
      next->due += next->period;
      next->order = state_->nextOrder++;
    } else {
      next->armed = false;
    }
    const std::function<void()> fire = next->fire; // the alarm may go while it fires
    fire();
  }
  state_->now.store(target);
  state_->Wake();
}

} // namespace base
