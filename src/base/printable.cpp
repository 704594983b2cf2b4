#include "base/printable.h"

namespace base {

namespace {

QString Escaped(const QString &text, bool keepLineBreaks) {
  QString out;
  out.reserve(text.size());
  for (QChar c : text) {
    if (c.category() != QChar::Other_Control || (keepLineBreaks && c == QLatin1Char('\n')))
      out += c;
    else
      out += QStringLiteral("\\x") + QString::number(c.unicode(), 16).toUpper().rightJustified(2, QLatin1Char('0'));
  }
  return out;
}

} // namespace

QString Quoted(const QString &text) { return QLatin1Char('"') + text + QLatin1Char('"'); }

QString Printable(const QString &text) { return Escaped(text, false); }

QString PrintableLines(const QString &lines) { return Escaped(lines, true); }

} // namespace base
