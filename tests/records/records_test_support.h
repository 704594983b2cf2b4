#pragma once
// Records and stores for the records tests.
#include "records/database.h"
#include "records/serial_pool.h"
#include "records/unit_store.h"
#include "records/records.h"
#include "records/unit_summary.h"
#include "records/yield.h"
#include "support/older_store.h"
#include "support/spawn.h"
#include "support/test_helpers.h"

#include <csignal>
#include <functional>
#include <map>
#include <set>
#include <thread>

#include <QSqlQuery>
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
  r.operatorName = n % 3 ? QStringLiteral("王芳 #0417") : QStringLiteral("li.wei");
  r.jobSha256 = QStringLiteral("c0ffee").repeated(10) + QStringLiteral("0a08");
  r.jobRelease = QStringLiteral("released by Wang Li\tfor lot 12");
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
  r.jobName = r.lot = r.unitUid = r.serial = r.operatorName = r.jobSha256 = r.jobRelease = QString();
  r.attempt = 1;
  return r;
}

// The yield chart's figures over a small store of records, read as each way
// a store comes to hold them: summed from the records by a store of version 2
// that a reader reads, and filled from the derived units when a writer
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
  for (const QString &sql : AsVersionSql(2))
    exec(sql);
  expectCases("summed from the records of version 2");
  {
    records::db::Connection writer(where, records::db::Connection::Target::Store, "chart-test");
    QString error;
    ASSERT_TRUE(writer.Open(&error)) << error.toStdString();
  }
  expectCases("filled by the migration");
}

