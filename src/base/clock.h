#pragma once
// Where the engine takes its time from: the end-of-burst silence, the
// progress and elapsed clocks, the deadlines and the watch for a lost port.
// The program runs on the system clock; a test hands in a ManualClock and
// moves time itself, so what depends on time happens exactly when the test
// says, never when a sleep happens to end.
//
// Threads: NowMs may be called from any thread. An alarm belongs to the thread
// that made it (its owner's event loop); it fires there, for a manual clock
// inside Advance, which the test calls on that same thread.

#include <QObject>
#include <cstdint>
#include <functional>
#include <memory>

namespace base {

// A one-shot or periodic call on the clock's time.
class Alarm {
public:
  virtual ~Alarm() = default;
  // (Re)starts: fires `ms` from now, and with `repeat` every `ms` after that.
  virtual void Arm(int ms, bool repeat) = 0;
  virtual void Disarm() = 0;
  virtual bool Armed() const = 0;
};

class Clock {
public:
  virtual ~Clock() = default;
  // Milliseconds on a scale that never goes back.
  virtual int64_t NowMs() const = 0;
  // An alarm calling `fire` on the calling thread; it ends with its owner.
  virtual std::unique_ptr<Alarm> MakeAlarm(std::function<void()> fire) = 0;
  // For threads that wait for a moment of this clock. A clock that moves only
  // when told keeps `woken` and calls it (on the advancing thread) after each
  // move, for as long as the returned token lives; such waits wait without a
  // time-out. A clock that runs on its own returns nothing: wait with a
  // time-out instead.
  virtual std::shared_ptr<void> WatchMoves(std::function<void()> woken) {
    (void)woken;
    return nullptr;
  }
};

// The steady system clock; its alarms are precise Qt timers.
Clock &SystemClock();

// A clock that stands still until Advance moves it. Alarms that come due on
// the way fire in the order of their moments (in the order they were armed
// when equal), each with the clock set to its moment.
class ManualClock : public Clock {
public:
  ManualClock();
  ~ManualClock() override;
  int64_t NowMs() const override;
  std::unique_ptr<Alarm> MakeAlarm(std::function<void()> fire) override;
  std::shared_ptr<void> WatchMoves(std::function<void()> woken) override;
  void Advance(int64_t ms);

  struct State; // shared with the alarms it made

private:
  std::shared_ptr<State> state_;
};

} // namespace base
