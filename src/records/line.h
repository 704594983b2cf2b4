#pragma once
// The line at a glance: every station that shares a store, as its supervisor
// sees it, computed from the store's unit rows (records/unit_row.h) alone.
//
// LineOf is a plain function over the units a view has read (those that ended
// since the day or the last hour began, alike ones summed, and those without
// a verdict) and the lots' counts, at a moment the caller gives: nothing here
// reads a clock, so a test puts the line at any moment it likes. A unit without a verdict is
// running while its hold lasts (holds_until, the longest a unit can take);
// past it its station died or lost the store, and it is interrupted: never
// counted passed. records/line_reader.h reads the rows on a worker thread.
//
// "Today" is the local day of the caller's choosing (dayStart, in UTC); "the
// last hour" the hour before `now`. A unit that ended more than
// kClockAheadToleranceS after `now` was ended by a station whose clock is
// ahead: it is counted apart (clockAhead), in no hour, day or lot of today,
// and says nothing of when its station was last active. Times are UTC with
// milliseconds.

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <span>
#include <vector>

namespace records {

// How far a unit's end may lie past now before its station's clock is taken to be ahead.
inline constexpr int kClockAheadToleranceS = 60;

// What the line needs of one unit row.
struct LineUnit {
  QString host, station, job, lot;
  QString port; // the box's port as its station chose it (the records' station)
  QDateTime startedAt;
  QDateTime endedAt; // invalid while it has no verdict
  QString verdict;   // empty, or records/unit_row.h kVerdict*
  QString result;    // the class of its end
  QDateTime holdsUntil;
  // How many units this row stands for: units alike in all the above (the
  // store sums those that ended, their latest start and end standing for all).
  qint64 units = 1;

  bool operator==(const LineUnit &) const = default;
};

// A lot as the store counts it: every unit of it that ever ended, and its
// size (0 when no station wrote one).
struct LotCount {
  QString job, lot;
  qint64 passed = 0;
  qint64 failed = 0;
  qint64 size = 0;

  bool operator==(const LotCount &) const = default;
};

struct StationFigures {
  QString station, host;
  QString job, lot;      // of the unit it started last
  QStringList ports;     // of its units, in order (its records' station column)
  qint64 running = 0;    // units under way now
  qint64 passedHour = 0; // units that ended in the last hour
  qint64 failedHour = 0;
  qint64 passedToday = 0;
  qint64 failedToday = 0;
  qint64 interruptedToday = 0; // ended interrupted today, or started today and never ended
  qint64 clockAhead = 0;       // units it ended in the future by the line's clock
  // The last unit that failed today: when it ended, the class of its end, and
  // its last attempt's message as recorded (which LineOf leaves empty: the
  // store's reader adds it).
  QDateTime lastFailureAt;
  QString lastFailure;
  QString lastFailureMessage;
  // When it last did something: its latest end, or the start of a unit that
  // never ended. Invalid when it has done nothing.
  QDateTime lastActive;

  // passedToday / (passedToday + failedToday) in percent; negative without either.
  double YieldPercent() const;
  // Whole minutes since lastActive; -1 while a unit runs.
  qint64 IdleMinutes(const QDateTime &now) const;
  bool operator==(const StationFigures &) const = default;
};

struct LotFigures {
  QString job, lot;
  qint64 passed = 0; // of the whole lot, every day's
  qint64 failed = 0;
  qint64 running = 0;
  qint64 size = 0; // 0: not known

  bool operator==(const LotFigures &) const = default;
};

struct LineFigures {
  QDateTime now;
  std::vector<StationFigures> stations; // those that started or ended a unit today, by station and host
  std::vector<LotFigures> lots;         // those with a unit today, by job and lot
  // Every station's, today.
  qint64 running = 0;
  qint64 passed = 0;
  qint64 failed = 0;
  qint64 interrupted = 0;
  qint64 clockAhead = 0; // units ended in the future: their stations' clocks are ahead

  double YieldPercent() const;
  bool operator==(const LineFigures &) const = default;
};

// The line at `now`, today having begun at `dayStart`. `units` in any order;
// `lots` as the store counts them (a lot of today without one is counted from
// `units` alone).
LineFigures LineOf(std::span<const LineUnit> units, std::span<const LotCount> lots, const QDateTime &now,
                   const QDateTime &dayStart);

// The first moment `units` must cover for LineOf at `now`: the earlier of
// the day's start and an hour before now.
QDateTime LineSince(const QDateTime &now, const QDateTime &dayStart);

// The local midnight that began the day of `now`, in UTC.
QDateTime LocalDayStart(const QDateTime &now);

} // namespace records
