#include "records/serial_pool.h"

#include <QDateTime>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>
#include <algorithm>

namespace records {

namespace {

QString Now() { return TimeText(QDateTime::currentDateTimeUtc()); }

bool Run(db::Connection &c, const QString &sql, const QVariantList &values, QString *error, QSqlQuery *out = nullptr) {
  QSqlQuery q(c.Database());
  if (!db::PrepareQuery(q, sql, values, error) || !db::ExecQuery(q, error))
    return false;
  if (out)
    *out = std::move(q);
  return true;
}

// Runs `body` in one transaction holding the store's write lock (SQLite) or
// what `body` locks (PostgreSQL); rolls back on any failure.
bool Transaction(db::Connection &c, QString *error, const std::function<bool()> &body) {
  if (!c.Open(error) || !c.Exec(c.IsSqlite() ? QStringLiteral("BEGIN IMMEDIATE") : QStringLiteral("BEGIN"), error))
    return false;
  if (body() && c.Exec(QStringLiteral("COMMIT"), error))
    return true;
  QString ignored;
  c.Exec(QStringLiteral("ROLLBACK"), &ignored);
  return false;
}

} // namespace

bool ReserveNumbers(db::Connection &c, const PoolStation &s, int count, std::vector<qint64> *indexes, QString *error) {
  indexes->clear();
  const bool done = Transaction(c, error, [&] {
    if (!Run(c,
             QStringLiteral("INSERT INTO serial_pools (name, definition, size) VALUES (?, ?, ?) "
                            "ON CONFLICT (name) DO NOTHING"),
             {s.pool, s.definition, s.size}, error))
      return false;
    QSqlQuery q;
    if (!Run(c,
             QStringLiteral("SELECT definition, size, next_index FROM serial_pools WHERE name = ?") +
                 (c.IsSqlite() ? QString() : QStringLiteral(" FOR UPDATE")),
             {s.pool}, error, &q))
      return false;
    if (!q.next()) {
      if (error)
        *error = QStringLiteral("the serial-number pool \"%1\" vanished").arg(s.pool);
      return false;
    }
    if (q.value(0).toString() != s.definition) {
      if (error)
        *error = QStringLiteral("the serial-number pool \"%1\" hands out \"%2\", not \"%3\"; name another pool")
                     .arg(s.pool, q.value(0).toString(), s.definition);
      return false;
    }
    const qint64 size = q.value(1).toLongLong();
    const qint64 next = q.value(2).toLongLong();
    q.finish();
    const qint64 n = size < 0 ? count : std::clamp<qint64>(size - next, 0, count);
    if (n == 0)
      return true;
    if (!Run(c, QStringLiteral("UPDATE serial_pools SET next_index = ? WHERE name = ?"), {next + n, s.pool}, error))
      return false;
    const QString now = Now();
    for (qint64 idx = next; idx < next + n; ++idx) {
      if (!Run(c,
               QStringLiteral("INSERT INTO serial_numbers (pool, idx, host, station, state, changed_at) "
                              "VALUES (?, ?, ?, ?, ?, ?)"),
               {s.pool, idx, s.host, s.station, kNumberReserved, now}, error))
        return false;
      indexes->push_back(idx);
    }
    return true;
  });
  if (!done)
    indexes->clear();
  return done;
}

bool MarkNumber(db::Connection &c, const PoolStation &s, qint64 idx, const QString &state, const QString &value,
                const QString &unitUid, QString *error) {
  if (!c.Open(error))
    return false;
  QSqlQuery q;
  if (!Run(c,
           QStringLiteral("UPDATE serial_numbers SET state = ?, value = ?, unit_uid = ?, changed_at = ? "
                          "WHERE pool = ? AND idx = ? AND host = ? AND station = ?"),
           {state, value, unitUid, Now(), s.pool, idx, s.host, s.station}, error, &q))
    return false;
  if (q.numRowsAffected() != 1) {
    if (error)
      *error = QStringLiteral("the serial-number pool \"%1\" has no number %2 of this station").arg(s.pool).arg(idx);
    return false;
  }
  return true;
}

bool ReleaseNumbers(db::Connection &c, const PoolStation &s, qint64 *skipped, QString *error) {
  if (!c.Open(error))
    return false;
  QSqlQuery q;
  if (!Run(c,
           QStringLiteral("UPDATE serial_numbers SET state = ?, changed_at = ? "
                          "WHERE pool = ? AND host = ? AND station = ? AND state = ?"),
           {kNumberSkipped, Now(), s.pool, s.host, s.station, kNumberReserved}, error, &q))
    return false;
  *skipped = q.numRowsAffected();
  return true;
}

bool SkipLeftovers(db::Connection &c, const PoolStation &s, qint64 *skipped, qint64 *failed, QString *error) {
  return Transaction(c, error, [&] {
    QSqlQuery q;
    if (!Run(c,
             QStringLiteral("UPDATE serial_numbers SET state = ?, changed_at = ? "
                            "WHERE pool = ? AND host = ? AND station = ? AND state = ?"),
             {kNumberFailed, Now(), s.pool, s.host, s.station, kNumberAllocated}, error, &q))
      return false;
    *failed = q.numRowsAffected();
    return ReleaseNumbers(c, s, skipped, error);
  });
}

} // namespace records
