// A station writing its units to a shared store as a production run does: a
// unit's row at its start (no verdict, holding a place until its hold ends)
// and its lot's size; at its end its attempt's record, then the verdict and
// the lot's counts. Unit k starts k * 2 minutes after the base time and ends
// a minute later, so that figures over these units do not depend on when the
// test runs. "kill" starts a unit and kills the station right after its row
// is written, as a station killed mid-unit.
// Arguments: store URL, host, station, port, job, lot, lot size, base time
// (ISO, UTC), hold minutes, then a unit each: pass, fail:RESULT:MESSAGE or kill.
#include "records/database.h"
#include "records/line_reader.h"
#include "records/unit_store.h"

#include <QCoreApplication>
#include <csignal>
#include <cstdio>

namespace {

int Fail(const char *step, const QString &error) {
  std::fprintf(stderr, "%s: %s\n", step, qPrintable(error));
  return 1;
}

} // namespace

int main(int argc, char **argv) {
  QCoreApplication app(argc, argv);
  if (argc < 11)
    return 2;
  const QStringList args = app.arguments();
  QString error;
  const auto where = records::ParseStoreUrl(args[1], &error);
  if (!where)
    return 2;
  const QString host = args[2], station = args[3], port = args[4], job = args[5], lot = args[6];
  const qint64 lotSize = args[7].toLongLong();
  const QDateTime base = records::TimeFromText(args[8]);
  const int holdMinutes = args[9].toInt();
  records::db::Connection c(*where, records::db::Connection::Target::Store, "station");
  for (int k = 0; k + 10 < args.size(); ++k) {
    const QStringList unit = args[k + 10].split(QLatin1Char(':'));
    const QString uid = QStringLiteral("%1-%2-%3").arg(host, station).arg(k);
    const QDateTime started = base.addSecs(120 * k), ended = started.addSecs(60);
    if (!c.Transaction(&error, [&] {
          return records::NoteLotSize(c, job, lot, lotSize, &error) &&
                 records::db::Run(c,
                                  QStringLiteral("INSERT INTO units (unit_uid, job_name, lot, station, host, port, "
                                                 "started_at, holds_until) VALUES (?, ?, ?, ?, ?, ?, ?, ?)"),
                                  {uid, job, lot, station, host, port, records::TimeText(started),
                                   records::TimeText(started.addSecs(60 * holdMinutes))},
                                  &error);
        }))
      return Fail("start", error);
    std::printf("started %s\n", qPrintable(uid));
    std::fflush(stdout);
    if (unit[0] == QLatin1String("kill"))
      raise(SIGKILL);
    const bool passed = unit[0] == QLatin1String("pass");
    records::Record r;
    r.recordUid = uid + QStringLiteral("-1");
    r.startedAt = started;
    r.finishedAt = ended;
    r.host = host;
    r.station = port;
    r.operation = QStringLiteral("load");
    r.result = passed ? QStringLiteral("ok") : unit.value(1);
    r.message = passed ? QStringLiteral("编程成功") : unit.value(2);
    r.jobName = job;
    r.lot = lot;
    r.unitUid = uid;
    if (!c.Insert(std::vector{r}, &error))
      return Fail("record", error);
    if (!c.Transaction(&error, [&] {
          return records::db::Run(c,
                                  QStringLiteral("UPDATE units SET ended_at = ?, verdict = ?, result = ?, attempts = 1 "
                                                 "WHERE job_name = ? AND unit_uid = ? AND verdict = ''"),
                                  {records::TimeText(ended),
                                   passed ? QStringLiteral("passed") : QStringLiteral("failed"), r.result, job, uid},
                                  &error) &&
                 records::db::Run(c,
                                  QStringLiteral("INSERT INTO lots (job_name, lot, passed, failed) VALUES (?, ?, ?, ?) "
                                                 "ON CONFLICT (job_name, lot) DO UPDATE SET passed = lots.passed + "
                                                 "excluded.passed, failed = lots.failed + excluded.failed"),
                                  {job, lot, passed ? 1 : 0, passed ? 0 : 1}, &error);
        }))
      return Fail("end", error);
    std::printf("ended %s\n", qPrintable(uid));
    std::fflush(stdout);
  }
  return 0;
}
