#pragma once
// Production figures of jobs, computed from the store alone, so that they
// survive a restart and agree on every station that reads the same store.
//
// A unit is one board, a row of the store's units (records/unit_row.h): its
// verdict decides it, passed or failed (by the result class of its end); a
// unit without a verdict, or ended interrupted (stopped, cancelled, its
// station killed, a record of it not written), counts neither way and is
// shown as interrupted. The summaries per day, hour, station and operator are
// records/unit_summary.h's. An older store's units are derived from its records
// (records/database.h DerivedUnitsSql). Records and units without a job are
// in no figure.

#include "records/query.h"
#include "records/store_location.h"

#include <QDate>
#include <QDateTime>
#include <QString>
#include <map>
#include <vector>

namespace records {

// passed / (passed + failed) in percent, negative when there is neither: the
// one yield of every count shown (a lot, a station, a line, a run, a summary).
double YieldPercent(qint64 passed, qint64 failed);

// The results that fail a unit, in kResults order.
const QStringList &FailureResults();

struct LotCounters {
  qint64 passed = 0;
  qint64 failed = 0;
  qint64 running = 0; // units without a verdict that hold a place (records/unit_store.h)
  bool operator==(const LotCounters &) const = default;
};

// The units of `job` in `lot` that passed and that failed, and those under
// way that hold a place (records/unit_store.h). Reads only; false and *error
// when the store cannot be read.
bool CountLot(const StoreLocation &where, const QString &job, const QString &lot, LotCounters *counters,
              QString *error);
namespace db {
class Connection;
}
bool CountLot(db::Connection &c, const QString &job, const QString &lot, LotCounters *counters, QString *error);

// What the store sums up for the yield chart: the units that ended in one
// UTC hour with one result. The store groups by UTC hour so
// that one query serves hours and days of any local time zone.
struct HourUnits {
  QDateTime hour; // UTC, on the hour
  QString result;
  qint64 units = 0;
  bool operator==(const HourUnits &) const = default;
};

enum class Bucket { Hour, Day };

// A chart spanning more than this shows days rather than hours.
inline constexpr qint64 kMostHourlyHours = 48;

struct YieldBar {
  QDateTime start; // local, on the hour or at midnight
  qint64 passed = 0;
  qint64 failed = 0;
  bool operator==(const YieldBar &) const = default;
};

// The units passed and failed per hour or per local day, every bucket from
// the first to the last that has a unit, and the failed units by result.
struct YieldChart {
  Bucket bucket = Bucket::Day;
  std::vector<YieldBar> bars;
  std::map<QString, qint64> failures;
  qint64 passed = 0;
  qint64 failed = 0;
  QStringList jobs; // every job in the store, by name
};

// Hours when [since, until) spans at most kMostHourlyHours, days when more;
// an open end is taken from the first or last hour that has units.
Bucket BucketFor(const std::optional<QDateTime> &since, const std::optional<QDateTime> &until,
                 const std::vector<HourUnits> &hours);
// The chart of the store's sums (any order); results that count neither way are left out.
YieldChart ChartOf(const std::vector<HourUnits> &hours, Bucket bucket);

// The chart of the filter's range and job (and lot), with the store's jobs;
// the store's sums are the units' ends, so a unit retried across the
// range's end counts in the hour it ended, if that is inside.
bool ChartFigures(const StoreLocation &where, const Filter &f, YieldChart *chart, QString *error);
bool ChartFigures(db::Connection &c, const Filter &f, YieldChart *chart, QString *error);

} // namespace records
