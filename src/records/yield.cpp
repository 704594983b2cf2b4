#include "records/yield.h"
#include "records/database.h"
#include "records/unit_store.h"

#include <QHash>
#include <QTimeZone>
#include <algorithm>
#include <tuple>

namespace records {

double YieldPercent(qint64 passed, qint64 failed) {
  return passed + failed > 0 ? 100.0 * double(passed) / double(passed + failed) : -1.0;
}

const QStringList &FailureResults() {
  static const QStringList results = base::FailingResultNames();
  return results;
}

bool CountLot(const StoreLocation &where, const QString &job, const QString &lot, LotCounters *counters,
              QString *error) {
  if (RecordsOff(where, error))
    return false;
  db::Connection c(where, db::Connection::Target::Store, "yield");
  c.ReadOnly();
  return CountLot(c, job, lot, counters, error);
}

bool CountLot(db::Connection &c, const QString &job, const QString &lot, LotCounters *counters, QString *error) {
  return ReadLot(c, job, lot, QDateTime::currentDateTimeUtc(), counters, error);
}

Bucket BucketFor(const std::optional<QDateTime> &since, const std::optional<QDateTime> &until,
                 const std::vector<HourUnits> &hours) {
  if (hours.empty())
    return since && until && since->secsTo(*until) <= kMostHourlyHours * 3600 ? Bucket::Hour : Bucket::Day;
  const auto [first, last] = std::minmax_element(
      hours.begin(), hours.end(), [](const HourUnits &a, const HourUnits &b) { return a.hour < b.hour; });
  const QDateTime from = since.value_or(first->hour);
  const QDateTime to = until.value_or(last->hour.addSecs(3600));
  return from.secsTo(to) <= kMostHourlyHours * 3600 ? Bucket::Hour : Bucket::Day;
}

namespace {

constexpr qint64 kUnixEpochJulianDay = 2440588;

qint64 FloorDiv(qint64 a, qint64 b) { return a / b - (a % b != 0 && (a < 0) != (b < 0)); }

} // namespace

YieldChart ChartOf(const std::vector<HourUnits> &hours, Bucket bucket) {
  YieldChart chart;
  chart.bucket = bucket;
  // Buckets are numbered in local wall-clock hours or days since the epoch:
  // a year of hours is thousands of sums, and asking the zone once per
  // distinct hour rather than building local times per sum keeps that cheap.
  const QTimeZone zone = QTimeZone::systemTimeZone();
  const qint64 span = bucket == Bucket::Hour ? 3600 : 86400;
  std::map<qint64, YieldBar> bars;
  qint64 lastHour = 0;
  qint64 lastKey = 0;
  bool known = false;
  for (const HourUnits &h : hours) {
    const bool passed = h.result == QLatin1String("ok");
    if (!passed && !base::CountsForYield(h.result))
      continue;
    const qint64 utc = h.hour.toSecsSinceEpoch();
    if (!known || utc != lastHour) {
      // A zone a half hour off UTC puts the hour in the local hour it starts in.
      lastKey = FloorDiv(utc + zone.offsetFromUtc(h.hour), span);
      lastHour = utc;
      known = true;
    }
    YieldBar &bar = bars[lastKey];
    (passed ? bar.passed : bar.failed) += h.units;
    (passed ? chart.passed : chart.failed) += h.units;
    if (!passed)
      chart.failures[h.result] += h.units;
  }
  if (bars.empty())
    return chart;
  // Every bucket between the first and the last, so that a quiet hour shows as one.
  for (qint64 key = bars.begin()->first; key <= bars.rbegin()->first; ++key) {
    const auto found = bars.find(key);
    YieldBar bar = found != bars.end() ? found->second : YieldBar{};
    const qint64 seconds = key * span;
    bar.start = QDateTime(QDate::fromJulianDay(kUnixEpochJulianDay + FloorDiv(seconds, 86400)),
                          QTime(int(seconds - FloorDiv(seconds, 86400) * 86400) / 3600, 0));
    chart.bars.push_back(bar);
  }
  return chart;
}

bool ChartFigures(db::Connection &c, const Filter &f, YieldChart *chart, QString *error) {
  std::vector<HourUnits> hours;
  QStringList jobs;
  if (!c.UnitsByHour(f, &hours, error) || !c.Jobs(&jobs, error))
    return false;
  *chart = ChartOf(hours, BucketFor(f.since, f.until, hours));
  chart->jobs = jobs;
  return true;
}

bool ChartFigures(const StoreLocation &where, const Filter &f, YieldChart *chart, QString *error) {
  if (RecordsOff(where, error))
    return false;
  db::Connection c(where, db::Connection::Target::Store, "chart");
  c.ReadOnly();
  return ChartFigures(c, f, chart, error);
}

} // namespace records
