#include "app/settings_file.h"

#include "base/exception.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <vector>

namespace app {

namespace {

// The file is handled as bytes, line by line, each line with its own ending
// (CR LF, LF, CR or none), so that a write changes the key's line and nothing
// else: comments in another code page, a byte-order mark and mixed line ends
// survive as they were.
struct Line {
  QByteArray text;
  QByteArray end;
};

const QByteArray kByteOrderMark("\xEF\xBB\xBF");

std::vector<Line> SplitLines(const QByteArray &bytes) {
  std::vector<Line> lines;
  qsizetype start = 0;
  for (qsizetype i = 0; i < bytes.size(); ++i) {
    const char c = bytes[i];
    if (c != '\r' && c != '\n')
      continue;
    const qsizetype endLength = (c == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') ? 2 : 1;
    lines.push_back({bytes.mid(start, i - start), bytes.mid(i, endLength)});
    i += endLength - 1;
    start = i + 1;
  }
  if (start < bytes.size())
    lines.push_back({bytes.mid(start), QByteArray()});
  return lines;
}

QByteArray ReadBytes(const QString &path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly))
    return {};
  return file.readAll();
}

// The line's text for matching: without a leading byte-order mark, trimmed.
QByteArray Significant(const std::vector<Line> &lines, size_t index) {
  QByteArray text = lines[index].text;
  if (index == 0 && text.startsWith(kByteOrderMark))
    text.remove(0, kByteOrderMark.size());
  return text.trimmed();
}

// "[name]" -> name, or a null array for any other line.
QByteArray SectionName(const QByteArray &trimmed) {
  if (trimmed.startsWith('[') && trimmed.endsWith(']'))
    return trimmed.mid(1, trimmed.size() - 2).trimmed();
  return QByteArray();
}

bool SameName(const QByteArray &bytes, const QString &name) {
  return QString::fromLatin1(bytes).compare(name, Qt::CaseInsensitive) == 0;
}

// Position of the "=" of a line holding `key`, or -1.
qsizetype KeyEquals(const QByteArray &trimmed, const QString &key) {
  if (trimmed.startsWith(';'))
    return -1;
  const qsizetype eq = trimmed.indexOf('=');
  if (eq < 0 || !SameName(trimmed.left(eq).trimmed(), key))
    return -1;
  return eq;
}

QString ValueOf(const QByteArray &trimmed, qsizetype eq) {
  QString v = QString::fromLocal8Bit(trimmed.mid(eq + 1)).trimmed();
  if (v.size() >= 2 && ((v.startsWith(QLatin1Char('"')) && v.endsWith(QLatin1Char('"'))) ||
                        (v.startsWith(QLatin1Char('\'')) && v.endsWith(QLatin1Char('\'')))))
    v = v.mid(1, v.size() - 2);
  return v;
}

} // namespace

QString SettingsFile::ReadString(const QString &section, const QString &key, const QString &defaultValue) const {
  const std::vector<Line> lines = SplitLines(ReadBytes(path_));
  bool inSection = false;
  for (size_t i = 0; i < lines.size(); ++i) {
    const QByteArray trimmed = Significant(lines, i);
    const QByteArray name = SectionName(trimmed);
    if (!name.isNull()) {
      inSection = SameName(name, section);
      continue;
    }
    if (const qsizetype eq = inSection ? KeyEquals(trimmed, key) : -1; eq >= 0)
      return ValueOf(trimmed, eq);
  }
  return defaultValue;
}

void SettingsFile::WriteString(const QString &section, const QString &key, const QString &value) const {
  const QByteArray before = ReadBytes(path_);
  std::vector<Line> lines = SplitLines(before);
  QByteArray eol("\n");
  for (const Line &line : lines)
    if (!line.end.isEmpty()) {
      eol = line.end;
      break;
    }
  const QByteArray valueBytes = value.toLocal8Bit();

  qsizetype sectionAt = -1, lastInSection = -1;
  bool written = false;
  for (size_t i = 0; i < lines.size() && !written; ++i) {
    const QByteArray trimmed = Significant(lines, i);
    const QByteArray name = SectionName(trimmed);
    if (!name.isNull()) {
      if (sectionAt >= 0)
        break; // the next section begins
      if (SameName(name, section))
        sectionAt = lastInSection = qsizetype(i);
      continue;
    }
    if (sectionAt < 0)
      continue;
    if (!trimmed.isEmpty())
      lastInSection = qsizetype(i);
    if (KeyEquals(trimmed, key) < 0)
      continue;
    // Everything up to the blanks after "=" stays; only the value changes.
    QByteArray &text = lines[i].text;
    qsizetype at = text.indexOf('=') + 1;
    while (at < text.size() && (text[at] == ' ' || text[at] == '\t'))
      ++at;
    text = text.left(at) + valueBytes;
    written = true;
  }
  if (!written) {
    const Line entry{key.toLatin1() + '=' + valueBytes, eol};
    if (sectionAt >= 0) {
      Line &previous = lines[size_t(lastInSection)];
      if (previous.end.isEmpty())
        previous.end = eol;
      lines.insert(lines.begin() + lastInSection + 1, entry);
    } else {
      if (!lines.empty() && lines.back().end.isEmpty())
        lines.back().end = eol;
      lines.push_back({'[' + section.toLatin1() + ']', eol});
      lines.push_back(entry);
    }
  }

  QByteArray after;
  for (const Line &line : lines)
    after += line.text + line.end;
  if (after == before && QFile::exists(path_))
    return; // the value it already holds: the file stays as it is

  // An installed program's configuration folder does not exist before the first write.
  QDir().mkpath(QFileInfo(path_).absolutePath());
  QSaveFile out(path_);
  out.setDirectWriteFallback(true);
  bool ok = out.open(QIODevice::WriteOnly);
  if (ok)
    ok = out.write(after) == after.size() && out.commit();
  if (!ok)
    throw base::EIniFileException(base::UnableToWriteText(path_));
}

} // namespace app
