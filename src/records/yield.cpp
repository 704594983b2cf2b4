#include "records/yield.h"
#include "records/database.h"

#include <QHash>
#include <QTimeZone>
#include <algorithm>
#include <tuple>

namespace records {

namespace {

using db::JobAttempt;

bool Off(const StoreLocation &where, QString *error) {
  if (where.kind != StoreLocation::Kind::Off)
    return false;
  if (error)
    *error = QStringLiteral("production records are switched off");
  return true;
}

bool Counts(const QString &result) {
  return result != QLatin1String("interrupted") && result != QLatin1String("cancelled");
}

// Reads the job records `f` selects: `each` sees every one, `last` ends with
// each unit's last attempt.
bool ReadUnits(db::Connection &c, Filter f, const std::function<void(const JobAttempt &)> &each,
               QHash<QString, JobAttempt> *last, QString *error) {
  f.result.clear();
  f.fileContains.clear();
  f.before.reset();
  f.limit = 0;
  return c.JobAttempts(
      f,
      [&](const JobAttempt &a) {
        each(a);
        // Unit identifiers are random, but a job is named by people: kept apart by job too.
        JobAttempt &held = (*last)[a.job + QChar(0x1F) + a.unit];
        const auto order = [](const JobAttempt &x) {
          return std::tuple(x.attempt, x.finishedAt.toMSecsSinceEpoch(), x.id);
        };
        if (held.unit.isEmpty() || order(a) > order(held))
          held = a;
        return true;
      },
      error);
}

} // namespace

const QStringList &FailureResults() {
  static const QStringList results = [] {
    QStringList out;
    for (const QString &r : kResults)
      if (r != QLatin1String("ok") && Counts(r))
        out << r;
    return out;
  }();
  return results;
}

bool CountLot(const StoreLocation &where, const QString &job, const QString &lot, LotCounters *counters,
              QString *error) {
  if (Off(where, error))
    return false;
  db::Connection c(where, db::Connection::Target::Store, "yield");
  c.ReadOnly();
  return CountLot(c, job, lot, counters, error);
}

bool CountLot(db::Connection &c, const QString &job, const QString &lot, LotCounters *counters, QString *error) {
  *counters = {};
  QHash<QString, JobAttempt> last;
  if (!ReadUnits(
          c, Filter{.job = job, .lot = lot}, [](const JobAttempt &) {}, &last, error))
    return false;
  for (const JobAttempt &unit : last) {
    if (unit.result == QLatin1String("ok"))
      ++counters->passed;
    else if (Counts(unit.result))
      ++counters->failed;
  }
  return true;
}

double DaySummary::YieldPercent() const {
  const qint64 units = passed + failed;
  return units > 0 ? 100.0 * double(passed) / double(units) : -1.0;
}

bool Summarize(const StoreLocation &where, const Filter &f, std::vector<DaySummary> *days, QString *error) {
  days->clear();
  std::map<std::pair<QString, QDate>, DaySummary> byDay;
  const auto of = [&](const JobAttempt &a) -> DaySummary & {
    const QDate day = a.finishedAt.toLocalTime().date();
    DaySummary &d = byDay[{a.job, day}];
    d.job = a.job;
    d.day = day;
    return d;
  };
  if (Off(where, error))
    return false;
  db::Connection c(where, db::Connection::Target::Store, "yield");
  c.ReadOnly();
  QHash<QString, JobAttempt> last;
  if (!ReadUnits(
          c, f, [&](const JobAttempt &a) { ++of(a).attempts; }, &last, error))
    return false;
  for (const JobAttempt &unit : last) {
    DaySummary &d = of(unit);
    if (unit.result == QLatin1String("ok")) {
      ++d.passed;
    } else if (Counts(unit.result)) {
      ++d.failed;
      ++d.failures[unit.result];
    }
  }
  for (auto &[key, d] : byDay)
    days->push_back(std::move(d));
  return true;
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
    if (!passed && !Counts(h.result))
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
  if (Off(where, error))
    return false;
  db::Connection c(where, db::Connection::Target::Store, "chart");
  c.ReadOnly();
  return ChartFigures(c, f, chart, error);
}

} // namespace records
