#include "numbering/list_file.h"
#include "base/small_file.h"

#include "numbering/serial_plan.h"

#include <QCryptographicHash>
#include <QFile>
#include <QSet>
#include <QStringDecoder>


namespace numbering {

namespace {

// The lines of `text` without their ends, whichever of LF, CR LF and CR ends each.
QList<QByteArray> Lines(const QByteArray &text) {
  QList<QByteArray> lines;
  qsizetype begin = 0;
  for (qsizetype i = 0; i < text.size(); ++i) {
    if (text[i] != '\n' && text[i] != '\r')
      continue;
    lines << text.mid(begin, i - begin);
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
      ++i;
    begin = i + 1;
  }
  if (begin < text.size())
    lines << text.mid(begin);
  return lines;
}

} // namespace

ListFile ParseList(const QByteArray &text) {
  ListFile list;
  list.fileRead = true;
  list.fileSha256 = QString::fromLatin1(QCryptographicHash::hash(text, QCryptographicHash::Sha256).toHex());
  QSet<QByteArray> seen;
  QCryptographicHash hash(QCryptographicHash::Sha256);
  int number = 0;
  for (const QByteArray &raw : Lines(text)) {
    ++number;
    if (raw.trimmed().isEmpty())
      continue;
    // A byte-order mark stays as it is, as any other character would.
    QStringDecoder utf8(QStringDecoder::Utf8,
                        QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom);
    const QString line = utf8(raw);
    if (utf8.hasError()) {
      list.refusal = QStringLiteral("line %1 is not UTF-8 text").arg(number);
      return list;
    }
    const Field f = ValueField(line);
    if (!f.refusal.isEmpty()) {
      list.refusal = QStringLiteral("line %1: %2").arg(number).arg(f.refusal);
      return list;
    }
    if (seen.contains(f.bytes)) {
      list.refusal =
          QStringLiteral("line %1: \"%2\" is given twice and would go into two boards").arg(number).arg(line);
      return list;
    }
    seen.insert(f.bytes);
    list.lines << line;
    hash.addData(raw);
    hash.addData(QByteArrayView("\n"));
  }
  if (list.lines.isEmpty())
    list.refusal = QStringLiteral("the list holds no value");
  list.sha256 = QString::fromLatin1(hash.result().toHex());
  return list;
}

QString ListFile::RefusalNaming(const QString &name) const {
  return (fileRead ? QString() : QStringLiteral("cannot read ")) + name + QStringLiteral(": ") + refusal;
}

ListFile ReadList(const QString &path) {
  ListFile unread;
  const auto refuse = [&](const QString &why) {
    unread.refusal = why;
    return unread;
  };
  QString why;
  bool tooLarge = false;
  const std::optional<QByteArray> text = base::ReadSmallFile(path, kMostListBytes, &why, &tooLarge);
  if (tooLarge)
    return refuse(QStringLiteral("it is larger than %1 MiB, too large for a list").arg(kMostListBytes >> 20));
  if (!text)
    return refuse(why);
  return ParseList(*text);
}

} // namespace numbering
