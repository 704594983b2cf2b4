// What a unit's row adds to the unit, and what the lot's counters cost.
//
// 1. Each unit's start (its row, a place taken in its lot) and end (its
//    verdict, the lot's counts) written through a Recorder, as a UnitRun
//    waits for them: from the ask on the run's thread to the answer back
//    there (median, p99, worst), on SQLite (WAL, full sync) and on a
//    PostgreSQL server of its own that syncs its disk as in production.
// 2. The lot's counters (records/unit_store.h ReadLot: passed, failed, units
//    holding a place) of a lot of 1,000,000 units, on SQLite and PostgreSQL.
// Usage: bench_records_unit [units [folder]]; the folder (default: a
// temporary one) should be on the disk the stores live on.
#include "bench_records.h"
#include "records/database.h"
#include "records/recorder.h"
#include "records/unit_store.h"
#include "support/postgres_server.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <cstdio>
#include <optional>

namespace {

constexpr qint64 kLotUnits = 1000000;

void Print(const char *what, const std::vector<double> &ms) {
  std::printf("  %-44s median %7.3f ms, p99 %7.3f ms, worst %7.3f ms\n", what, Percentile(ms, 0.5),
              Percentile(ms, 0.99), Percentile(ms, 1.0));
}

// Asks for `op` and waits, on this thread's event loop, for the answer.
double Timed(records::Recorder &recorder, const records::UnitOp &op, const records::ReplyPort &port, bool *ok) {
  std::optional<records::Recorder::UnitAnswer> answer;
  QElapsedTimer t;
  t.start();
  recorder.WriteUnit(op, port, [&](records::Recorder::UnitAnswer a) { answer = a; });
  while (!answer)
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
  *ok = *ok && answer->durable && answer->placed;
  if (!answer->durable)
    std::fprintf(stderr, "%s\n", qPrintable(answer->error));
  return double(t.nsecsElapsed()) / 1e6;
}

bool UnitRows(const char *store, const records::StoreLocation &where, int units) {
  records::Recorder recorder(where);
  records::Replies replies;
  std::vector<double> starts, ends, both;
  bool ok = true;
  for (int n = 0; n < units && ok; ++n) {
    records::UnitOp op;
    op.kind = records::UnitOp::Kind::Start;
    op.lotSize = units + 1;
    op.unit.unitUid = QStringLiteral("unit-%1").arg(n);
    op.unit.jobName = QStringLiteral("bench job");
    op.unit.lot = QStringLiteral("bench lot");
    op.unit.station = QStringLiteral("COM5");
    op.unit.port = QStringLiteral("COM5");
    op.unit.startedAt = QDateTime::currentDateTimeUtc();
    op.unit.holdsUntil = op.unit.startedAt.addSecs(600);
    starts.push_back(Timed(recorder, op, replies.Port(), &ok));
    op.kind = records::UnitOp::Kind::End;
    op.unit.endedAt = QDateTime::currentDateTimeUtc();
    op.unit.verdict = n % 20 == 19 ? records::kVerdictFailed : records::kVerdictPassed;
    op.unit.result = n % 20 == 19 ? QStringLiteral("verify-mismatch") : QStringLiteral("ok");
    op.unit.attempts = 1;
    ends.push_back(Timed(recorder, op, replies.Port(), &ok));
    both.push_back(starts.back() + ends.back());
  }
  if (!ok)
    return false;
  std::printf("Unit rows on %s, %d units, from the ask to the answer on the run's thread:\n", store, units);
  Print("start (row, place in the lot)", starts);
  Print("end (verdict, the lot's counts)", ends);
  Print("added to each unit (start + end)", both);
  return true;
}

// A lot of a million units, a thousand of them under way, and its counters read.
bool LotCounters(const char *store, const records::StoreLocation &where, const QString &fill) {
  records::db::Connection c(where, records::db::Connection::Target::Store, "bench");
  QString error;
  QElapsedTimer made;
  made.start();
  if (!c.Open(&error) || !c.Exec(fill, &error) ||
      !c.Exec(QStringLiteral("INSERT INTO lots (job_name, lot, passed, failed) SELECT job_name, lot, "
                             "SUM(CASE WHEN verdict = 'passed' THEN 1 ELSE 0 END), "
                             "SUM(CASE WHEN verdict = 'failed' THEN 1 ELSE 0 END) FROM units GROUP BY job_name, lot"),
              &error)) {
    std::fprintf(stderr, "%s\n", qPrintable(error));
    return false;
  }
  const double fillSeconds = double(made.elapsed()) / 1000.0;
  std::vector<double> ms;
  records::LotCounters counters;
  for (int i = 0; i < 50; ++i) {
    QElapsedTimer t;
    t.start();
    if (!records::ReadLot(c, QStringLiteral("J"), QStringLiteral("L"), QDateTime::currentDateTimeUtc(), &counters,
                          &error)) {
      std::fprintf(stderr, "%s\n", qPrintable(error));
      return false;
    }
    ms.push_back(double(t.nsecsElapsed()) / 1e6);
  }
  std::printf("The lot's counters on %s, a lot of %lld units (made in %.1f s): %lld passed, %lld failed, %lld under "
              "way\n",
              store, kLotUnits, fillSeconds, counters.passed, counters.failed, counters.running);
  Print("one read of the lot's counters", ms);
  return true;
}

// The units of lot J/L: every twentieth failed, the last thousand under way.
QString Fill(const QString &numbers) {
  return QStringLiteral("INSERT INTO units (unit_uid, job_name, lot, station, host, started_at, ended_at, verdict, "
                        "result, attempts, holds_until) SELECT 'u' || i, 'J', 'L', 's', 'h', '2026-12-08T08:00:00.000Z', "
                        "CASE WHEN i >= %2 THEN '' ELSE '2026-12-08T08:01:00.000Z' END, "
                        "CASE WHEN i >= %2 THEN '' WHEN i % 20 = 19 THEN 'failed' ELSE 'passed' END, "
                        "CASE WHEN i >= %2 THEN '' WHEN i % 20 = 19 THEN 'box-failed' ELSE 'ok' END, 1, "
                        "CASE WHEN i >= %2 THEN '2100-01-01T00:00:00.000Z' ELSE '' END FROM %1")
      .arg(numbers)
      .arg(kLotUnits - 1000);
}

} // namespace

