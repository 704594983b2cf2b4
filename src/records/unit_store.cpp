#include "records/unit_store.h"

#include "records/serial_pool.h"

#include <QSqlQuery>
#include <QVariant>
#include <set>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <csignal>
#endif

namespace records {

namespace {

using db::Run;

QString Now() { return TimeText(QDateTime::currentDateTimeUtc()); }

const QString kUnitColumns = QStringLiteral("unit_uid, job_name, job_sha256, lot, station, host, port, serial, "
                                            "started_at, ended_at, verdict, result, attempts, holds_until, operator");

QVariantList UnitValues(const UnitRow &u) {
  return {u.unitUid, u.jobName,          u.jobSha256,          u.lot,       u.station,
          u.host,    u.port,             u.serial,             TimeText(u.startedAt), TimeText(u.endedAt),
          u.verdict, u.result,           u.attempts,           TimeText(u.holdsUntil), u.operatorName};
}

// Inserts the row unless one of its unit is there; *made when it was made.
bool InsertUnit(db::Connection &c, const UnitRow &u, bool *made, QString *error) {
  QSqlQuery q;
  if (!Run(c,
           QStringLiteral("INSERT INTO units (%1) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?) "
                          "ON CONFLICT (job_name, unit_uid) DO NOTHING")
               .arg(kUnitColumns),
           UnitValues(u), error, &q))
    return false;
  *made = q.numRowsAffected() == 1;
  return true;
}

// The places the lot's units hold at `now`, counted under the lot's lock.
bool HeldPlaces(db::Connection &c, const QString &job, const QString &lot, const QDateTime &now, qint64 *held,
                QString *error) {
  QSqlQuery q;
  if (!c.IsSqlite() &&
      (!Run(c, QStringLiteral("INSERT INTO lots (job_name, lot) VALUES (?, ?) ON CONFLICT (job_name, lot) DO NOTHING"),
            {job, lot}, error) ||
       !Run(c, QStringLiteral("SELECT passed FROM lots WHERE job_name = ? AND lot = ? FOR UPDATE"), {job, lot}, error)))
    return false;
  LotCounters counters;
  if (!ReadLot(c, job, lot, now, &counters, error))
    return false;
  *held = counters.passed + counters.running;
  return true;
}

bool ChangeNumbers(db::Connection &c, const std::vector<NumberChange> &numbers, QString *error) {
  for (const NumberChange &n : numbers)
    if (!MarkNumber(c, {n.pool, QString(), -1, n.host, n.station}, n.idx, n.state, n.value, n.unitUid, error))
      return false;
  return true;
}

// The verdict into the row (made whole when the unit never started there),
// and the lot's counts, once.
bool EndUnit(db::Connection &c, const UnitRow &u, QString *error) {
  QSqlQuery q;
  if (!Run(c,
           QStringLiteral("UPDATE units SET ended_at = ?, verdict = ?, result = ?, attempts = ?, serial = ? "
                          "WHERE job_name = ? AND unit_uid = ? AND verdict = ''"),
           {TimeText(u.endedAt), u.verdict, u.result, u.attempts, u.serial, u.jobName, u.unitUid}, error, &q))
    return false;
  bool ended = q.numRowsAffected() == 1;
  if (!ended && !InsertUnit(c, u, &ended, error))
    return false;
  if (!ended || u.jobName.isEmpty() || (u.verdict != kVerdictPassed && u.verdict != kVerdictFailed))
    return true;
  const bool passed = u.verdict == kVerdictPassed;
  if (!Run(c,
           QStringLiteral("INSERT INTO lots (job_name, lot, passed, failed) VALUES (?, ?, ?, ?) "
                          "ON CONFLICT (job_name, lot) DO UPDATE SET passed = lots.passed + excluded.passed, "
                          "failed = lots.failed + excluded.failed"),
           {u.jobName, u.lot, passed ? 1 : 0, passed ? 0 : 1}, error) ||
      !Run(c,
           QStringLiteral("INSERT INTO unit_hours (job_name, lot, hour, result, units) VALUES (?, ?, ?, ?, 1) "
                          "ON CONFLICT (job_name, lot, hour, result) DO UPDATE SET units = unit_hours.units + 1"),
           {u.jobName, u.lot, TimeText(u.endedAt).left(13), u.result}, error))
    return false;
  // Every station counting this lot reads it again: the units table's trigger
  // tells it as this transaction commits.
  return true;
}

// Whether the process `pid` of this boot has ended (a kill leaves its lease
// unrenewed, but a start on the same PC need not wait for it to lapse).
bool Ended(qint64 pid) {
#ifdef Q_OS_UNIX
  return pid > 0 && ::kill(pid_t(pid), 0) != 0 && errno == ESRCH;
#else
  Q_UNUSED(pid);
  return false;
#endif
}

// What a dead run of the station left: its units without a verdict are
// interrupted; of its numbers, in every pool, those allocated (a board may
// carry them) become failed and those reserved become free.
bool SettleLeftovers(db::Connection &c, const QString &host, const QString &station, QString *error) {
  const QString now = Now();
  return Run(c,
             QStringLiteral("UPDATE units SET verdict = ?, result = ?, ended_at = ? "
                            "WHERE host = ? AND station = ? AND verdict = ''"),
             {kVerdictInterrupted, QStringLiteral("interrupted"), now, host, station}, error) &&
         Run(c,
             QStringLiteral("UPDATE serial_numbers SET state = ?, changed_at = ? "
                            "WHERE host = ? AND station = ? AND state = ?"),
             {kNumberFailed, now, host, station, kNumberAllocated}, error) &&
         Run(c,
             QStringLiteral("UPDATE serial_numbers SET state = ?, value = '', unit_uid = '', changed_at = ? "
                            "WHERE host = ? AND station = ? AND state = ?"),
             {kNumberFree, now, host, station, kNumberReserved}, error);
}

// The station's lease for the op's holder, then its leftovers; nothing when
// another live process holds it (*refused says who).
bool Settle(db::Connection &c, const UnitOp &op, QString *refused, QString *error) {
  if (op.holder.isEmpty())
    return SettleLeftovers(c, op.host, op.station, error);
  const QDateTime now = QDateTime::currentDateTimeUtc();
  const QVariantList lease = {op.host, op.station, op.holder, op.pid, op.boot, TimeText(op.since), TimeText(now)};
  QSqlQuery q;
  if (!Run(c,
           QStringLiteral("INSERT INTO station_leases (host, station, holder, pid, boot, since, renewed_at) "
                          "VALUES (?, ?, ?, ?, ?, ?, ?) ON CONFLICT (host, station) DO NOTHING"),
           lease, error, &q))
    return false;
  if (q.numRowsAffected() == 1)
    return SettleLeftovers(c, op.host, op.station, error);
  q.finish();
  if (!Run(c,
           QStringLiteral("SELECT holder, pid, boot, since, renewed_at FROM station_leases "
                          "WHERE host = ? AND station = ?") +
               (c.IsSqlite() ? QString() : QStringLiteral(" FOR UPDATE")),
           {op.host, op.station}, error, &q) ||
      !q.next())
    return false;
  const QString holder = q.value(0).toString();
  const qint64 pid = q.value(1).toLongLong();
  const QString boot = q.value(2).toString();
  const QString since = q.value(3).toString();
  const QDateTime renewed = TimeFromText(q.value(4).toString());
  q.finish();
  if (holder == op.holder)
    return true; // taken and settled by this holder before
  const bool lapsed = !renewed.isValid() || renewed.msecsTo(now) > kLeaseLapseMs ||
                      (!boot.isEmpty() && boot == op.boot && Ended(pid));
  if (!lapsed) {
    *refused = QStringLiteral("the station \"%1\" of %2 is run by process %3 there since %4 UTC: a second run under "
                              "its name is refused until that one ends")
                   .arg(op.station, op.host)
                   .arg(pid)
                   .arg(since.left(19).replace(QLatin1Char('T'), QLatin1Char(' ')));
    return true;
  }
  return Run(c,
             QStringLiteral("UPDATE station_leases SET holder = ?, pid = ?, boot = ?, since = ?, renewed_at = ? "
                            "WHERE host = ? AND station = ?"),
             {op.holder, op.pid, op.boot, TimeText(op.since), TimeText(now), op.host, op.station}, error) &&
         SettleLeftovers(c, op.host, op.station, error);
}

} // namespace

bool ApplyUnitOp(db::Connection &c, const UnitOp &op, bool takePlace, bool *placed, QString *error) {
  if (placed)
    *placed = true;
  QString refused;
  const bool done = c.Transaction(error, [&] {
    switch (op.kind) {
    case UnitOp::Kind::Start: {
      if (takePlace && op.lotSize > 0 && !op.unit.jobName.isEmpty()) {
        qint64 held = 0;
        if (!HeldPlaces(c, op.unit.jobName, op.unit.lot, op.unit.startedAt, &held, error))
          return false;
        if (held >= op.lotSize) {
          if (placed)
            *placed = false;
          return true;
        }
      }
      bool made = false;
      return InsertUnit(c, op.unit, &made, error) &&
             (!made || (ChangeNumbers(c, op.numbers, error) &&
                        (op.unit.jobName.isEmpty() || NoteLotSize(c, op.unit.jobName, op.unit.lot, op.lotSize, error))));
    }
    case UnitOp::Kind::End:
      return EndUnit(c, op.unit, error) && ChangeNumbers(c, op.numbers, error);
    case UnitOp::Kind::Numbers:
      return ChangeNumbers(c, op.numbers, error);
    case UnitOp::Kind::Settle:
      return Settle(c, op, &refused, error);
    }
    return false;
  });
  if (done && !refused.isEmpty()) {
    if (placed)
      *placed = false;
    if (error)
      *error = refused;
  }
  return done;
}

bool RenewLeases(db::Connection &c, const QString &holder, QString *error) {
  return c.Open(error) && Run(c, QStringLiteral("UPDATE station_leases SET renewed_at = ? WHERE holder = ?"),
                              {Now(), holder}, error);
}

bool EndLeases(db::Connection &c, const QString &holder, QString *error) {
  return c.Open(error) && Run(c, QStringLiteral("DELETE FROM station_leases WHERE holder = ?"), {holder}, error);
}

bool NoteLotSize(db::Connection &c, const QString &job, const QString &lot, qint64 size, QString *error) {
  if (size <= 0)
    return true;
  // Written only when it changes, so that a unit's start adds no write to a lot that has it.
  return Run(c,
             QStringLiteral("INSERT INTO lots (job_name, lot, size) VALUES (?, ?, ?) "
                            "ON CONFLICT (job_name, lot) DO UPDATE SET size = excluded.size "
                            "WHERE lots.size <> excluded.size"),
             {job, lot, size}, error);
}

bool ReadLot(db::Connection &c, const QString &job, const QString &lot, const QDateTime &now, LotCounters *counters,
             QString *error) {
  *counters = {};
  if (!c.Open(error))
    return false;
  QSqlQuery q;
  if (c.Version() < 5) {
    if (c.Version() < 2)
      return true; // a store of no jobs
    if (!Run(c,
             QStringLiteral("SELECT SUM(CASE WHEN verdict = 'passed' THEN 1 ELSE 0 END), "
                            "SUM(CASE WHEN verdict = 'failed' THEN 1 ELSE 0 END) FROM (%1) AS units "
                            "WHERE job_name = ? AND lot = ?")
                 .arg(db::DerivedUnitsSql(c.Version() >= 4)),
             {job, lot}, error, &q))
      return false;
    if (q.next()) {
      counters->passed = q.value(0).toLongLong();
      counters->failed = q.value(1).toLongLong();
    }
    return true;
  }
  if (!Run(c, QStringLiteral("SELECT passed, failed FROM lots WHERE job_name = ? AND lot = ?"), {job, lot}, error,
           &q))
    return false;
  if (q.next()) {
    counters->passed = q.value(0).toLongLong();
    counters->failed = q.value(1).toLongLong();
  }
  q.finish();
  if (!Run(c,
           QStringLiteral("SELECT COUNT(*) FROM units WHERE job_name = ? AND lot = ? AND verdict = '' "
                          "AND holds_until > ?"),
           {job, lot, TimeText(now)}, error, &q))
    return false;
  if (q.next())
    counters->running = q.value(0).toLongLong();
  return true;
}

bool SpoolUnitOp(db::Connection &spool, const UnitOp &op, QString *error) {
  return spool.Open(error) && Run(spool, QStringLiteral("INSERT INTO spool_ops (body) VALUES (?)"),
                                  {QString::fromUtf8(ToJson(op))}, error);
}

bool SpooledUnitOps(db::Connection &spool, int limit, std::vector<SpooledOp> *ops, QString *error) {
  ops->clear();
  QSqlQuery q;
  if (!spool.Open(error) ||
      !Run(spool, QStringLiteral("SELECT id, body FROM spool_ops ORDER BY id%1").arg(limit > 0 ? QStringLiteral(" LIMIT %1").arg(limit) : QString()),
           {}, error, &q))
    return false;
  while (q.next()) {
    const std::optional<UnitOp> op = UnitOpFromJson(q.value(1).toString().toUtf8());
    if (!op) {
      if (error)
        *error = QStringLiteral("the spool holds a unit op this program cannot read (id %1)").arg(q.value(0).toLongLong());
      return false;
    }
    ops->push_back({q.value(0).toLongLong(), *op});
  }
  return true;
}

bool DeleteSpooledUnitOps(db::Connection &spool, const std::vector<SpooledOp> &ops, QString *error) {
  return spool.Transaction(error, [&] {
    for (const SpooledOp &op : ops)
      if (!Run(spool, QStringLiteral("DELETE FROM spool_ops WHERE id = ?"), {op.id}, error))
        return false;
    return true;
  });
}

void AddSpooled(const std::vector<SpooledOp> &ops, const QString &job, const QString &lot, LotCounters *counters) {
  std::set<QString> ended;
  for (const SpooledOp &s : ops)
    if (s.op.kind == UnitOp::Kind::End && s.op.unit.jobName == job && s.op.unit.lot == lot) {
      ended.insert(s.op.unit.unitUid);
      if (s.op.unit.verdict == kVerdictPassed)
        ++counters->passed;
      else if (s.op.unit.verdict == kVerdictFailed)
        ++counters->failed;
    }
  for (const SpooledOp &s : ops)
    if (s.op.kind == UnitOp::Kind::Start && s.op.unit.jobName == job && s.op.unit.lot == lot &&
        !ended.contains(s.op.unit.unitUid))
      ++counters->running;
}

bool ProbeWrite(db::Connection &c, QString *error) {
  // What a unit's start writes, taken back before the commit, which still
  // writes its pages: refused as the unit would be.
  return c.Transaction(error, [&] {
    return Run(c, QStringLiteral("INSERT INTO units (unit_uid, job_name, started_at) VALUES ('probe', '', '')"), {},
               error) &&
           Run(c, QStringLiteral("DELETE FROM units WHERE unit_uid = 'probe' AND job_name = ''"), {}, error);
  });
}

} // namespace records
