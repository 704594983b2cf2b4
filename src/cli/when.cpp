#include "cli/when.h"

#include <QRegularExpression>
#include <QTimeZone>

namespace cli {

std::optional<QDateTime> ParseWhen(const QString &text, bool end) {
  static const QRegularExpression form(QRegularExpression::anchoredPattern(QStringLiteral(
      "([0-9]{4})-([0-9]{2})-([0-9]{2})"
      "(?:T([0-9]{2}):([0-9]{2})(?::([0-9]{2})(?:\\.([0-9]{1,3}))?)?(Z|([+-])([0-9]{2})(?::?([0-9]{2}))?)?)?")));
  const QRegularExpressionMatch m = form.match(text);
  if (!m.hasMatch())
    return std::nullopt;
  const QDate day(m.captured(1).toInt(), m.captured(2).toInt(), m.captured(3).toInt());
  if (!day.isValid())
    return std::nullopt;
  if (!m.hasCaptured(4))
    return (end ? day.addDays(1) : day).startOfDay();
  const QTime time(m.captured(4).toInt(), m.captured(5).toInt(), m.captured(6).toInt(),
                   m.captured(7).leftJustified(3, QLatin1Char('0')).toInt());
  if (!time.isValid())
    return std::nullopt;
  QDateTime when;
  if (!m.hasCaptured(8)) {
    when = QDateTime(day, time);
  } else if (m.captured(8) == QLatin1String("Z")) {
    when = QDateTime(day, time, Qt::UTC);
  } else {
    const int hours = m.captured(10).toInt(), minutes = m.captured(11).toInt();
    if (hours > 23 || minutes > 59)
      return std::nullopt;
    const int sign = m.captured(9) == QLatin1String("-") ? -1 : 1;
    when = QDateTime(day, time, QTimeZone(sign * (hours * 3600 + minutes * 60)));
  }
  if (!when.isValid())
    return std::nullopt;
  return when;
}

} // namespace cli