int main(int argc, char **argv) {
  QCoreApplication app(argc, argv);
  const int units = argc > 1 ? std::max(10, atoi(argv[1])) : 500;
  QTemporaryDir folder(argc > 2 ? QString::fromLocal8Bit(argv[2]) + QStringLiteral("/unit-bench-XXXXXX") : QString());
  const auto sqlite = [&](const char *name) {
    return *records::ParseStoreUrl(QStringLiteral("sqlite:") + folder.filePath(QLatin1String(name)), nullptr);
  };
  if (!UnitRows("SQLite", sqlite("units.sqlite"), units) ||
      !LotCounters("SQLite", sqlite("lot.sqlite"),
                   Fill(QStringLiteral("(WITH RECURSIVE n(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM n WHERE i < %1) "
                                       "SELECT i FROM n) AS n")
                            .arg(kLotUnits - 1))))
    return 1;
  if (PostgresServer::BinDir().isEmpty()) {
    std::printf("PostgreSQL: the server tools are not installed, not measured\n");
    return 0;
  }
  PostgresServer server(true);
  QString error;
  if (!server.Start(&error) || !server.CreateDatabase(QStringLiteral("units"), &error) ||
      !server.CreateDatabase(QStringLiteral("lot"), &error)) {
    std::fprintf(stderr, "%s\n", qPrintable(error));
    return 1;
  }
  const auto postgres = [&](const char *database) {
    return *records::ParseStoreUrl(server.Url(QLatin1String(database)), nullptr,
                                   folder.filePath(QStringLiteral("spool-%1.sqlite").arg(QLatin1String(database))));
  };
  if (!UnitRows("PostgreSQL", postgres("units"), units) ||
      !LotCounters("PostgreSQL", postgres("lot"),
                   Fill(QStringLiteral("generate_series(0, %1) AS i").arg(kLotUnits - 1))))
    return 1;
  return 0;
}
