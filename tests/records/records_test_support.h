#pragma once
// Records and stores for the records tests.
#include "records/records.h"
#include "support/spawn.h"
#include "support/test_helpers.h"

#include <csignal>

#include <QTimeZone>
#include <gtest/gtest.h>

// A record with every field set, the message in Chinese, finished `second`
// seconds (and some ms) into 2026-12-07.
inline records::Record FullRecord(int n, int second = 0, const QString &result = QStringLiteral("ok"),
                                  const QString &file = QStringLiteral("/srv/fw/main.hex")) {
  records::Record r;
  r.recordUid = QStringLiteral("00000000-0000-4000-8000-%1").arg(n, 12, 10, QLatin1Char('0'));
  r.startedAt = QDateTime(QDate(2026, 12, 7), QTime(0, 0), Qt::UTC).addMSecs(second * 1000LL - 1500 + n % 7);
  r.finishedAt = QDateTime(QDate(2026, 12, 7), QTime(0, 0), Qt::UTC).addMSecs(second * 1000LL + 123);
  r.host = QStringLiteral("bench-7");
  r.station = QStringLiteral("COM5");
  r.portPath = QStringLiteral("/dev/serial/by-id/usb-box-if00");
  r.frontEnd = QStringLiteral("window");
  r.operation = QStringLiteral("erase-program-verify");
  r.mode = QStringLiteral("Online");
  r.power = QStringLiteral("5V");
  r.count = n;
  r.chip = QStringLiteral("PAC5223");
  r.dataflash = QStringLiteral("0xB0");
  r.filePath = file;
  r.fileSha256 = QStringLiteral("9f86d081884c7d659a2feaa0c55ad015a3bf4f1b2b0b822cd15d6c15b0f00a08");
  r.imageChecksum = QStringLiteral("CheckSum:  0x0012ABCD");
  r.sectors = QStringLiteral("FFFF0000");
  r.result = result;
  r.message = QStringLiteral("编程成功, \"第%1次\"").arg(n);
  r.bytesSent = 32768 + n;
  r.durationMs = 7118;
  r.programVersion = QStringLiteral("1.0");
  r.jobName = QStringLiteral("电机板 A");
  r.lot = QStringLiteral("L-2026-49");
  r.unitUid = QStringLiteral("unit-%1").arg(n / 2);
  r.attempt = n % 2 + 1;
  r.serial = QStringLiteral("SN%1").arg(n / 2, 6, 10, QLatin1Char('0'));
  return r;
}

// Readable failure output.
inline void PrintTo(const QString &s, std::ostream *os) { *os << '"' << s.toStdString() << '"'; }

inline records::StoreLocation SqliteAt(const QString &path) {
  return *records::ParseStoreUrl(QStringLiteral("sqlite:") + path, nullptr);
}

inline QStringList Uids(const std::vector<records::Record> &rows) {
  QStringList out;
  for (const auto &r : rows)
    out << r.recordUid;
  return out;
}

// Runs the child that adds one record and is killed as Add returns.
inline void AddThenKill(const QString &url, const QString &spool, const QString &uid) {
  const SpawnResult child = Spawn(BinPath(QStringLiteral("records_child")), {url, spool, uid});
  ASSERT_TRUE(child.started);
  ASSERT_EQ(child.signal, SIGKILL) << child.output.toStdString();
}

// The store a program of schema version 1 made, holding `rows` (of which it
// knew only the columns up to program_version), as that program's SQL.
inline QStringList VersionOneSql(bool sqlite, const std::vector<records::Record> &rows) {
  QStringList sql = {
      QStringLiteral("CREATE TABLE schema_version (version INTEGER NOT NULL)"),
      QStringLiteral("INSERT INTO schema_version (version) VALUES (1)"),
      QStringLiteral("CREATE TABLE programming_records (id %1, record_uid TEXT NOT NULL UNIQUE, "
                     "started_at TEXT NOT NULL DEFAULT '', finished_at TEXT NOT NULL DEFAULT '', "
                     "host TEXT NOT NULL DEFAULT '', station TEXT NOT NULL DEFAULT '', "
                     "port_path TEXT NOT NULL DEFAULT '', front_end TEXT NOT NULL DEFAULT '', "
                     "operation TEXT NOT NULL DEFAULT '', mode TEXT NOT NULL DEFAULT '', "
                     "power TEXT NOT NULL DEFAULT '', count BIGINT NOT NULL DEFAULT 0, "
                     "chip TEXT NOT NULL DEFAULT '', dataflash TEXT NOT NULL DEFAULT '', "
                     "file_path TEXT NOT NULL DEFAULT '', file_sha256 TEXT NOT NULL DEFAULT '', "
                     "image_checksum TEXT NOT NULL DEFAULT '', sectors TEXT NOT NULL DEFAULT '', "
                     "result TEXT NOT NULL DEFAULT '', message TEXT NOT NULL DEFAULT '', "
                     "bytes_sent BIGINT NOT NULL DEFAULT 0, duration_ms BIGINT NOT NULL DEFAULT 0, "
                     "program_version TEXT NOT NULL DEFAULT '')")
          .arg(sqlite ? QStringLiteral("INTEGER PRIMARY KEY")
                      : QStringLiteral("BIGINT GENERATED ALWAYS AS IDENTITY PRIMARY KEY")),
      QStringLiteral("CREATE INDEX programming_records_finished ON programming_records (finished_at, id)"),
      QStringLiteral("CREATE INDEX programming_records_result ON programming_records (result, finished_at, id)"),
      QStringLiteral("CREATE INDEX programming_records_file ON programming_records (file_path, finished_at, id)"),
  };
  for (const records::Record &r : rows) {
    QStringList columns, values;
    for (const records::Field &f : records::Fields()) {
      if (f.name == std::string_view("job_name"))
        break; // the first column of version 2
      columns << QString::fromLatin1(f.name);
      const QString text = records::FieldText(r, f);
      values << (f.kind == records::Field::Integer ? text
                                                   : QLatin1Char('\'') + QString(text).replace('\'', "''") + '\'');
    }
    sql << QStringLiteral("INSERT INTO programming_records (%1) VALUES (%2)")
               .arg(columns.join(QStringLiteral(", ")), values.join(QStringLiteral(", ")));
  }
  return sql;
}

// FullRecord(n) as a store of version 1 gives it back: no job, the only attempt.
inline records::Record VersionOneRecord(int n) {
  records::Record r = FullRecord(n, n);
  r.jobName = r.lot = r.unitUid = r.serial = QString();
  r.attempt = 1;
  return r;
}
