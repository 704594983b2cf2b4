// The line at a glance on a store of 10,000,000 unit rows: a year of twenty
// stations (a unit every 3.2 s of the line, one in twenty failed), their lots
// of 5,000 counted, the records of the last two days' units, and a unit under
// way on each station. On SQLite and on a PostgreSQL server of its own
// (syncing its disk as in production):
// - the line view's refresh: LineReader's Read to Arrived, on the year's last day;
// - the summary of that day per hour (records --summary --per hour), and per station;
// - PostgreSQL: a unit's end (its row's verdict and its lot's counts, one
//   transaction) without the units' notification trigger and nobody
//   listening, with it and 20 views listening that do not read, and with 20
//   views that read the line again at each notification, as the window does;
//   and from a unit's end to each view's figures showing it.
// The rows are made by the database itself (generate_series, a recursive CTE).
// Usage: bench_records_line [sqlite|postgres|both [units [STORE]]], STORE a
// SQLite file (made when it does not exist) or a PostgreSQL URL of a store
// made before.
#include "bench_records.h"
#include "records/database.h"
#include "records/line_reader.h"
#include "records/unit_summary.h"
#include "support/postgres_server.h"

#include <QCoreApplication>
#include <QFile>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTimer>
#include <atomic>
#include <cstdio>
#include <mutex>
#include <thread>

