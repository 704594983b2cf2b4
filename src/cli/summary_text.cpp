#include "cli/summary_text.h"

#include "base/printable.h"
#include "cli/json_line.h"
#include "records/record.h"
#include "records/yield.h"

#include <algorithm>

namespace cli {

namespace {

using records::SummaryPer;
using records::UnitSummary;

QString Yield(const records::UnitFigures &f) {
  const double yield = f.YieldPercent();
  return yield < 0 ? QString() : QString::number(yield, 'f', 1);
}

// The hour as a script reads it: local, with its offset, so that an hour of a
// day the clocks change is still one hour.
QString HourText(const QDateTime &hour) { return hour.toOffsetFromUtc(hour.offsetFromUtc()).toString(Qt::ISODate); }

QStringList Keys(const UnitSummary &s, SummaryPer per) {
  if (per == SummaryPer::Hour)
    return {s.job, s.hour.toString(QStringLiteral("yyyy-MM-dd HH:mm"))};
  return {s.station, s.host, s.job};
}

} // namespace

QString UnitSummaryTable(const std::vector<UnitSummary> &rows, SummaryPer per) {
  QStringList header = per == SummaryPer::Hour
                           ? QStringList{QStringLiteral("JOB"), QStringLiteral("HOUR")}
                           : QStringList{QStringLiteral("STATION"), QStringLiteral("HOST"), QStringLiteral("JOB")};
  const qsizetype keys = header.size();
  header << QStringLiteral("ATTEMPTS") << QStringLiteral("PASSED") << QStringLiteral("FAILED")
         << QStringLiteral("INTERRUPTED") << QStringLiteral("YIELD") << QStringLiteral("FAILURES");
  std::vector<QStringList> table = {header};
  for (const UnitSummary &s : rows) {
    QStringList row;
    for (const QString &key : Keys(s, per))
      row << base::Printable(key);
    QStringList failures;
    for (const QString &result : records::FailureResults())
      if (const auto it = s.figures.failures.find(result); it != s.figures.failures.end())
        failures << QStringLiteral("%1 %2").arg(result).arg(it->second);
    const QString yield = Yield(s.figures);
    row << QString::number(s.figures.attempts) << QString::number(s.figures.passed) << QString::number(s.figures.failed)
        << QString::number(s.figures.interrupted) << (yield.isEmpty() ? QStringLiteral("-") : yield + QLatin1Char('%'))
        << (failures.isEmpty() ? QStringLiteral("-") : failures.join(QStringLiteral(", ")));
    table.push_back(row);
  }
  std::vector<qsizetype> widths(size_t(header.size()), 0);
  for (const QStringList &row : table)
    for (qsizetype c = 0; c < row.size(); ++c)
      widths[size_t(c)] = std::max(widths[size_t(c)], row[c].size());
  QString text;
  for (const QStringList &row : table) {
    QString line;
    for (qsizetype c = 0; c < row.size(); ++c) {
      // Counts line up on the right, texts on the left; the last column runs on.
      const bool count = c >= keys && c < row.size() - 1;
      const QString cell = count                ? row[c].rightJustified(widths[size_t(c)])
                           : c + 1 < row.size() ? row[c].leftJustified(widths[size_t(c)])
                                                : row[c];
      line += (c ? QStringLiteral("  ") : QString()) + cell;
    }
    text += line + QLatin1Char('\n');
  }
  return text;
}

QString UnitSummaryCsv(const std::vector<UnitSummary> &rows, SummaryPer per) {
  QString text = (per == SummaryPer::Hour ? QStringLiteral("job,hour") : QStringLiteral("station,host,job")) +
                 QStringLiteral(",attempts,passed,failed,interrupted,yield_percent,") +
                 records::FailureResults().join(QLatin1Char(',')) + QStringLiteral("\r\n");
  for (const UnitSummary &s : rows) {
    QStringList keys;
    for (const QString &key : per == SummaryPer::Hour ? QStringList{s.job, HourText(s.hour)} : Keys(s, per))
      keys << records::CsvText(key);
    text += keys.join(QLatin1Char(',')) +
            QStringLiteral(",%1,%2,%3,%4,")
                .arg(s.figures.attempts)
                .arg(s.figures.passed)
                .arg(s.figures.failed)
                .arg(s.figures.interrupted) +
            Yield(s.figures);
    for (const QString &result : records::FailureResults()) {
      const auto it = s.figures.failures.find(result);
      text += QLatin1Char(',') + QString::number(it == s.figures.failures.end() ? 0 : it->second);
    }
    text += QStringLiteral("\r\n");
  }
  return text;
}

QByteArray UnitSummaryJson(const std::vector<UnitSummary> &rows, SummaryPer per) {
  QByteArray out;
  for (const UnitSummary &s : rows) {
    JsonLine line;
    if (per == SummaryPer::Hour)
      line.Add("job", s.job).Add("hour", HourText(s.hour));
    else
      line.Add("station", s.station).Add("host", s.host).Add("job", s.job);
    line.Add("attempts", s.figures.attempts).Add("passed", s.figures.passed).Add("failed", s.figures.failed);
    line.Add("interrupted", s.figures.interrupted);
    if (s.figures.YieldPercent() < 0)
      line.AddNull("yield_percent");
    else
      line.AddFixed("yield_percent", s.figures.YieldPercent(), 1);
    for (const QString &result : records::FailureResults()) {
      const auto it = s.figures.failures.find(result);
      line.Add(result.toLatin1().constData(), int64_t(it == s.figures.failures.end() ? 0 : it->second));
    }
    out += line.Text();
  }
  return out;
}

} // namespace cli
