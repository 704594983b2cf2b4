#pragma once
// The line at a glance, for whoever runs the line: every station that wrote a
// unit to the store today, one row each (station_row.h) with its host, job
// and lot, its units running now, passed and failed in the last hour and
// today, its yield today, its last failure's result class and message, and
// "idle N min" since it last did something, on amber from the settings
// file's [line] amber_minutes (default 10). Above them the line's totals and
// yield today, and a bar per lot of today against its size. A row, clicked or
// activated from the keyboard, opens the records window on that station's
// records (its host and ports).
//
// Opened from View > Line... or alone (kavrin-programmer --line), with no
// box and no port. Every read runs on the LineReader's worker
// (records/line_reader.h); the window asks and shows, so the GUI thread never
// waits on the store. A PostgreSQL store tells each unit's start and end, and
// the window reads again at once, then at most once per kToldCoalesceMs
// whatever else it tells (and every kToldRefreshMs besides, for idle
// minutes and holds that lapse); a SQLite store is read every
// kPolledRefreshMs, as is a server whose notifications do not come; a hidden
// window reads nothing, and reads at once when shown again. Both times run on
// the base::Clock given; "now" and "today" come from the wall
// clock given (the system's unless a test gives its own).

#include "app/ui/dialogs.h"
#include "base/clock.h"
#include "records/line_reader.h"

#include <QWidget>
#include <functional>
#include <memory>
#include <vector>

class QLabel;
class QProgressBar;
class QVBoxLayout;
namespace base {
class TTimer;
}

namespace app {

class RecordsWindow;
class StationRow;

class LineWindow : public QWidget {
  Q_OBJECT
public:
  static constexpr int kPolledRefreshMs = 2000;
  static constexpr int kToldRefreshMs = 30000;
  // A store that tells its changes is read again at most once in this long,
  // however many it tells.
  static constexpr int kToldCoalesceMs = 1000;
  static constexpr int kDefaultAmberMinutes = 10;
  using WallClock = std::function<QDateTime()>;

  // [line] amber_minutes of the settings file: a whole number of minutes from
  // 1, else kDefaultAmberMinutes.
  static int AmberMinutes(const QString &settingsPath);

  LineWindow(const records::StoreLocation &where, Dialogs &dialogs, int amberMinutes,
             base::Clock &clock = base::SystemClock(), WallClock wall = {}, QWidget *parent = nullptr);
  ~LineWindow() override;

  // Asks for the line as it stands now (while shown).
  void Refresh();
  // The rows shown, top to bottom.
  const std::vector<StationRow *> &Rows() const { return rows_; }
  StationRow *Row(const QString &station, const QString &host) const;
  // The records window of the station of `row` (made on the first call), shown.
  RecordsWindow *OpenStation(int row);
  RecordsWindow *StationRecords() const { return records_.get(); }
  // Reads that arrived so far.
  int Reads() const { return reads_; }

  QLabel *Totals = nullptr;
  QLabel *Yield = nullptr;
  QLabel *Running = nullptr;
  QLabel *Status = nullptr;
  std::vector<QProgressBar *> LotBars;

protected:
  void changeEvent(QEvent *event) override;
  // Reads only while shown: a hidden view costs nothing.
  void showEvent(QShowEvent *event) override;
  void hideEvent(QHideEvent *event) override;

private:
  void Arrived(const records::LineRead &read);
  // The store told a change: read now, or at the end of the period when a read was asked within it.
  void Told();
  void ToldPeriodEnded();
  void ShowFigures();
  void ShowStatus();

  const records::StoreLocation where_;
  Dialogs &dialogs_;
  const int amberMinutes_;
  WallClock wall_;
  records::LineReader reader_;
  base::TTimer *timer_ = nullptr;
  std::unique_ptr<base::Alarm> toldPeriod_; // armed from a read the store's word asked for
  bool toldWaiting_ = false;                // told again within the period
  records::LineRead last_;
  QDateTime readAt_; // when the figures shown were read
  QWidget *lotsBox_ = nullptr;
  QVBoxLayout *lots_ = nullptr;
  StationRow *header_ = nullptr;
  QVBoxLayout *rowsLayout_ = nullptr;
  QLabel *empty_ = nullptr;
  std::vector<StationRow *> rows_;
  std::unique_ptr<RecordsWindow> records_;
  int reads_ = 0;
};

} // namespace app
