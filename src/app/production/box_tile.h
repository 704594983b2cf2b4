#pragma once
// One box of the production view: its port's stable name, a large state word
// in the state's colour (READY, BUSY with percent, RETRY k/n, PASS, FAIL with
// the reason), and the unit's serial number when it has one. Drawn by hand, so
// that sixteen tiles repainted ten times a second cost the GUI thread little.
// Accessibility sees the tile as "Box N", described by its state word and
// reason ("FAIL: <reason>"). Below the word, the unit's time: running while
// busy, final once it ended.

#include "session/production_run.h"

#include <QString>
#include <QWidget>

namespace app {

// The tile's accessible description: the state word, then the reason as
// shown after a colon when the unit's last attempt failed ("FAIL: <reason>"),
// and the unit's serial number or scanned code on a line of its own.
QString StateDescription(const session::UnitStatus &status);

class BoxTile : public QWidget {
  Q_OBJECT
public:
  BoxTile(const session::UnitStatus &status, QWidget *parent = nullptr);
  // Repaints only when something shown changed.
  void Show(const session::UnitStatus &status);
  const session::UnitStatus &Status() const { return status_; }
  // The time the unit under way has taken so far, in tenths of a second,
  // shown under the state word while it is busy.
  void ShowElapsed(int64_t tenths);
  // Times the tile was painted (for the redraw rate the benchmark measures).
  int Paints() const { return paints_; }

protected:
  void paintEvent(QPaintEvent *event) override;

private:
  session::UnitStatus status_;
  int64_t elapsedTenths_ = 0;
  int paints_ = 0;
};

} // namespace app