namespace {

constexpr int kStations = 20;
constexpr int kRounds = 10;
constexpr int kViews = 20;
constexpr int kEnds = 100;
constexpr int kEndPaceMs = 500;
const QDateTime kYearStart(QDate(2026, 1, 1), QTime(0, 0), Qt::UTC);
const QDateTime kNow(QDate(2026, 12, 31), QTime(23, 0), Qt::UTC); // the line looked at late on the last day
// Units ended by this run are its own, in a store of an earlier run too.
const qint64 kRun = QDateTime::currentMSecsSinceEpoch();

bool Exec(records::db::Connection &c, const QString &sql) {
  QString error;
  if (c.Exec(sql, &error))
    return true;
  std::fprintf(stderr, "%s\n  %s\n", qPrintable(sql.left(300)), qPrintable(error));
  return false;
}

// The units, their lots and the records of the last two days, made by the
// database: n numbers the units in time order over the year up to kNow.
bool MakeStore(const records::StoreLocation &where, qint64 units) {
  records::db::Connection c(where, records::db::Connection::Target::Store, "bench");
  QString error;
  if (!c.Open(&error)) {
    std::fprintf(stderr, "cannot make the store: %s\n", qPrintable(error));
    return false;
  }
  const bool sqlite = c.IsSqlite();
  const double step = double(kYearStart.secsTo(kNow)) / double(units);
  // n, and the unit's start as seconds since the epoch.
  const QString numbers =
      sqlite ? QStringLiteral("WITH RECURSIVE g(n) AS (SELECT 0 UNION ALL SELECT n + 1 FROM g WHERE n < %1) "
                              "SELECT n, %2 + n * %3 AS t FROM g")
                   .arg(units - 1)
                   .arg(kYearStart.toSecsSinceEpoch())
                   .arg(step, 0, 'f', 6)
             : QStringLiteral("SELECT n, %2 + n * %3 AS t FROM generate_series(0, %1) AS n")
                   .arg(units - 1)
                   .arg(kYearStart.toSecsSinceEpoch())
                   .arg(step, 0, 'f', 6);
  const auto text = [sqlite](const QString &seconds) {
    return sqlite ? QStringLiteral("strftime('%Y-%m-%dT%H:%M:%fZ', %1, 'unixepoch')").arg(seconds)
                  : QStringLiteral("to_char(to_timestamp(%1) AT TIME ZONE 'UTC', 'YYYY-MM-DD\"T\"HH24:MI:SS.MS\"Z\"')")
                        .arg(seconds);
  };
  const QString sql =
      QStringLiteral("INSERT INTO units (unit_uid, job_name, job_sha256, lot, station, host, port, serial, started_at, "
                     "ended_at, verdict, result, attempts, holds_until) SELECT 'u' || n, 'motor-board-' || (n / 50000 "
                     "% 4), '', 'L-' || (n / 5000), '/dev/ttyUSB' || (n % %1), 'bench-' || (n % %1 / 4), "
                     "'/dev/ttyUSB' || (n % %1), 'SN' || n, %2, %3, CASE WHEN n % 20 = 9 THEN 'failed' ELSE "
                     "'passed' END, CASE WHEN n % 20 = 9 THEN 'verify-mismatch' ELSE 'ok' END, 1, %4 FROM (%5) AS g")
          .arg(kStations)
          .arg(text(QStringLiteral("t")), text(QStringLiteral("t + 30")), text(QStringLiteral("t + 600")), numbers);
  QElapsedTimer t;
  t.start();
  for (const char *index : {"units_lot", "units_ended", "units_station"})
    if (!Exec(c, QStringLiteral("DROP INDEX %1").arg(QLatin1String(index))))
      return false;
  if (!Exec(c, QStringLiteral("BEGIN")) || !Exec(c, sql) ||
      // Each station's last unit is under way.
      !Exec(c, QStringLiteral("UPDATE units SET ended_at = '', verdict = '', result = '', holds_until = '%1' "
                              "WHERE unit_uid IN (SELECT unit_uid FROM units ORDER BY started_at DESC LIMIT %2)")
                   .arg(records::TimeText(kNow.addSecs(600)))
                   .arg(kStations)) ||
      !Exec(c, QStringLiteral("DELETE FROM lots")) ||
      !Exec(c, QStringLiteral("INSERT INTO lots (job_name, lot, passed, failed, size) SELECT job_name, lot, "
                              "SUM(CASE WHEN verdict = 'passed' THEN 1 ELSE 0 END), SUM(CASE WHEN verdict = 'failed' "
                              "THEN 1 ELSE 0 END), 5000 FROM units GROUP BY job_name, lot")) ||
      !Exec(c, QStringLiteral("INSERT INTO programming_records (record_uid, started_at, finished_at, host, station, "
                              "operation, result, message, job_name, lot, unit_uid, attempt) SELECT unit_uid || '-1', "
                              "started_at, ended_at, host, port, 'load', CASE WHEN verdict = 'failed' THEN result ELSE "
                              "'ok' END, CASE WHEN verdict = 'failed' THEN '校验失败 at 0x1234' ELSE '编程成功' END, "
                              "job_name, lot, unit_uid, 1 FROM units WHERE started_at >= '%1'")
                   .arg(records::TimeText(kNow.addDays(-2)))) ||
      !Exec(c, QStringLiteral("COMMIT")))
    return false;
  for (const char *index :
       {"CREATE INDEX units_lot ON units (job_name, lot, verdict, holds_until)",
        "CREATE INDEX units_ended ON units (ended_at)", "CREATE INDEX units_station ON units (host, station, verdict)"})
    if (!Exec(c, QLatin1String(index)))
      return false;
  // A server's autovacuum analyses a table that grew so much; SQLite is left
  // without statistics, as the program leaves it.
  if (!sqlite && !Exec(c, QStringLiteral("ANALYZE")))
    return false;
  std::printf("  made %lld unit rows in %.1f s\n", units, double(t.elapsed()) / 1000);
  return true;
}

void Report(const char *what, std::vector<double> ms, double goal = 0) {
  std::printf("  %-58s median %8.2f ms, p99 %8.2f ms, worst %8.2f ms%s\n", what, Percentile(ms, 0.5),
              Percentile(ms, 0.99), Percentile(ms, 1.0),
              goal <= 0                     ? ""
              : Percentile(ms, 1.0) <= goal ? "  (goal met)"
                                            : "  (GOAL MISSED)");
}

// Read to Arrived, as the window asks at each refresh.
bool MeasureRefresh(const records::StoreLocation &where) {
  records::LineReader reader(where);
  std::vector<double> ms;
  QElapsedTimer t;
  records::LineRead last;
  bool arrived = false;
  QObject::connect(&reader, &records::LineReader::Arrived, [&](const records::LineRead &read) {
    ms.push_back(double(t.nsecsElapsed()) / 1e6);
    last = read;
    arrived = true;
  });
  for (int i = 0; i < kRounds + 1; ++i) {
    arrived = false;
    t.start();
    reader.Read(kNow, records::LocalDayStart(kNow));
    while (!arrived)
      QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    if (!last.error.isEmpty()) {
      std::fprintf(stderr, "cannot read the line: %s\n", qPrintable(last.error));
      return false;
    }
  }
  ms.erase(ms.begin()); // the first opens the connections
  std::printf("  the line: %zu stations, %lld passed, %lld failed, %lld running today, %zu lots\n",
              last.line.stations.size(), last.line.passed, last.line.failed, last.line.running, last.line.lots.size());
  Report("line view refresh (Read to Arrived)", ms, 200);
  return true;
}

bool MeasureSummaries(const records::StoreLocation &where) {
  const QDateTime day = records::LocalDayStart(kNow);
  for (const auto per : {records::SummaryPer::Hour, records::SummaryPer::Station}) {
    std::vector<double> ms;
    std::vector<records::UnitSummary> rows;
    for (int i = 0; i < kRounds; ++i) {
      QString error;
      QElapsedTimer t;
      t.start();
      if (!records::SummarizeUnits(where, {.since = day, .until = day.addDays(1)}, per, &rows, &error)) {
        std::fprintf(stderr, "cannot sum the units: %s\n", qPrintable(error));
        return false;
      }
      ms.push_back(double(t.nsecsElapsed()) / 1e6);
    }
    Report(per == records::SummaryPer::Hour ? "--summary --per hour, one day" : "--summary --per station, one day", ms,
           per == records::SummaryPer::Hour ? 200 : 0);
    std::printf("    (%zu rows)\n", rows.size());
  }
  return true;
}

// Ends kEnds units under way, one each kEndPaceMs on a thread of its own,
// while the main thread delivers what the views get. The end times, and for
// each end and view the time until that view's figures counted it.
struct EndFigures {
  std::vector<double> endMs, seenMs;
};
bool EndUnits(const records::StoreLocation &where, int views, bool reading, int round, EndFigures *out) {
  records::db::Connection c(where, records::db::Connection::Target::Store, "ends");
  QString error;
  // The units to end: started today, under way.
  if (!c.Open(&error) || !c.Transaction(&error, [&] {
        for (int k = 0; k < kEnds; ++k)
          if (!records::db::Run(c,
                                QStringLiteral("INSERT INTO units (unit_uid, job_name, lot, station, host, port, "
                                               "started_at, holds_until) VALUES (?, 'motor-board-0', 'L-end', "
                                               "'/dev/ttyUSB0', 'bench-0', '/dev/ttyUSB0', ?, ?)"),
                                {QStringLiteral("end-%1-%2-%3").arg(kRun).arg(round).arg(k),
                                 records::TimeText(kNow.addSecs(-60)), records::TimeText(kNow.addSecs(600))},
                                &error))
            return false;
        return true;
      })) {
    std::fprintf(stderr, "cannot start the units: %s\n", qPrintable(error));
    return false;
  }
  std::vector<std::unique_ptr<records::LineReader>> readers;
  std::vector<qint64> seen(size_t(views), 0); // ends each view counted
  std::vector<QElapsedTimer> endedAt(kEnds);
  std::mutex mutex;
  qint64 basePassed = -1;
  std::vector<bool> first(size_t(views), true);
  int ready = 0;
  for (int v = 0; v < views; ++v) {
    readers.push_back(std::make_unique<records::LineReader>(where));
    records::LineReader *reader = readers.back().get();
    QObject::connect(reader, &records::LineReader::Arrived, [&, v](const records::LineRead &read) {
      if (!read.told) {
        std::fprintf(stderr, "a view is not told: %s\n", qPrintable(read.untold + read.error));
        return;
      }
      if (basePassed < 0)
        basePassed = read.line.passed;
      if (first[size_t(v)]) {
        first[size_t(v)] = false;
        ++ready;
      }
      const qint64 counted = read.line.passed - basePassed;
      std::lock_guard lock(mutex);
      for (qint64 k = seen[size_t(v)]; k < counted && k < kEnds; ++k)
        out->seenMs.push_back(double(endedAt[size_t(k)].nsecsElapsed()) / 1e6);
      seen[size_t(v)] = std::max(seen[size_t(v)], counted);
    });
    if (reading)
      QObject::connect(reader, &records::LineReader::Changed,
                       [reader] { reader->Read(kNow, records::LocalDayStart(kNow)); });
    reader->Read(kNow, records::LocalDayStart(kNow));
  }
  while (ready < views)
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
  std::atomic<bool> done{false};
  std::thread ender([&] {
    records::db::Connection e(where, records::db::Connection::Target::Store, "ender");
    QString failure;
    for (int k = 0; k < kEnds; ++k) {
      QElapsedTimer t;
      t.start();
      const QString uid = QStringLiteral("end-%1-%2-%3").arg(kRun).arg(round).arg(k);
      const bool ended = e.Transaction(&failure, [&] {
        return records::db::Run(e,
                                QStringLiteral("UPDATE units SET ended_at = ?, verdict = 'passed', result = 'ok', "
                                               "attempts = 1 WHERE job_name = 'motor-board-0' AND unit_uid = ? AND "
                                               "verdict = ''"),
                                {records::TimeText(kNow), uid}, &failure) &&
               records::db::Run(e,
                                QStringLiteral("INSERT INTO lots (job_name, lot, passed, failed) VALUES "
                                               "('motor-board-0', 'L-end', 1, 0) ON CONFLICT (job_name, lot) DO "
                                               "UPDATE SET passed = lots.passed + 1"),
                                {}, &failure);
      });
      {
        std::lock_guard lock(mutex);
        endedAt[size_t(k)].start();
        out->endMs.push_back(double(t.nsecsElapsed()) / 1e6);
      }
      if (!ended) {
        std::fprintf(stderr, "cannot end a unit: %s\n", qPrintable(failure));
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(kEndPaceMs));
    }
    done = true;
  });
  QElapsedTimer waited;
  waited.start();
  // Until every view counted every end (or 30 s more, when some do not read).
  while (!done || (views > 0 && reading && std::any_of(seen.begin(), seen.end(), [](qint64 s) { return s < kEnds; }) &&
                   waited.elapsed() < kEnds * kEndPaceMs + 30000))
    QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
  ender.join();
  return true;
}

bool MeasureEnds(const records::StoreLocation &where) {
  records::db::Connection c(where, records::db::Connection::Target::Store, "trigger");
  QString error;
  if (!c.Open(&error) || !Exec(c, QStringLiteral("SET client_min_messages TO warning"))) {
    std::fprintf(stderr, "cannot open the store: %s\n", qPrintable(error));
    return false;
  }
  const struct {
    const char *what;
    bool trigger;
    int views;
    bool reading;
  } cases[] = {
      {"a unit's end: no trigger, nobody listening", false, 0, false},
      {"a unit's end: the trigger, 20 views listening, not reading", true, kViews, false},
      {"a unit's end: the trigger, 20 views reading at each notice", true, kViews, true},
  };
  int round = 0;
  for (const auto &each : cases) {
    if (!Exec(c, QStringLiteral("DROP TRIGGER IF EXISTS units_changed ON units")) ||
        (each.trigger && !Exec(c, QStringLiteral("CREATE TRIGGER units_changed AFTER INSERT OR UPDATE ON units FOR "
                                                 "EACH ROW EXECUTE FUNCTION kavrin_units_changed()"))))
      return false;
    EndFigures figures;
    if (!EndUnits(where, each.views, each.reading, round++, &figures))
      return false;
    Report(each.what, figures.endMs);
    if (each.reading)
      Report("  from a unit's end to each view's figures counting it", figures.seenMs, 1000);
  }
  return true;
}

} // namespace

