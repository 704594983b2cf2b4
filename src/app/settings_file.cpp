#include "app/settings_file.h"

#include "base/exception.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStringList>

namespace {

struct Lines {
  QStringList lines;
  QString eol = QStringLiteral("\n");
  bool endsWithEol = true;
};

Lines ReadLines(const QString &path) {
  Lines result;
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly))
    return result;
  const QString text = QString::fromLocal8Bit(file.readAll());
  if (text.contains(QStringLiteral("\r\n")))
    result.eol = QStringLiteral("\r\n");
  QString normalised = text;
  normalised.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  result.endsWithEol = normalised.isEmpty() || normalised.endsWith(QLatin1Char('\n'));
  result.lines = normalised.split(QLatin1Char('\n'));
  if (result.endsWithEol && !result.lines.isEmpty())
    result.lines.removeLast();
  return result;
}

// "[name]" -> name, or a null string for any other line.
QString SectionName(const QString &line) {
  const QString t = line.trimmed();
  if (t.startsWith(QLatin1Char('[')) && t.endsWith(QLatin1Char(']')))
    return t.mid(1, t.size() - 2).trimmed();
  return QString();
}

bool IsKeyLine(const QString &line, const QString &key, QString *value) {
  const qsizetype eq = line.indexOf(QLatin1Char('='));
  if (eq < 0 || line.trimmed().startsWith(QLatin1Char(';')))
    return false;
  if (line.left(eq).trimmed().compare(key, Qt::CaseInsensitive) != 0)
    return false;
  if (value) {
    QString v = line.mid(eq + 1).trimmed();
    if (v.size() >= 2 && ((v.startsWith(QLatin1Char('"')) && v.endsWith(QLatin1Char('"'))) ||
                          (v.startsWith(QLatin1Char('\'')) && v.endsWith(QLatin1Char('\'')))))
      v = v.mid(1, v.size() - 2);
    *value = v;
  }
  return true;
}

} // namespace

QString SettingsFile::ReadString(const QString &section, const QString &key, const QString &defaultValue) const {
  const Lines file = ReadLines(path_);
  bool inSection = false;
  for (const QString &line : file.lines) {
    const QString name = SectionName(line);
    if (!name.isNull()) {
      inSection = name.compare(section, Qt::CaseInsensitive) == 0;
      continue;
    }
    QString value;
    if (inSection && IsKeyLine(line, key, &value))
      return value;
  }
  return defaultValue;
}

void SettingsFile::WriteString(const QString &section, const QString &key, const QString &value) const {
  Lines file = ReadLines(path_);
  QStringList &lines = file.lines;
  const QString entry = key + QLatin1Char('=') + value;
  qsizetype sectionAt = -1, lastInSection = -1;
  bool written = false;
  for (qsizetype i = 0; i < lines.size() && !written; ++i) {
    const QString name = SectionName(lines[i]);
    if (!name.isNull()) {
      if (sectionAt >= 0)
        break; // the next section begins
      if (name.compare(section, Qt::CaseInsensitive) == 0)
        sectionAt = lastInSection = i;
      continue;
    }
    if (sectionAt < 0)
      continue;
    if (!lines[i].trimmed().isEmpty())
      lastInSection = i;
    if (IsKeyLine(lines[i], key, nullptr)) {
      lines[i] = entry;
      written = true;
    }
  }
  if (!written) {
    if (sectionAt >= 0) {
      lines.insert(lastInSection + 1, entry);
    } else {
      lines << QLatin1Char('[') + section + QLatin1Char(']') << entry;
    }
  }

  // An installed program's configuration folder does not exist before the first write.
  QDir().mkpath(QFileInfo(path_).absolutePath());
  QSaveFile out(path_);
  out.setDirectWriteFallback(true);
  bool ok = out.open(QIODevice::WriteOnly);
  if (ok) {
    const QByteArray bytes = (lines.join(file.eol) + file.eol).toLocal8Bit();
    ok = out.write(bytes) == bytes.size() && out.commit();
  }
  if (!ok)
    throw EIniFileException(UnableToWriteText(path_));
}
