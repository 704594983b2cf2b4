#include "cli/summary_text.h"

#include "base/printable.h"
#include "cli/json_line.h"
#include "cli/text_table.h"
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

// The key columns' names, as CSV and JSON name them (the table in capitals).
QStringList KeyNames(SummaryPer per) {
  switch (per) {
  case SummaryPer::Day:
    return {QStringLiteral("job"), QStringLiteral("day")};
  case SummaryPer::Hour:
    return {QStringLiteral("job"), QStringLiteral("hour")};
  case SummaryPer::Station:
    return {QStringLiteral("station"), QStringLiteral("host"), QStringLiteral("job")};
  case SummaryPer::Operator:
    break;
  }
  return {QStringLiteral("operator"), QStringLiteral("job")};
}

// The keys as the table shows them.
QStringList Keys(const UnitSummary &s, SummaryPer per) {
  if (per == SummaryPer::Day)
    return {s.job, s.day.toString(Qt::ISODate)};
  if (per == SummaryPer::Hour)
    return {s.job, s.hour.toString(QStringLiteral("yyyy-MM-dd HH:mm"))};
  if (per == SummaryPer::Operator)
    return {s.operatorName, s.job};
  return {s.station, s.host, s.job};
}

} // namespace

QString UnitSummaryTable(const std::vector<UnitSummary> &rows, SummaryPer per) {
  QStringList header = KeyNames(per);
  for (QString &name : header)
    name = name.toUpper();
  const qsizetype keys = header.size();
  header << QStringLiteral("ATTEMPTS") << QStringLiteral("PASSED") << QStringLiteral("FAILED")
         << QStringLiteral("INTERRUPTED") << QStringLiteral("YIELD") << QStringLiteral("FAILURES");
  // Counts line up on the right, texts on the left.
  std::vector<TextTable::Align> align(size_t(keys), TextTable::Align::Left);
  align.resize(size_t(header.size() - 1), TextTable::Align::Right);
  TextTable table(header, align);
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
    table.Add(row);
  }
  return table.Text();
}

QString UnitSummaryCsv(const std::vector<UnitSummary> &rows, SummaryPer per) {
  QString text = KeyNames(per).join(QLatin1Char(',')) + QStringLiteral(",attempts,passed,failed,interrupted,yield_percent,") +
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
    const QStringList names = KeyNames(per);
    const QStringList keys = per == SummaryPer::Hour ? QStringList{s.job, HourText(s.hour)} : Keys(s, per);
    for (qsizetype k = 0; k < names.size(); ++k)
      line.Add(names[k].toLatin1().constData(), keys[k]);
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
