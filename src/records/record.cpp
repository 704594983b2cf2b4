#include "records/record.h"

#include "base/json_text.h"
#include "base/printable.h"

#include <array>

namespace records {

namespace {

using F = Field;
const std::array kFields = {
    F{"record_uid", F::Text, &Record::recordUid},
    F{"started_at", F::Time, nullptr, &Record::startedAt},
    F{"finished_at", F::Time, nullptr, &Record::finishedAt},
    F{"host", F::Text, &Record::host},
    F{"station", F::Text, &Record::station},
    F{"port_path", F::Text, &Record::portPath},
    F{"front_end", F::Text, &Record::frontEnd},
    F{"operation", F::Text, &Record::operation},
    F{"mode", F::Text, &Record::mode},
    F{"power", F::Text, &Record::power},
    F{"count", F::Integer, nullptr, nullptr, &Record::count},
    F{"chip", F::Text, &Record::chip},
    F{"dataflash", F::Text, &Record::dataflash},
    F{"file_path", F::Text, &Record::filePath},
    F{"file_sha256", F::Text, &Record::fileSha256},
    F{"image_checksum", F::Text, &Record::imageChecksum},
    F{"sectors", F::Text, &Record::sectors},
    F{"result", F::Text, &Record::result},
    F{"message", F::Text, &Record::message},
    F{"bytes_sent", F::Integer, nullptr, nullptr, &Record::bytesSent},
    F{"duration_ms", F::Integer, nullptr, nullptr, &Record::durationMs},
    F{"program_version", F::Text, &Record::programVersion},
    F{"job_name", F::Text, &Record::jobName},
    F{"lot", F::Text, &Record::lot},
    F{"unit_uid", F::Text, &Record::unitUid},
    F{"attempt", F::Integer, nullptr, nullptr, &Record::attempt},
    F{"serial", F::Text, &Record::serial},
    F{"operator", F::Text, &Record::operatorName},
    F{"job_sha256", F::Text, &Record::jobSha256},
    F{"job_release", F::Text, &Record::jobRelease},
};

QString CsvField(const QString &text, Field::Kind kind) {
  static const QString kSpecial = QStringLiteral(",\"\r\n");
  // A spreadsheet takes a cell beginning with one of these for a formula; a
  // leading apostrophe makes it text again. Numbers and times are ours, never
  // a name someone typed.
  static const QString kFormula = QStringLiteral("=+-@\t\r");
  // A CSV is also read on a terminal (cat, less) or in a text view: ESC and
  // BEL would act there, a right-to-left override would reverse the row. The
  // breaks and tabs a cell may hold stay.
  QString out = base::PrintableKeeping(text, u"\t\r\n");
  if (kind == Field::Text && !out.isEmpty() && kFormula.contains(out[0]))
    out.prepend(QLatin1Char('\''));
  bool quote = false;
  for (QChar c : out)
    quote = quote || kSpecial.contains(c);
  if (!quote)
    return out;
  out.replace(QLatin1Char('"'), QStringLiteral("\"\""));
  return QLatin1Char('"') + out + QLatin1Char('"');
}

} // namespace

std::span<const Field> Fields() { return kFields; }

QString CsvText(const QString &text) { return CsvField(text, Field::Text); }

QString TimeText(const QDateTime &t) {
  if (!t.isValid())
    return QString();
  return t.toUTC().toString(Qt::ISODateWithMs);
}

QDateTime TimeFromText(const QString &text) {
  QDateTime t = QDateTime::fromString(text, Qt::ISODateWithMs);
  return t.isValid() ? t.toUTC() : QDateTime();
}

QString FieldText(const Record &r, const Field &f) {
  switch (f.kind) {
  case Field::Text:
    return r.*f.text;
  case Field::Time:
    return TimeText(r.*f.time);
  case Field::Integer:
    return QString::number(r.*f.integer);
  }
  return QString();
}

void WriteCsvHeader(QTextStream &out) {
  out << "id";
  for (const Field &f : kFields)
    out << ',' << f.name;
  out << "\r\n";
}

void WriteCsvRow(const Record &r, QTextStream &out) {
  out << r.id;
  for (const Field &f : kFields)
    out << ',' << CsvField(FieldText(r, f), f.kind);
  out << "\r\n";
}

void WriteCsv(const std::vector<Record> &rows, QTextStream &out) {
  WriteCsvHeader(out);
  for (const Record &r : rows)
    WriteCsvRow(r, out);
}

QByteArray ToJson(const Record &r, const QString *messageEn) {
  QByteArray out = "{\"id\":" + QByteArray::number(r.id);
  for (const Field &f : kFields) {
    out += ",\"";
    out += f.name;
    out += "\":";
    if (f.kind == Field::Integer)
      out += QByteArray::number(r.*f.integer);
    else
      out += base::JsonString(FieldText(r, f));
    if (messageEn && f.text == &Record::message)
      out += ",\"message_en\":" + base::JsonString(*messageEn);
  }
  out += '}';
  return out;
}

} // namespace records
