#include "records/line_reader.h"

#include "records/database.h"
#include "records/store_worker.h"

#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>
#include <map>

namespace records {

namespace {

// A statement names at most this many lots, so that a day of many lots is a
// few statements rather than one the server may refuse.
constexpr int kLotsPerQuery = 100;

// The units of a read: those that ended since `since`, and those without a
// verdict that started since then or still hold a place; in two parts, so
// that each is a range of the units' end index.
QString LineUnitsSql(int version) {
  const QString from =
      version < 5 ? QStringLiteral("(%1) AS u").arg(db::DerivedUnitsSql(version >= 4)) : QStringLiteral("units AS u");
  const QString select =
      QStringLiteral("SELECT u.host, u.station, u.job_name, u.lot, u.started_at, u.ended_at, u.verdict, u.result, "
                     "u.holds_until, u.port, CASE WHEN u.verdict = 'failed' THEN COALESCE((SELECT p.message FROM "
                     "programming_records AS p WHERE p.job_name = u.job_name AND p.unit_uid = u.unit_uid "
                     "ORDER BY p.attempt DESC, p.finished_at DESC, p.id DESC LIMIT 1), '') ELSE '' END FROM ") +
      from + QStringLiteral(" WHERE u.job_name <> '' AND ");
  return select + QStringLiteral("u.ended_at >= ? UNION ALL ") + select +
         QStringLiteral("u.ended_at = '' AND (u.started_at >= ? OR u.holds_until > ?)");
}

bool ReadUnits(db::Connection &c, const QDateTime &since, const QDateTime &now, std::vector<LineUnit> *units,
               QString *error) {
  QSqlQuery q(c.Database());
  if (!db::PrepareQuery(q, LineUnitsSql(c.Version()), {TimeText(since), TimeText(since), TimeText(now)}, error) ||
      !db::ExecQuery(q, error))
    return false;
  LineUnit u;
  while (q.next()) {
    u.host = q.value(0).toString();
    u.station = q.value(1).toString();
    u.job = q.value(2).toString();
    u.lot = q.value(3).toString();
    u.startedAt = TimeFromText(q.value(4).toString());
    u.endedAt = TimeFromText(q.value(5).toString());
    u.verdict = q.value(6).toString();
    u.result = q.value(7).toString();
    u.holdsUntil = TimeFromText(q.value(8).toString());
    u.port = q.value(9).toString();
    u.message = q.value(10).toString();
    units->push_back(u);
  }
  if (q.lastError().isValid()) {
    if (error)
      *error = db::ErrorText(q.lastError());
    return false;
  }
  return true;
}

bool ReadLots(db::Connection &c, const std::vector<LineUnit> &units, std::vector<LotCount> *lots, QString *error) {
  if (c.Version() < 5)
    return true; // counted from its units
  std::map<std::pair<QString, QString>, bool> wanted;
  for (const LineUnit &u : units)
    wanted[{u.job, u.lot}] = true;
  auto next = wanted.begin();
  while (next != wanted.end()) {
    QStringList terms;
    QVariantList values;
    for (; next != wanted.end() && terms.size() < kLotsPerQuery; ++next) {
      terms << QStringLiteral("(job_name = ? AND lot = ?)");
      values << next->first.first << next->first.second;
    }
    QSqlQuery q;
    if (!db::Run(c,
                 QStringLiteral("SELECT job_name, lot, passed, failed, size FROM lots WHERE ") +
                     terms.join(QStringLiteral(" OR ")),
                 values, error, &q))
      return false;
    while (q.next())
      lots->push_back({q.value(0).toString(), q.value(1).toString(), q.value(2).toLongLong(), q.value(3).toLongLong(),
                       q.value(4).toLongLong()});
  }
  return true;
}

} // namespace

bool ReadLine(db::Connection &c, const QDateTime &now, const QDateTime &dayStart, LineFigures *line, QString *error) {
  *line = LineFigures();
  line->now = now;
  if (!c.Open(error))
    return false;
  if (c.Version() < 2)
    return true; // a store of no jobs
  std::vector<LineUnit> units;
  std::vector<LotCount> lots;
  if (!ReadUnits(c, LineSince(now, dayStart), now, &units, error) || !ReadLots(c, units, &lots, error))
    return false;
  *line = LineOf(units, lots, now, dayStart);
  return true;
}

bool NoteLotSize(db::Connection &c, const QString &job, const QString &lot, qint64 size, QString *error) {
  if (size <= 0)
    return true;
  return db::Run(c,
                 QStringLiteral("INSERT INTO lots (job_name, lot, size) VALUES (?, ?, ?) "
                                "ON CONFLICT (job_name, lot) DO UPDATE SET size = excluded.size"),
                 {job, lot, size}, error);
}

LineReader::LineReader(const StoreLocation &where, QObject *parent)
    : QObject(parent), where_(where), worker_(std::make_unique<StoreWorker>(QStringLiteral("kavrin-line"))) {}

LineReader::~LineReader() {
  {
    std::lock_guard lock(mutex_);
    pending_.reset();
  }
  worker_->Stop();
}

bool LineReader::CanTell() const { return where_.kind == StoreLocation::Kind::Postgres; }

void LineReader::Read(const QDateTime &now, const QDateTime &dayStart) {
  {
    std::lock_guard lock(mutex_);
    const bool queued = pending_.has_value();
    pending_ = Request{now, dayStart};
    if (queued)
      return; // the task already posted takes this one
  }
  worker_->Post([this] { RunNext(); });
}

bool LineReader::Listen(QString *error) {
  db::Connection &listen = worker_->Connection(where_, db::Connection::Target::Store, "line-listen", true);
  // A server that went away leaves a connection that looks open: a query of its own finds out.
  if (listen.IsOpen() && !listen.Exec(QStringLiteral("SELECT 1"), nullptr))
    listen.Close();
  if (!listen.Open(error))
    return false;
  QSqlDriver *driver = listen.Database().driver();
  if (!driverConnected_) {
    // The driver lives as long as the connection's name, on this thread.
    QObject::connect(driver, &QSqlDriver::notification, worker_->Context(),
                     [port = replies_.Port(), this] { port.Send([this] { emit Changed(); }); });
    driverConnected_ = true;
  }
  if (driver->subscribedToNotifications().contains(kUnitsChangedChannel) ||
      driver->subscribeToNotification(kUnitsChangedChannel))
    return true;
  if (error)
    *error = db::ErrorText(driver->lastError());
  listen.Close();
  return false;
}

void LineReader::RunNext() {
  Request request;
  {
    std::lock_guard lock(mutex_);
    if (!pending_)
      return;
    request = *pending_;
    pending_.reset();
  }
  LineRead read;
  read.told = CanTell() && Listen(&read.untold);
  db::Connection &c = worker_->Connection(where_, db::Connection::Target::Store, "line", true);
  const bool wasOpen = c.IsOpen();
  bool done = ReadLine(c, request.now, request.dayStart, &read.line, &read.error);
  if (!done && wasOpen) {
    // A server that restarted dropped the connection: connected to again at once.
    c.Close();
    done = ReadLine(c, request.now, request.dayStart, &read.line, &read.error);
  }
  if (done)
    read.error.clear();
  else
    c.Close();
  replies_.Port().Send([this, read = std::move(read)] { emit Arrived(read); });
}

} // namespace records
