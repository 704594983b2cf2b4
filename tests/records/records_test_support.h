#pragma once
// Records and stores for the records tests.
#include "records/database.h"
#include "records/records.h"
#include "records/yield.h"
#include "support/spawn.h"
#include "support/test_helpers.h"

#include <csignal>
#include <functional>

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

// The yield chart's figures over a small store, read as each way a store comes
// to hold them: counted as the records are written, summed from the records
// by a store of version 2 that a reader reads, and filled when a writer
// migrates that store. `exec` runs SQL on the store.
inline void ExpectChartFigures(const records::StoreLocation &where,
                               const std::function<void(const QString &sql)> &exec) {
  struct Attempt {
    const char *job, *unit;
    int attempt;
    int day, hour, minute; // local time, December 2026
    const char *result;
  };
  // In the order they are written.
  const Attempt attempts[] = {
      {"J", "u1", 1, 7, 9, 10, "no-answer"},
      {"J", "u1", 2, 7, 9, 20, "ok"}, // retried: passed once
      {"J", "u2", 1, 7, 9, 40, "verify-mismatch"},
      {"J", "u3", 1, 7, 11, 5, "box-failed"},
      {"J", "u3", 2, 8, 8, 0, "ok"}, // passed the next day
      {"J", "u4", 2, 7, 11, 30, "ok"},
      {"J", "u4", 1, 7, 11, 50, "box-failed"}, // an earlier attempt written late
      {"J", "u5", 1, 7, 11, 55, "no-answer"},
      {"J", "u5", 2, 7, 11, 58, "interrupted"}, // stopped: neither
      {"J", "", 1, 8, 8, 30, "no-answer"},      // no unit: one each
      {"J", "", 1, 8, 8, 31, "ok"},
      {"K", "u1", 1, 7, 9, 50, "port-lost"}, // another job's unit of the same name
      {"", "", 1, 7, 10, 0, "ok"},           // no job: no unit
  };
  const auto local = [](int day, int hour) { return QDateTime(QDate(2026, 12, day), QTime(hour, 0)); };
  {
    records::db::Connection c(where, records::db::Connection::Target::Store, "chart-test");
    QString error;
    int n = 0;
    for (const Attempt &a : attempts) {
      records::Record r = FullRecord(n++, 0, QString::fromLatin1(a.result));
      r.finishedAt = local(a.day, a.hour).addSecs(a.minute * 60).toUTC();
      r.jobName = QString::fromLatin1(a.job);
      r.lot = QStringLiteral("L1");
      r.unitUid = QString::fromLatin1(a.unit);
      r.attempt = a.attempt;
      ASSERT_TRUE(c.Insert(std::vector{r}, &error)) << error.toStdString();
      ASSERT_TRUE(c.Insert(std::vector{r}, &error)) << "a copy is skipped: " << error.toStdString();
    }
  }
  // Each bucket's start, then passed/failed, of the buckets that have units;
  // then the number of buckets and the failures by result.
  const auto text = [](const records::YieldChart &chart) {
    QStringList out{chart.bucket == records::Bucket::Hour ? QStringLiteral("hours") : QStringLiteral("days")};
    for (const records::YieldBar &b : chart.bars)
      if (b.passed || b.failed)
        out << b.start.toString(QStringLiteral("dd HH")) + QStringLiteral(" %1/%2").arg(b.passed).arg(b.failed);
    out << QStringLiteral("of %1").arg(chart.bars.size());
    for (const auto &[result, units] : chart.failures)
      out << QStringLiteral("%1=%2").arg(result).arg(units);
    out << QStringLiteral("total %1/%2").arg(chart.passed).arg(chart.failed) << chart.jobs.join(QLatin1Char(','));
    return out.join(QStringLiteral("; ")).toStdString();
  };
  const struct {
    records::Filter filter;
    const char *chart;
  } cases[] = {
      {{},
       "hours; 07 09 1/2; 07 11 1/0; 08 08 2/1; of 24; no-answer=1; port-lost=1; verify-mismatch=1; total 4/3; J,K"},
      {{.since = local(6, 0), .until = local(9, 0), .job = QStringLiteral("J")},
       "days; 07 00 2/1; 08 00 2/1; of 2; no-answer=1; verify-mismatch=1; total 4/2; J,K"},
      {{.since = local(7, 0), .until = local(8, 0), .job = QStringLiteral("J")},
       "hours; 07 09 1/1; 07 11 1/0; of 3; verify-mismatch=1; total 2/1; J,K"},
      {{.job = QStringLiteral("K")}, "hours; 07 09 0/1; of 1; port-lost=1; total 0/1; J,K"},
      {{.job = QStringLiteral("J"), .lot = QStringLiteral("L2")}, "days; of 0; total 0/0; J,K"},
  };
  const auto expectCases = [&](const char *store) {
    for (const auto &c : cases) {
      records::YieldChart chart;
      QString error;
      EXPECT_TRUE(records::ChartFigures(where, c.filter, &chart, &error)) << error.toStdString();
      EXPECT_EQ(text(chart), c.chart) << store;
    }
  };
  expectCases("counted as written");
  exec(QStringLiteral("DROP TABLE units"));
  exec(QStringLiteral("DROP TABLE lots"));
  exec(QStringLiteral("DROP TABLE IF EXISTS spool_ops"));
  exec(QStringLiteral("DROP TABLE unit_hours"));
  exec(QStringLiteral("DROP INDEX programming_records_unit"));
  exec(QStringLiteral("DROP INDEX programming_records_serial"));
  exec(QStringLiteral("ALTER TABLE programming_records DROP COLUMN serial"));
  exec(QStringLiteral("DROP TABLE serial_numbers"));
  exec(QStringLiteral("DROP TABLE serial_pools"));
  exec(QStringLiteral("DELETE FROM schema_version"));
  exec(QStringLiteral("INSERT INTO schema_version (version) VALUES (2)"));
  expectCases("summed from the records of version 2");
  {
    records::db::Connection writer(where, records::db::Connection::Target::Store, "chart-test");
    QString error;
    ASSERT_TRUE(writer.Open(&error)) << error.toStdString();
  }
  expectCases("filled by the migration");
}
