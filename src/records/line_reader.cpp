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

// The units of a read with their lots' counts: those that ended since the
// read's start, summed where alike (by station, job, lot, port, verdict and
// result, and whether they ended in the last hour and today), and those
// without a verdict that started since then or still hold a place, one by
// one. Each part is a range of the units' end index, so a read costs the
// day's units, and sends the view a row per kind of unit rather than one per
// unit; units ended past now and its tolerance (a station's clock ahead) are
// summed apart. Bound: the read's start, the last hour's, the day's, the
// latest end not ahead; the read's start and now. A lot the store does not count (an older store) comes as passed -1.
QString LineUnitsSql(int version) {
  const QString from =
      version < 5 ? QStringLiteral("(%1) AS u").arg(db::DerivedUnitsSql(version >= 4)) : QStringLiteral("units AS u");
  const QString columns = QStringLiteral("SELECT u.host, u.station, u.job_name, u.lot, u.port, u.verdict, u.result, ");
  const QString units =
      columns +
      QStringLiteral("MAX(u.started_at) AS started_at, MAX(u.ended_at) AS ended_at, '' AS holds_until, "
                     "COUNT(*) AS units FROM ") +
      from +
      QStringLiteral(" WHERE u.job_name <> '' AND u.ended_at >= ? GROUP BY u.host, u.station, u.job_name, u.lot, "
                     "u.port, u.verdict, u.result, CASE WHEN u.ended_at >= ? THEN 1 ELSE 0 END, CASE WHEN "
                     "u.ended_at >= ? THEN 1 ELSE 0 END, CASE WHEN u.ended_at > ? THEN 1 ELSE 0 END UNION ALL ") +
      columns + QStringLiteral("u.started_at, u.ended_at, u.holds_until, 1 FROM ") + from +
      QStringLiteral(" WHERE u.job_name <> '' AND u.ended_at = '' AND (u.started_at >= ? OR u.holds_until > ?)");
  if (version < 5)
    return QStringLiteral("SELECT g.*, -1, 0, 0 FROM (%1) AS g").arg(units);
  return QStringLiteral("SELECT g.*, COALESCE(l.passed, -1), COALESCE(l.failed, 0), COALESCE(l.size, 0) FROM (%1) AS g "
                        "LEFT JOIN lots AS l ON l.job_name = g.job_name AND l.lot = g.lot")
      .arg(units);
}

bool ReadUnits(db::Connection &c, const QDateTime &now, const QDateTime &dayStart, std::vector<LineUnit> *units,
               std::vector<LotCount> *lots, QString *error) {
  const QString since = TimeText(LineSince(now, dayStart));
  QSqlQuery q(c.Database());
  if (!db::PrepareQuery(q, LineUnitsSql(c.Version()),
                        {since, TimeText(now.addSecs(-3600)), TimeText(dayStart),
                         TimeText(now.addSecs(kClockAheadToleranceS)), since, TimeText(now)},
                        error) ||
      !db::ExecQuery(q, error))
    return false;
  std::map<std::pair<QString, QString>, LotCount> counted;
  LineUnit u;
  while (q.next()) {
    u.host = q.value(0).toString();
    u.station = q.value(1).toString();
    u.job = q.value(2).toString();
    u.lot = q.value(3).toString();
    u.port = q.value(4).toString();
    u.verdict = q.value(5).toString();
    u.result = q.value(6).toString();
    u.startedAt = TimeFromText(q.value(7).toString());
    u.endedAt = TimeFromText(q.value(8).toString());
    u.holdsUntil = TimeFromText(q.value(9).toString());
    u.units = q.value(10).toLongLong();
    units->push_back(u);
    if (const qint64 passed = q.value(11).toLongLong(); passed >= 0)
      counted[{u.job, u.lot}] = {u.job, u.lot, passed, q.value(12).toLongLong(), q.value(13).toLongLong()};
  }
  if (q.lastError().isValid()) {
    if (error)
      *error = db::ErrorText(q.lastError());
    return false;
  }
  for (auto &[key, lot] : counted)
    lots->push_back(std::move(lot));
  return true;
}

// Each station's last failure's message, from its unit's last attempt record,
// in one statement. The unit is found by when it ended (the units' end
// index; its host and station are read as values, so that no other index is
// taken for it). An older store's units are derived from records whose
// messages are not looked for.
bool ReadMessages(db::Connection &c, LineFigures *line, QString *error) {
  if (c.Version() < 5)
    return true;
  QStringList parts;
  QVariantList values;
  for (size_t i = 0; i < line->stations.size(); ++i) {
    const StationFigures &s = line->stations[i];
    if (s.lastFailure.isEmpty())
      continue;
    parts << QStringLiteral("SELECT %1, COALESCE((SELECT p.message FROM units AS u JOIN programming_records AS p ON "
                            "p.job_name = u.job_name AND p.unit_uid = u.unit_uid WHERE u.ended_at = ? AND "
                            "u.host || '' = ? AND u.station || '' = ? AND u.verdict = 'failed' ORDER BY p.attempt "
                            "DESC, p.finished_at DESC, p.id DESC LIMIT 1), '')")
                 .arg(i);
    values << TimeText(s.lastFailureAt) << s.host << s.station;
  }
  if (parts.isEmpty())
    return true;
  QSqlQuery q;
  if (!db::Run(c, parts.join(QStringLiteral(" UNION ALL ")), values, error, &q))
    return false;
  while (q.next())
    line->stations.at(size_t(q.value(0).toLongLong())).lastFailureMessage = q.value(1).toString();
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
  const bool server = !c.IsSqlite();
  // The day's end times lie beyond what a server's statistics can tell of a
  // text column, so it expects a handful of units and would sort the day's to
  // sum them; hashing them costs a third as much (less still than sorting
  // with a collation other than C). Asked of the units' query alone, in a
  // transaction of the read's own that gives both queries one view of the store.
  const auto sorting = [&](bool on) {
    return !server ||
           c.Exec(on ? QStringLiteral("SET LOCAL enable_sort TO on") : QStringLiteral("SET LOCAL enable_sort TO off"),
                  error);
  };
  return c.Transaction(
      error,
      [&] {
        std::vector<LineUnit> units;
        std::vector<LotCount> lots;
        if (!sorting(false) || !ReadUnits(c, now, dayStart, &units, &lots, error) || !sorting(true))
          return false;
        *line = LineOf(units, lots, now, dayStart);
        return ReadMessages(c, line, error);
      },
      db::Connection::Begin::Snapshot);
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
    // A burst (any login may send them) queues one call, however long it is.
    QObject::connect(driver, &QSqlDriver::notification, worker_->Context(), [port = replies_.Port(), this] {
      if (!changeQueued_.exchange(true))
        port.Send([this] {
          changeQueued_ = false;
          emit Changed();
        });
    });
    driverConnected_ = true;
  }
  if (driver->subscribedToNotifications().contains(kUnitsChannel) ||
      driver->subscribeToNotification(kUnitsChannel))
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
  if (done) {
    read.error.clear();
    read.noRecords = c.Version() < 1;
  }
  else
    c.Close();
  replies_.Port().Send([this, read = std::move(read)] { emit Arrived(read); });
}

} // namespace records
