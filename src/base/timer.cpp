#include "base/timer.h"

TTimer::TTimer(QObject *parent, int intervalMs) : QObject(parent), interval_(intervalMs) {
  timer_.setTimerType(Qt::PreciseTimer);
  connect(&timer_, &QTimer::timeout, this, [this] {
    if (OnTimer)
      OnTimer();
  });
}

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
    timer_.start(interval_); // (re)starts the period
  else
    timer_.stop();
}