int main(int argc, char **argv) {
  QCoreApplication app(argc, argv);
  const QString which = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("both");
  const qint64 units = argc > 2 ? std::max(1000LL, atoll(argv[2])) : 10000000LL;
  QTemporaryDir temporary;
  if (which != QLatin1String("postgres")) {
    const QString path = argc > 3 && which == QLatin1String("sqlite")
                             ? QString::fromLocal8Bit(argv[3])
                             : temporary.filePath(QStringLiteral("line.sqlite"));
    const records::StoreLocation where = *records::ParseStoreUrl(QStringLiteral("sqlite:") + path, nullptr);
    std::printf("SQLite, %s:\n", qPrintable(path));
    if (!QFile::exists(path) && !MakeStore(where, units))
      return 1;
    if (!MeasureRefresh(where) || !MeasureSummaries(where))
      return 1;
  }
  if (which != QLatin1String("sqlite") && argc > 3 && QByteArray(argv[3]).startsWith("postgresql:")) {
    // A store made before, on a server of the caller's.
    const records::StoreLocation where = *records::ParseStoreUrl(QString::fromLocal8Bit(argv[3]), nullptr);
    std::printf("PostgreSQL, %s:\n", qPrintable(where.Describe()));
    return MeasureRefresh(where) && MeasureSummaries(where) && MeasureEnds(where) ? 0 : 1;
  }
  if (which != QLatin1String("sqlite")) {
    if (PostgresServer::BinDir().isEmpty()) {
      std::fprintf(stderr, "the PostgreSQL server tools are not installed\n");
      return 1;
    }
    PostgresServer server(true);
    QString error;
    if (!server.Start(&error) || !server.CreateDatabase(QStringLiteral("bench"), &error)) {
      std::fprintf(stderr, "%s\n", qPrintable(error));
      return 1;
    }
    const records::StoreLocation where = *records::ParseStoreUrl(server.Url(QStringLiteral("bench")), nullptr);
    std::printf("PostgreSQL (a server of its own, syncing its disk):\n");
    if (!MakeStore(where, units) || !MeasureRefresh(where) || !MeasureSummaries(where) || !MeasureEnds(where))
      return 1;
  }
  return 0;
}
