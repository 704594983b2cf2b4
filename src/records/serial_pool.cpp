#include "records/serial_pool.h"

#include <QDateTime>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>
#include <algorithm>

namespace records {

namespace {

QString Now() { return TimeText(QDateTime::currentDateTimeUtc()); }

using db::Run;

} // namespace

bool ReserveNumbers(db::Connection &c, const PoolStation &s, int count, std::vector<qint64> *indexes, QString *error) {
  indexes->clear();
  const bool done = c.Transaction(error, [&] {
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
    // The station's own bound wins: a pool made by a plan of another format
    // still gives this one only numbers it can write.
    const qint64 size = s.size >= 0 ? s.size : q.value(1).toLongLong();
    const qint64 next = q.value(2).toLongLong();
    q.finish();
    const QString now = Now();
    // Numbers given back come first, so that they are used before later ones.
    // The bound only when there is one: a parameter compared with a literal
    // alone is typed 32-bit by the server, and a bound past 2^31 - 1 is refused.
    QVariantList free = {s.pool, kNumberFree};
    if (size >= 0)
      free << size;
    if (!Run(c,
             QStringLiteral("SELECT idx FROM serial_numbers WHERE pool = ? AND state = ?%1 ORDER BY idx LIMIT %2")
                 .arg(size >= 0 ? QStringLiteral(" AND idx < ?") : QString())
                 .arg(count),
             free, error, &q))
      return false;
    while (q.next())
      indexes->push_back(q.value(0).toLongLong());
    q.finish();
    for (const qint64 idx : *indexes)
      if (!Run(c,
               QStringLiteral("UPDATE serial_numbers SET host = ?, station = ?, state = ?, value = '', unit_uid = '', "
                              "changed_at = ? WHERE pool = ? AND idx = ?"),
               {s.host, s.station, kNumberReserved, now, s.pool, idx}, error))
        return false;
    const qint64 left = count - qint64(indexes->size());
    const qint64 n = size < 0 ? left : std::clamp<qint64>(size - next, 0, left);
    if (n == 0)
      return true;
    if (!Run(c, QStringLiteral("UPDATE serial_pools SET next_index = ? WHERE name = ?"), {next + n, s.pool}, error))
      return false;
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

bool ReleaseNumbers(db::Connection &c, const PoolStation &s, qint64 *freed, QString *error) {
  if (!c.Open(error))
    return false;
  QSqlQuery q;
  if (!Run(c,
           QStringLiteral("UPDATE serial_numbers SET state = ?, value = '', unit_uid = '', changed_at = ? "
                          "WHERE pool = ? AND host = ? AND station = ? AND state = ?"),
           {kNumberFree, Now(), s.pool, s.host, s.station, kNumberReserved}, error, &q))
    return false;
  *freed = q.numRowsAffected();
  return true;
}

bool ReclaimLeftovers(db::Connection &c, const PoolStation &s, qint64 *freed, qint64 *failed, QString *error) {
  return c.Transaction(error, [&] {
    QSqlQuery q;
    if (!Run(c,
             QStringLiteral("UPDATE serial_numbers SET state = ?, changed_at = ? "
                            "WHERE pool = ? AND host = ? AND station = ? AND state = ?"),
             {kNumberFailed, Now(), s.pool, s.host, s.station, kNumberAllocated}, error, &q))
      return false;
    *failed = q.numRowsAffected();
    return ReleaseNumbers(c, s, freed, error);
  });
}

} // namespace records
