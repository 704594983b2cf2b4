#include "base/timer.h"

namespace base {

TTimer::TTimer(QObject *parent, int intervalMs, base::Clock &clock)
    : QObject(parent), alarm_(clock.MakeAlarm([this] {
        if (OnTimer)
          OnTimer();
      })),
      interval_(intervalMs) {}

void TTimer::SetInterval(int ms) {
  if (ms == interval_)
    return;
  interval_ = ms;
  Update();
}

void TTimer::SetEnabled(bool on) {
  if (on == enabled_)
    return;
  enabled_ = on;
  Update();
}

void TTimer::Update() {
  if (enabled_ && interval_ > 0)
    alarm_->Arm(interval_, true); // (re)starts the period
  else
    alarm_->Disarm();
}

} // namespace base
