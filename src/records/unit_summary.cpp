#include "records/unit_summary.h"

#include "records/database.h"
#include "records/yield.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>
#include <string_view>
#include <tuple>

namespace records {

namespace {

// The sums of the units the filter's range selects, in two parts, each a
// range of the units' end index: those that ended, and those without an end.
QString SumsSql(int version, SummaryPer per, const Filter &f, QVariantList *values) {
  const QString from =
      version < 5 ? QStringLiteral("(%1) AS u").arg(db::DerivedUnitsSql(version >= 4)) : QStringLiteral("units AS u");
  QString sql;
  for (const char *at : {"ended_at", "started_at"}) {
    const bool ended = at == std::string_view("ended_at");
    // An older store names no operator: its units are all of the empty one.
    // Days are summed by UTC hour too: a local day starts on a UTC hour in every zone whole hours off UTC.
    const QString keys = per == SummaryPer::Hour || per == SummaryPer::Day ? QStringLiteral("SUBSTR(u.%1, 1, 13)").arg(QLatin1String(at))
                         : per == SummaryPer::Station ? QStringLiteral("u.station, u.host")
                         : version < 6                ? QStringLiteral("''")
                                                      : QStringLiteral("u.operator");
    // A unit without an end still within its hold is running on a live station:
    // it is counted neither way, nor as interrupted, until it ends or its hold passes.
    QString where =
        ended ? QStringLiteral(" AND u.ended_at <> ''") : QStringLiteral(" AND u.ended_at = '' AND u.holds_until <= ?");
    if (!ended)
      *values << TimeText(QDateTime::currentDateTimeUtc());
    if (f.since) {
      where += QStringLiteral(" AND u.%1 >= ?").arg(QLatin1String(at));
      *values << TimeText(*f.since);
    }
    if (f.until) {
      where += QStringLiteral(" AND u.%1 < ?").arg(QLatin1String(at));
      *values << TimeText(*f.until);
    }
    for (const auto &[column, value] :
         {std::pair{"job_name", f.job}, std::pair{"lot", f.lot}, std::pair{"operator", f.operatorName}}) {
      if (value.isEmpty())
        continue;
      where += QStringLiteral(" AND u.%1 = ?").arg(QLatin1String(column));
      *values << value;
    }
    sql += (sql.isEmpty() ? QString() : QStringLiteral(" UNION ALL ")) + QStringLiteral("SELECT u.job_name, ") + keys +
           (per != SummaryPer::Station ? QStringLiteral(", ''") : QString()) +
           QStringLiteral(", u.verdict, u.result, COUNT(*), CAST(SUM(u.attempts) AS BIGINT) FROM ") + from +
           QStringLiteral(" WHERE u.job_name <> ''") + where + QStringLiteral(" GROUP BY u.job_name, ") + keys +
           QStringLiteral(", u.verdict, u.result");
  }
  return sql;
}

// The local hour that the UTC hour "2026-12-07T09" starts in.
QDateTime LocalHour(const QString &utcHour) {
  const QDateTime utc(QDate::fromString(utcHour.left(10), Qt::ISODate), QTime(utcHour.mid(11, 2).toInt(), 0), Qt::UTC);
  QDateTime local = utc.toLocalTime();
  local.setTime(QTime(local.time().hour(), 0));
  return local;
}

} // namespace

double UnitFigures::YieldPercent() const { return records::YieldPercent(passed, failed); }

bool SummarizeUnits(db::Connection &c, const Filter &f, SummaryPer per, std::vector<UnitSummary> *rows,
                    QString *error) {
  rows->clear();
  if (!c.Open(error))
    return false;
  if (c.Version() < 2 || (c.Version() < 6 && !f.operatorName.isEmpty()))
    return true; // a store of no jobs, or of no operators
  QVariantList values;
  QSqlQuery q;
  if (!db::Run(c, SumsSql(c.Version(), per, f, &values), values, error, &q))
    return false;
  // Per day or hour by job and then day or hour; per station by station, host and job; per operator by operator and
  // job.
  std::map<std::tuple<QString, QString, QString, qint64>, UnitSummary> sums;
  QString lastHourText;
  QDateTime lastHour;
  while (q.next()) {
    UnitSummary s;
    s.job = q.value(0).toString();
    if (per == SummaryPer::Hour || per == SummaryPer::Day) {
      // Sums come a few to an hour: each hour is converted once.
      if (const QString text = q.value(1).toString(); text != lastHourText) {
        lastHourText = text;
        lastHour = LocalHour(text);
      }
      if (per == SummaryPer::Day)
        s.day = lastHour.date();
      else
        s.hour = lastHour;
    } else if (per == SummaryPer::Station) {
      s.station = q.value(1).toString();
      s.host = q.value(2).toString();
    } else {
      s.operatorName = q.value(1).toString();
    }
    const auto key = per == SummaryPer::Day       ? std::tuple(s.job, QString(), QString(), s.day.toJulianDay())
                     : per == SummaryPer::Hour    ? std::tuple(s.job, QString(), QString(), s.hour.toMSecsSinceEpoch())
                     : per == SummaryPer::Station ? std::tuple(s.station, s.host, s.job, qint64(0))
                                                  : std::tuple(s.operatorName, QString(), s.job, qint64(0));
    UnitSummary &sum = sums.try_emplace(key, s).first->second;
    const QString verdict = q.value(3).toString();
    const qint64 units = q.value(5).toLongLong();
    sum.figures.attempts += q.value(6).toLongLong();
    if (verdict == QLatin1String("passed")) {
      sum.figures.passed += units;
    } else if (verdict == QLatin1String("failed")) {
      sum.figures.failed += units;
      sum.figures.failures[q.value(4).toString()] += units;
    } else {
      sum.figures.interrupted += units;
    }
  }
  if (q.lastError().isValid()) {
    if (error)
      *error = db::ErrorText(q.lastError());
    return false;
  }
  for (auto &[key, sum] : sums)
    rows->push_back(std::move(sum));
  return true;
}

bool SummarizeUnits(const StoreLocation &where, const Filter &f, SummaryPer per, std::vector<UnitSummary> *rows,
                    QString *error) {
  if (RecordsOff(where, error))
    return false;
  db::Connection c(where, db::Connection::Target::Store, "summary");
  c.ReadOnly();
  return SummarizeUnits(c, f, per, rows, error);
}

} // namespace records
