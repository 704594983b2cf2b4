#include "base/printable.h"

#include <QChar>
#include <QList>
#include <QStringList>

namespace base {

namespace {

bool IsFormatCharacter(char32_t c) { return QChar::category(c) == QChar::Other_Format; }

// What a terminal or a text view would act on rather than show.
bool IsUnprintable(char32_t c) { return QChar::category(c) == QChar::Other_Control || IsFormatCharacter(c); }

} // namespace

char32_t FirstFormatCharacter(QStringView text) {
  for (const char32_t c : text.toUcs4())
    if (IsFormatCharacter(c))
      return c;
  return 0;
}

QString CodePointName(char32_t c) {
  return QStringLiteral("U+") + QString::number(uint(c), 16).toUpper().rightJustified(4, QLatin1Char('0'));
}

qsizetype Characters(QStringView text) { return text.toUcs4().size(); }

QString PrintableKeeping(const QString &text, QStringView kept) {
  QString out;
  out.reserve(text.size());
  // By code point: a format character beyond the 16-bit range is two halves.
  for (const char32_t c : text.toUcs4()) {
    if (!IsUnprintable(c) || (c < 0x10000 && kept.contains(QChar(char16_t(c)))))
      out += QString::fromUcs4(&c, 1);
    else
      out += QStringLiteral("\\x") + QString::number(uint(c), 16).toUpper().rightJustified(2, QLatin1Char('0'));
  }
  return out;
}

QString Quoted(const QString &text) { return QLatin1Char('"') + text + QLatin1Char('"'); }

QString Printable(const QString &text) { return PrintableKeeping(text, {}); }

QString PrintableLines(const QString &lines) {
  // A reason of several lines (a database's) indents its later lines with a
  // tab: shown as indentation, not as \x09.
  QStringList shown = lines.split(QLatin1Char('\n'));
  for (QString &line : shown) {
    qsizetype tabs = 0;
    while (tabs < line.size() && line[tabs] == QLatin1Char('\t'))
      ++tabs;
    line = QString(2 * tabs, QLatin1Char(' ')) + Printable(line.mid(tabs));
  }
  return shown.join(QLatin1Char('\n'));
}

} // namespace base
