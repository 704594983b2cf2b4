#include "records/yield.h"
#include "records/database.h"

#include <QHash>
#include <tuple>

namespace records {

namespace {

using db::JobAttempt;

bool Counts(const QString &result) {
  return result != QLatin1String("interrupted") && result != QLatin1String("cancelled");
}

// Reads the job records `f` selects: `each` sees every one, `last` ends with
// each unit's last attempt.
bool ReadUnits(const StoreLocation &where, Filter f, const std::function<void(const JobAttempt &)> &each,
               QHash<QString, JobAttempt> *last, QString *error) {
  if (where.kind == StoreLocation::Kind::Off) {
    if (error)
      *error = QStringLiteral("production records are switched off");
    return false;
  }
  f.result.clear();
  f.fileContains.clear();
  f.before.reset();
  f.limit = 0;
  db::Connection c(where, db::Connection::Target::Store, "yield");
  c.ReadOnly();
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
  *counters = {};
  QHash<QString, JobAttempt> last;
  if (!ReadUnits(
          where, Filter{.job = job, .lot = lot}, [](const JobAttempt &) {}, &last, error))
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
  QHash<QString, JobAttempt> last;
  if (!ReadUnits(
          where, f, [&](const JobAttempt &a) { ++of(a).attempts; }, &last, error))
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

} // namespace records
