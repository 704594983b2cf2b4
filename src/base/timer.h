#pragma once
// A window timer with the semantics the operations rely on: setting the
// interval it already has, or enabling it while enabled, changes nothing; a
// new interval on a running timer restarts its period; interval 0 never ticks.
// Runs on the thread that owns it (the GUI thread) and costs nothing while off.

#include <QObject>
#include <QTimer>
#include <functional>

class TTimer : public QObject {
  Q_OBJECT
public:
  explicit TTimer(QObject *parent, int intervalMs);

  int Interval() const { return interval_; }
  bool Enabled() const { return enabled_; }
  void SetInterval(int ms);
  void SetEnabled(bool on);

  std::function<void()> OnTimer;

private:
  void Update();
  QTimer timer_;
  int interval_;
  bool enabled_ = false;
};