// Units of one lot of two places through the store, in order, as a station
// writes them (and, where a spool forwards it again, twice): each op's place
// and the lot's counters after it, then the numbers, the chart and the
// summary they leave.
inline void ExpectUnitOps(const records::StoreLocation &where) {
  const QDateTime t0 = QDateTime(QDate(2026, 12, 7), QTime(8, 0), Qt::UTC);
  const auto unit = [&](const char *uid, const char *station = "s1") {
    records::UnitRow u;
    u.unitUid = QLatin1String(uid);
    u.jobName = QStringLiteral("J");
    u.jobSha256 = QStringLiteral("ab").repeated(32);
    u.lot = QStringLiteral("L");
    u.station = QLatin1String(station);
    u.host = QStringLiteral("h");
    u.port = QStringLiteral("COM5");
    u.operatorName = station == std::string_view("s1") ? QStringLiteral("王芳") : QStringLiteral("li.wei");
    u.startedAt = t0;
    u.holdsUntil = QDateTime::currentDateTimeUtc().addSecs(3600);
    return u;
  };
  const auto start = [&](const char *uid, const char *station = "s1") {
    records::UnitOp op;
    op.kind = records::UnitOp::Kind::Start;
    op.lotSize = 2;
    op.unit = unit(uid, station);
    return op;
  };
  const auto end = [&](const char *uid, const char *verdict, const char *result) {
    records::UnitOp op;
    op.kind = records::UnitOp::Kind::End;
    op.unit = unit(uid);
    op.unit.endedAt = t0.addSecs(60);
    op.unit.verdict = QLatin1String(verdict);
    op.unit.result = QLatin1String(result);
    op.unit.attempts = 1;
    return op;
  };
  // A 32-bit format's bound, past what a 32-bit integer of the store holds.
  const records::PoolStation pool{QStringLiteral("P"), QStringLiteral("count start=1 step=1"), qint64(1) << 32,
                                  QStringLiteral("h"), QStringLiteral("s1")};
  records::UnitOp withNumber = start("u1");
  withNumber.numbers.push_back({QStringLiteral("P"), 0, QStringLiteral("h"), QStringLiteral("s1"),
                                records::kNumberAllocated, QStringLiteral("1"), QStringLiteral("u1")});
  records::UnitOp passed = end("u1", "passed", "ok");
  passed.numbers.push_back({QStringLiteral("P"), 0, QStringLiteral("h"), QStringLiteral("s1"), records::kNumberUsed,
                            QStringLiteral("1"), QStringLiteral("u1")});
  records::UnitOp dead = start("u5");
  dead.unit.holdsUntil = QDateTime::currentDateTimeUtc().addSecs(-1); // its station died long ago
  // Station s2 claimed by a run of `boot`; the first one's process has ended.
  const auto claim = [&](const char *holder, const char *boot) {
    records::UnitOp op;
    op.kind = records::UnitOp::Kind::Settle;
    op.host = QStringLiteral("h");
    op.station = QStringLiteral("s2");
    op.holder = QLatin1String(holder);
    op.pid = 99999999;
    op.boot = QLatin1String(boot);
    op.since = t0;
    return op;
  };
  records::UnitOp whole = end("u6", "failed", "port-unavailable"); // a port that did not open: no start
  const struct {
    const char *what;
    records::UnitOp op;
    bool placed;
    records::LotCounters after; // passed, failed, running
    const char *refusal = "";
  } steps[] = {
      {"u1 starts with its number", withNumber, true, {0, 0, 1}},
      {"u2 starts", start("u2"), true, {0, 0, 2}},
      {"u3 finds the lot full", start("u3", "s2"), false, {0, 0, 2}},
      {"u2 fails: its place is free", end("u2", "failed", "box-failed"), true, {0, 1, 1}},
      {"u3 starts on another station", start("u3", "s2"), true, {0, 1, 2}},
      {"u1 passes", passed, true, {1, 1, 1}},
      {"u1's end forwarded again", passed, true, {1, 1, 1}},
      {"u4 finds the lot full: a pass holds its place", start("u4"), false, {1, 1, 1}},
      {"station s2 starts again: u3 was its killed run's", claim("A", "boot-1"), true, {1, 1, 0}},
      {"u7 starts on s2", start("u7", "s2"), true, {1, 1, 1}},
      {"s2 started on a PC of the same name while A lives: refused, u7 runs on",
       claim("B", "boot-2"),
       false,
       {1, 1, 1},
       "the station \"s2\" of h is run by process 99999999 there since 2026-12-07 08:00:00 UTC: a second run under "
       "its name is refused until that one ends"},
      {"s2 started again where A's process ended: u7 was A's", claim("C", "boot-1"), true, {1, 1, 0}},
      {"u5's place is held no more", dead, true, {1, 1, 0}},
      {"u6 ends without a start", whole, true, {1, 2, 0}},
  };
  records::db::Connection c(where, records::db::Connection::Target::Store, "units");
  QString error;
  std::vector<qint64> reserved;
  ASSERT_TRUE(records::ReserveNumbers(c, pool, 1, &reserved, &error)) << error.toStdString();
  for (const auto &s : steps) {
    bool placed = !s.placed;
    EXPECT_TRUE(records::ApplyUnitOp(c, s.op, true, &placed, &error)) << s.what << ": " << error.toStdString();
    EXPECT_EQ(placed, s.placed) << s.what;
    if (!s.placed && s.op.kind == records::UnitOp::Kind::Settle) {
      EXPECT_EQ(error, QLatin1String(s.refusal)) << s.what;
    }
    records::LotCounters counters;
    EXPECT_TRUE(records::ReadLot(c, QStringLiteral("J"), QStringLiteral("L"), QDateTime::currentDateTimeUtc(),
                                 &counters, &error))
        << error.toStdString();
    EXPECT_EQ(counters, s.after) << s.what;
  }
  QSqlQuery q(c.Database());
  // The size the starts carried is where the line's lot bars read it.
  ASSERT_TRUE(q.exec(QStringLiteral("SELECT size, passed, failed FROM lots WHERE job_name = 'J' AND lot = 'L'")) &&
              q.next());
  EXPECT_EQ(q.value(0).toString() + ' ' + q.value(1).toString() + ' ' + q.value(2).toString(), "2 1 2");
  ASSERT_TRUE(q.exec(QStringLiteral("SELECT state, value, unit_uid FROM serial_numbers WHERE pool = 'P'")) && q.next());
  EXPECT_EQ(q.value(0).toString() + ' ' + q.value(1).toString() + ' ' + q.value(2).toString(), "used 1 u1");
  records::YieldChart chart;
  ASSERT_TRUE(records::ChartFigures(c, {.job = QStringLiteral("J")}, &chart, &error)) << error.toStdString();
  EXPECT_EQ(std::pair(chart.passed, chart.failed), std::pair(qint64(1), qint64(2)));
  std::vector<records::UnitSummary> days;
  ASSERT_TRUE(records::SummarizeUnits(where, {.job = QStringLiteral("J")}, records::SummaryPer::Day, &days, &error))
      << error.toStdString();
  records::UnitFigures all; // u3 was settled today, the others ended on their day
  for (const auto &d : days) {
    all.passed += d.figures.passed;
    all.failed += d.figures.failed;
    all.interrupted += d.figures.interrupted;
    for (const auto &[result, units] : d.figures.failures)
      all.failures[result] += units;
  }
  EXPECT_EQ(all.passed, 1);
  EXPECT_EQ(all.failed, 2);
  EXPECT_EQ(all.interrupted, 3) << "u3 and u7 settled, u5 without a verdict";
  EXPECT_EQ(all.failures, (std::map<QString, qint64>{{"box-failed", 1}, {"port-unavailable", 1}}));
  // Per operator, over the whole range: each unit is its starter's, whoever ended it.
  const auto perOperator = [&](const records::Filter &f) {
    std::vector<records::UnitSummary> rows;
    EXPECT_TRUE(records::SummarizeUnits(where, f, records::SummaryPer::Operator, &rows, &error)) << error.toStdString();
    QStringList out;
    for (const auto &s : rows)
      out << QStringLiteral("%1 %2 %3/%4/%5")
                 .arg(s.operatorName, s.job)
                 .arg(s.figures.passed)
                 .arg(s.figures.failed)
                 .arg(s.figures.interrupted);
    return out;
  };
  EXPECT_EQ(perOperator({.job = QStringLiteral("J")}), QStringList({"li.wei J 0/0/2", "王芳 J 1/2/1"}));
  EXPECT_EQ(perOperator({.operatorName = QStringLiteral("li.wei")}), QStringList({"li.wei J 0/0/2"}));
}

