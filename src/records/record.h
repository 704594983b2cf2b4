#pragma once
// One production record: what one operation attempt did, written when it ends
// whatever its outcome, and the texts it is shown and exported as.

#include "base/result_class.h"

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <QTextStream>
#include <span>
#include <vector>

namespace records {

// The outcome classes of the `result` column, in the order the window offers
// them (base/result_class.h says what each means).
inline const QStringList kResults = base::RecordedResultNames();
inline const QStringList kOperations = {QStringLiteral("set"), QStringLiteral("load"), QStringLiteral("verify"),
                                        QStringLiteral("read-out"), QStringLiteral("erase-program-verify")};
inline const QStringList kFrontEnds = {QStringLiteral("window"), QStringLiteral("cli")};

struct Record {
  qint64 id = 0;       // given by the store; 0 until read back
  QString recordUid;   // random 128-bit in text; Recorder::Add fills it when empty
  QDateTime startedAt; // UTC, millisecond precision
  QDateTime finishedAt;
  QString host;      // Recorder::Add fills it with the machine's name when empty
  QString station;   // the port name as chosen
  QString portPath;  // the device it resolved to
  QString frontEnd;  // kFrontEnds
  QString operation; // kOperations
  QString mode;
  QString power;
  qint64 count = 0;
  QString chip;
  QString dataflash;
  QString filePath;
  QString fileSha256;
  QString imageChecksum; // as the window shows it
  QString sectors;       // 8 hex digits
  QString result;        // kResults
  QString message;       // the exact text shown to the operator
  qint64 bytesSent = 0;
  qint64 durationMs = 0;
  QString programVersion;
  // Production by job: the job's name and the lot, and the unit (one board)
  // whose attempt this is, numbered from 1. A record made without a job leaves
  // the texts empty and is the one attempt of a unit of its own.
  QString jobName;
  QString lot;
  QString unitUid;
  qint64 attempt = 1;
  // The unit's serial number or per-unit value as text; empty without one.
  QString serial;
  // Who ran the attempt: the name or badge the operator gave, else the login
  // name. For a job's records, the job file's SHA-256 and the trusted comment
  // of the signature that released it (empty when no trusted key asked for one).
  QString operatorName;
  QString jobSha256;
  QString jobRelease;

  bool operator==(const Record &) const = default;
};

// The columns after `id`, in table order. Every store, the CSV and the JSON
// go through this one list, so a field cannot be forgotten in one of them.
struct Field {
  enum Kind { Text, Time, Integer };
  const char *name;
  Kind kind;
  QString Record::*text = nullptr;
  QDateTime Record::*time = nullptr;
  qint64 Record::*integer = nullptr;
};
std::span<const Field> Fields();

// A text cell of the CSV: quoted when it holds a comma, a quote, CR or LF
// (quotes doubled); a leading '=', '+', '-', '@', tab or CR gets an apostrophe;
// any other control character and every format character is written \xHH.
QString CsvText(const QString &text);

// "2026-12-07T23:52:08.123Z"; the empty text for an invalid time. Such texts
// sort as the times they name, which the stores' indexes rely on.
QString TimeText(const QDateTime &t);
QDateTime TimeFromText(const QString &text); // invalid for a text that is not such a time

// The value of a field as text (times as TimeText, numbers in decimal).
QString FieldText(const Record &r, const Field &f);

// "id" and then Fields(), comma-separated, then each row; fields holding a
// comma, a quote, CR or LF are quoted with quotes doubled; lines end CR LF. A
// text field beginning with '=', '+', '-', '@', tab or CR gets a leading
// apostrophe, so that a spreadsheet shows it rather than runs it. Control
// characters but CR, LF and tab, and format characters, are written \xHH.
void WriteCsvHeader(QTextStream &out);
void WriteCsvRow(const Record &r, QTextStream &out);
void WriteCsv(const std::vector<Record> &rows, QTextStream &out);

// One compact JSON object (UTF-8, keys in column order, numbers as numbers),
// without a line end: one line of JSON Lines.
// `messageEn`, when given, follows "message" as "message_en".
QByteArray ToJson(const Record &r, const QString *messageEn = nullptr);

} // namespace records
