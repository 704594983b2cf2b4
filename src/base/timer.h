#pragma once
// A window timer with the semantics the operations rely on: setting the
// interval it already has, or enabling it while enabled, changes nothing; a
// new interval on a running timer restarts its period; interval 0 never ticks.
// Runs on the thread that owns it (the GUI thread) and costs nothing while off.
// It takes its time from `clock` (base/clock.h), the system's unless a test
// gives its own.

#include "base/clock.h"

#include <QObject>
#include <functional>
#include <memory>

namespace base {

class TTimer : public QObject {
  Q_OBJECT
public:
  TTimer(QObject *parent, int intervalMs, base::Clock &clock = base::SystemClock());

  int Interval() const { return interval_; }
  bool Enabled() const { return enabled_; }
  void SetInterval(int ms);
  void SetEnabled(bool on);

  std::function<void()> OnTimer;

private:
  void Update();
  std::unique_ptr<base::Alarm> alarm_;
  int interval_;
  bool enabled_ = false;
};

} // namespace base