// Every row of a pool's numbers: idx -> state, read on the store.
inline std::map<qint64, QString> PoolNumbers(const records::StoreLocation &where, const QString &pool, qint64 *next) {
  records::db::Connection c(where, records::db::Connection::Target::Store, "check");
  QString error;
  EXPECT_TRUE(c.Open(&error)) << error.toStdString();
  std::map<qint64, QString> states;
  QSqlQuery q(c.Database());
  q.prepare(QStringLiteral("SELECT idx, state FROM serial_numbers WHERE pool = ?"));
  q.addBindValue(pool);
  EXPECT_TRUE(q.exec());
  while (q.next())
    EXPECT_TRUE(states.emplace(q.value(0).toLongLong(), q.value(1).toString()).second);
  q.prepare(QStringLiteral("SELECT next_index FROM serial_pools WHERE name = ?"));
  q.addBindValue(pool);
  EXPECT_TRUE(q.exec() && q.next());
  *next = q.value(0).toLongLong();
  return states;
}

// The numbers a station printed as used.
inline std::vector<qint64> Printed(const SpawnResult &r) {
  std::vector<qint64> out;
  for (const QByteArray &line : r.output.split('\n'))
    if (!line.isEmpty())
      out.push_back(line.toLongLong());
  return out;
}

// Eight station processes drawing `units` numbers each from one pool of the
// store at `url` at once: none fails for a lock it waited for, every number
// is used once, and what each left of its last block went back to the pool.
// `holdMs`: the store's write lock is held that long as they start (SQLite).
inline void ExpectStationsDrawEveryNumberOnce(const QString &url, const records::StoreLocation &where,
                                              const ProgramFolder &folder, int units, int holdMs = 0) {
  constexpr int kStations = 8, kBlock = 7; // units no multiple of 7: each leaves numbers
  std::unique_ptr<records::db::Connection> holder;
  QString error;
  if (holdMs > 0) {
    holder = std::make_unique<records::db::Connection>(where, records::db::Connection::Target::Store, "holder");
    ASSERT_TRUE(holder->Open(&error) && holder->Exec(QStringLiteral("BEGIN IMMEDIATE"), &error))
        << error.toStdString();
  }
  std::vector<SpawnResult> runs(kStations);
  std::vector<std::thread> stations;
  for (int s = 0; s < kStations; ++s)
    stations.emplace_back([&, s] {
      runs[size_t(s)] = Spawn(BinPath(QStringLiteral("serial_station")),
                              {url, folder.File(QStringLiteral("spool-%1").arg(s)), QStringLiteral("boards"),
                               QStringLiteral("station-%1").arg(s), QString::number(units), QString::number(kBlock)});
    });
  if (holder) {
    // Long enough that a station must wait for the lock; far shorter than it waits (kSqliteBusyMs).
    QThread::msleep(holdMs);
    EXPECT_TRUE(holder->Exec(QStringLiteral("COMMIT"), &error)) << error.toStdString();
  }
  for (auto &t : stations)
    t.join();
  std::set<qint64> used;
  for (const SpawnResult &r : runs) {
    ASSERT_TRUE(r.Ok()) << r.output.toStdString();
    for (qint64 idx : Printed(r))
      EXPECT_TRUE(used.insert(idx).second) << "number " << idx << " given twice";
  }
  EXPECT_EQ(used.size(), size_t(kStations * units));
  qint64 next = 0;
  const auto states = PoolNumbers(where, QStringLiteral("boards"), &next);
  ASSERT_EQ(states.size(), size_t(next)) << "every number drawn has its row";
  std::map<QString, int> byState;
  for (const auto &[idx, state] : states) {
    ++byState[state];
    EXPECT_EQ(state == records::kNumberUsed, used.count(idx) == 1) << idx << ' ' << state.toStdString();
  }
  // What each station had left of its last block went back to the pool, where
  // a later reservation took it: at most a block's rest per station is left.
  EXPECT_EQ(byState[records::kNumberUsed], kStations * units);
  EXPECT_EQ(byState[records::kNumberUsed] + byState[records::kNumberFree], int(next));
  EXPECT_LE(byState[records::kNumberFree], kStations * (kBlock - 1));
}
