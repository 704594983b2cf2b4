#include "records/database.h"
#include "base/result_class.h"


#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlDriver>
#include <QSqlError>
#include <QUrl>
#include <QVariant>
#include <atomic>
#include <unistd.h>

namespace records::db {

namespace {

std::atomic<int> connectionCount{0};

QString Sql(const char *text) { return QString::fromLatin1(text); }

// The columns later versions added, in Fields() order: each store gains them
// by ALTER TABLE, so that a store of any version keeps its rows, and those
// rows read as the default (a record of no job, its unit's only attempt).
struct AddedColumn {
  int version;
  const char *name;
  const char *type;
  const char *fill; // the default, as SQL
};
const AddedColumn kAddedColumns[] = {
    {2, "job_name", "TEXT", "''"}, {2, "lot", "TEXT", "''"},    {2, "unit_uid", "TEXT", "''"},
    {2, "attempt", "BIGINT", "1"}, {4, "serial", "TEXT", "''"},    {6, "operator", "TEXT", "''"},
    {6, "job_sha256", "TEXT", "''"}, {6, "job_release", "TEXT", "''"},
};

const AddedColumn *Added(const Field &f) {
  for (const AddedColumn &c : kAddedColumns)
    if (f.name == std::string_view(c.name))
      return &c;
  return nullptr;
}

// Version 1 of the table. Texts are never NULL ('' when there is nothing), so
// that a filter on them and a read-back need no special case; times are UTC
// texts with milliseconds, which sort as the times they name.
QString CreateTableSql(bool sqlite) {
  QString sql = Sql("CREATE TABLE programming_records (\n  id ");
  sql += sqlite ? Sql("INTEGER PRIMARY KEY") : Sql("BIGINT GENERATED ALWAYS AS IDENTITY PRIMARY KEY");
  sql += Sql(",\n  record_uid TEXT NOT NULL UNIQUE");
  for (const Field &f : Fields()) {
    if (f.name == std::string_view("record_uid") || Added(f))
      continue;
    sql += Sql(",\n  ") + Sql(f.name) +
           (f.kind == Field::Integer ? Sql(" BIGINT NOT NULL DEFAULT 0") : Sql(" TEXT NOT NULL DEFAULT ''"));
  }
  return sql + Sql("\n)");
}

// Newest first over everything, within one result class and within one file;
// the date range rides on each. A file-name filter finds the matching files
// first (see FilePaths), then reads each file's rows newest first.
const char *const kIndexes[] = {
    "CREATE INDEX programming_records_finished ON programming_records (finished_at, id)",
    "CREATE INDEX programming_records_result ON programming_records (result, finished_at, id)",
    "CREATE INDEX programming_records_file ON programming_records (file_path, finished_at, id)",
};
// Version 2: a job's attempts, of one lot or of a range of days.
const char *const kJobIndex =
    "CREATE INDEX programming_records_job ON programming_records (job_name, lot, finished_at, id)";
// Version 3: a unit's attempts, latest last, found as each new one is written;
// and the units summed per hour, so that a chart over a million records reads
// thousands of sums rather than every record.
const char *const kUnitIndex =
    "CREATE INDEX programming_records_unit ON programming_records (job_name, unit_uid, attempt, finished_at, id)";
const char *const kUnitHoursTable =
    "CREATE TABLE unit_hours (job_name TEXT NOT NULL, lot TEXT NOT NULL, hour TEXT NOT NULL, result TEXT NOT NULL, "
    "units BIGINT NOT NULL, PRIMARY KEY (job_name, lot, hour, result))";
// What unit_hours holds, summed from the records themselves: each unit's last
// attempt (see yield.h) in the hour it finished. A record without a unit is
// its own. Fills unit_hours when a store gains it, and stands in for it in a
// store read before then.
const char *const kUnitSumsSql =
    "SELECT job_name, lot, hour, result, COUNT(*) AS units FROM (SELECT job_name, lot, "
    "SUBSTR(finished_at, 1, 13) AS hour, result, ROW_NUMBER() OVER (PARTITION BY job_name, "
    "CASE WHEN unit_uid = '' THEN record_uid ELSE unit_uid END ORDER BY attempt DESC, finished_at DESC, id DESC) "
    "AS later FROM programming_records WHERE job_name <> '') AS attempts WHERE later = 1 "
    "GROUP BY job_name, lot, hour, result";

} // namespace

// The units of a store older than version 5, derived from its records: the
// records of a job that share a unit_uid (a record without one is a unit of
// its own). The unit's last attempt (the highest attempt number, the latest
// of equal ones) gives its lot, host, port (the record's station), end and
// verdict: passed when it is an ok load or verify; interrupted when it was
// interrupted or cancelled, or is an ok set (its station stopped or died
// before the load ended); failed otherwise, with that record's result as its
// class. It started when its first record did, carries the serial number its
// records carry, and counts the last attempt's number of attempts. The job
// file's SHA-256 and the station's name are not known (empty), and it holds
// no place in its lot.
QString DerivedUnitsSql(bool hasSerial) {
  const QString unit = Sql("CASE WHEN unit_uid = '' THEN record_uid ELSE unit_uid END");
  const QString by = Sql("PARTITION BY job_name, ") + unit;
  // The classes that fail no unit (ok among them, for a set), and of those
  // the ones a unit's result holds as interrupted, from the classes' table.
  QStringList noFailure, asInterrupted;
  for (const base::ResultClassRow &row : base::ResultClasses()) {
    if (!row.recorded || row.failsUnit)
      continue;
    const QString quoted = QLatin1Char('\'') + Sql(row.name) + QLatin1Char('\'');
    noFailure << quoted;
    if (row.result != base::ResultClass::Ok && row.result != base::ResultClass::Interrupted)
      asInterrupted << quoted;
  }
  const QString comma = Sql(", ");
  return Sql("SELECT unit AS unit_uid, job_name, '' AS job_sha256, lot, '' AS station, host, station AS port, "
             "serial, first_started AS started_at, finished_at AS ended_at, "
             "CASE WHEN result = 'ok' AND operation <> 'set' THEN 'passed' WHEN result IN (") +
         noFailure.join(comma) +
         Sql(") THEN 'interrupted' ELSE 'failed' END AS verdict, "
             "CASE WHEN (result = 'ok' AND operation = 'set') OR result IN (") +
         asInterrupted.join(comma) +
         Sql(") THEN 'interrupted' ELSE result END AS result, attempt AS attempts, '' AS holds_until FROM (SELECT ") +
         unit +
         Sql(" AS unit, job_name, lot, host, station, finished_at, result, operation, attempt, MIN(started_at) OVER (") +
         by + Sql(") AS first_started, ") + (hasSerial ? Sql("MAX(serial) OVER (") + by + Sql(")") : Sql("''")) +
         Sql(" AS serial, ROW_NUMBER() OVER (") + by +
         Sql(" ORDER BY attempt DESC, finished_at DESC, id DESC) AS later FROM programming_records "
             "WHERE job_name <> '') AS attempts WHERE later = 1");
}

namespace {

// "2026-12-07T23": the UTC hour `t` falls in, as unit_hours keys it.
QString HourText(const QDateTime &t) { return TimeText(t).left(13); }
// Version 4: a unit's attempts by its serial number, and the pools numbers are
// drawn from. A pool's next_index only grows, and (pool, idx) is a key, so
// the database itself refuses a number given twice. A list pool has a size;
// a counting pool's is -1.
const char *const kVersion4[] = {
    "CREATE INDEX programming_records_serial ON programming_records (serial, finished_at, id)",
    "CREATE TABLE serial_pools (name TEXT PRIMARY KEY, definition TEXT NOT NULL, size BIGINT NOT NULL, "
    "next_index BIGINT NOT NULL DEFAULT 0)",
    "CREATE TABLE serial_numbers (pool TEXT NOT NULL, idx BIGINT NOT NULL, host TEXT NOT NULL, "
    "station TEXT NOT NULL, state TEXT NOT NULL, value TEXT NOT NULL DEFAULT '', "
    "unit_uid TEXT NOT NULL DEFAULT '', changed_at TEXT NOT NULL, PRIMARY KEY (pool, idx))",
    "CREATE INDEX serial_numbers_station ON serial_numbers (pool, host, station, state)",
};

// Version 5: a row per unit (records/unit_row.h), a unit's uid kept apart by
// job as its records' always were (a job is named by people), found by its lot (the
// units of a lot that still hold a place are those without a verdict), by
// when it ended (the summaries) and by its station (what a killed run left);
// each lot's units passed and failed, kept as units end, so that a lot of a
// million units is counted in one read, and its size (0 until a start of one
// of its units writes it: records/unit_store.h NoteLotSize).
const char *const kVersion5[] = {
    "CREATE TABLE units (unit_uid TEXT NOT NULL, job_name TEXT NOT NULL, job_sha256 TEXT NOT NULL DEFAULT '', "
    "lot TEXT NOT NULL DEFAULT '', station TEXT NOT NULL DEFAULT '', host TEXT NOT NULL DEFAULT '', "
    "port TEXT NOT NULL DEFAULT '', serial TEXT NOT NULL DEFAULT '', started_at TEXT NOT NULL, "
    "ended_at TEXT NOT NULL DEFAULT '', verdict TEXT NOT NULL DEFAULT '', result TEXT NOT NULL DEFAULT '', "
    "attempts BIGINT NOT NULL DEFAULT 0, holds_until TEXT NOT NULL DEFAULT '', PRIMARY KEY (job_name, unit_uid))",
    "CREATE INDEX units_lot ON units (job_name, lot, verdict, holds_until)",
    "CREATE INDEX units_ended ON units (ended_at)",
    "CREATE INDEX units_station ON units (host, station, verdict)",
    "CREATE TABLE lots (job_name TEXT NOT NULL, lot TEXT NOT NULL, passed BIGINT NOT NULL DEFAULT 0, "
    "failed BIGINT NOT NULL DEFAULT 0, size BIGINT NOT NULL DEFAULT 0, PRIMARY KEY (job_name, lot))",
    // The numbers given back to a pool, lowest first.
    "CREATE INDEX serial_numbers_state ON serial_numbers (pool, state, idx)",
};
// Version 5 on a server: whoever writes a unit row (a start, an end, a killed
// run's units settled, a spool forwarded), the server tells it on
// kUnitsChannel as the write commits, with the unit's
// job and lot as a payload (equal ones of one transaction come once). Made
// after an older store's units are derived, which nobody waits to hear of.
QStringList UnitsChangedSql() {
  return {QStringLiteral("CREATE OR REPLACE FUNCTION kavrin_units_changed() RETURNS trigger LANGUAGE plpgsql AS "
                         "$$BEGIN PERFORM pg_notify('%1', NEW.job_name || chr(31) || NEW.lot); RETURN NULL; END$$")
              .arg(kUnitsChannel),
          QStringLiteral("CREATE TRIGGER units_changed AFTER INSERT OR UPDATE ON units FOR EACH ROW "
                         "EXECUTE FUNCTION kavrin_units_changed()")};
}
// A spool's unit ops (records/unit_row.h UnitOp, as JSON), oldest first.
const char *const kSpoolOps = "CREATE TABLE spool_ops (id INTEGER PRIMARY KEY, body TEXT NOT NULL)";
// Each lot's counts, and unit_hours, from the units.
const char *const kFillLots =
    "INSERT INTO lots (job_name, lot, passed, failed) SELECT job_name, lot, "
    "SUM(CASE WHEN verdict = 'passed' THEN 1 ELSE 0 END), SUM(CASE WHEN verdict = 'failed' THEN 1 ELSE 0 END) "
    "FROM units WHERE job_name <> '' GROUP BY job_name, lot";
// Version 6: an operator's records, newest first, and who ran each unit.
const char *const kVersion6[] = {
    "CREATE INDEX programming_records_operator ON programming_records (operator, finished_at, id)",
    "ALTER TABLE units ADD COLUMN operator TEXT NOT NULL DEFAULT ''",
};
// Version 7: which process runs each station now (records/serial_pool.h
// station leases), so that a second run under a live station's name is
// refused rather than settling the first one's units and numbers.
const char *const kVersion7 =
    "CREATE TABLE station_leases (host TEXT NOT NULL, station TEXT NOT NULL, holder TEXT NOT NULL, "
    "pid BIGINT NOT NULL, boot TEXT NOT NULL, since TEXT NOT NULL, renewed_at TEXT NOT NULL, "
    "PRIMARY KEY (host, station))";
const char *const kFillUnitHours =
    "INSERT INTO unit_hours (job_name, lot, hour, result, units) SELECT job_name, lot, SUBSTR(ended_at, 1, 13), "
    "result, COUNT(*) FROM units WHERE job_name <> '' AND verdict IN ('passed', 'failed') "
    "GROUP BY job_name, lot, SUBSTR(ended_at, 1, 13), result";

QString ColumnList() {
  QString out;
  for (const Field &f : Fields())
    out += (out.isEmpty() ? QString() : Sql(", ")) + Sql(f.name);
  return out;
}

// A null QString binds as NULL; the columns want ''.
QVariant TextValue(const QString &text) { return text.isNull() ? QVariant(QString(QLatin1String(""))) : text; }

// The filter's range, result, job and lot as " AND ..." conditions, their
// values appended to `values` in order.
QString Conditions(const Filter &f, QVariantList *values) {
  QString where;
  if (f.since) {
    where += Sql(" AND finished_at >= ?");
    *values << TimeText(*f.since);
  }
  if (f.until) {
    where += Sql(" AND finished_at < ?");
    *values << TimeText(*f.until);
  }
  for (const auto &[column, value] :
       {std::pair{"result", f.result}, std::pair{"job_name", f.job}, std::pair{"lot", f.lot},
        std::pair{"serial", f.serial}, std::pair{"operator", f.operatorName}, std::pair{"host", f.host}}) {
    if (value.isEmpty())
      continue;
    where += QStringLiteral(" AND %1 = ?").arg(QLatin1String(column));
    *values << value;
  }
  if (!f.stations.isEmpty()) {
    where += QStringLiteral(" AND station IN (%1)").arg(QStringList(f.stations.size(), Sql("?")).join(Sql(", ")));
    for (const QString &station : f.stations)
      *values << station;
  }
  return where;
}

QString EscapeLike(const QString &text) {
  QString out;
  for (QChar c : text) {
    if (c == QLatin1Char('\\') || c == QLatin1Char('%') || c == QLatin1Char('_'))
      out += QLatin1Char('\\');
    out += c;
  }
  return out;
}

} // namespace

QString ErrorText(const QSqlError &e) {
  QString text = e.databaseText().trimmed();
  if (text.isEmpty())
    text = e.driverText().trimmed();
  if (text.isEmpty())
    text = QStringLiteral("unknown database error");
  return text;
}

bool PrepareQuery(QSqlQuery &q, const QString &sql, const QVariantList &values, QString *error) {
  if (!q.prepare(sql)) {
    if (error)
      *error = ErrorText(q.lastError());
    return false;
  }
  // A null QString would bind as NULL, which no text column takes.
  for (int i = 0; i < values.size(); ++i)
    q.bindValue(i, values[i].typeId() == QMetaType::QString ? TextValue(values[i].toString()) : values[i]);
  return true;
}

bool Run(Connection &c, const QString &sql, const QVariantList &values, QString *error, QSqlQuery *out) {
  QSqlQuery q(c.Database());
  if (!PrepareQuery(q, sql, values, error) || !ExecQuery(q, error))
    return false;
  if (out)
    *out = std::move(q);
  return true;
}

bool ExecQuery(QSqlQuery &q, QString *error) {
  if (q.exec())
    return true;
  if (error)
    *error = ErrorText(q.lastError());
  return false;
}

Connection::Connection(const StoreLocation &where, Target target, const char *purpose)
    : where_(where), sqlite_(target == Target::Spool || where.kind != StoreLocation::Kind::Postgres),
      spool_(target == Target::Spool && where.kind == StoreLocation::Kind::Postgres),
      name_(QStringLiteral("kavrin-records-%1-%2").arg(QLatin1String(purpose)).arg(++connectionCount)) {}

Connection::~Connection() {
  Close();
  QSqlDatabase::removeDatabase(name_);
}

QSqlDatabase Connection::Database() const { return QSqlDatabase::database(name_, false); }

bool Connection::IsOpen() const { return QSqlDatabase::contains(name_) && Database().isOpen(); }

void Connection::Close() {
  insert_.reset();
  if (QSqlDatabase::contains(name_))
    Database().close();
}

bool Connection::Exec(const QString &sql, QString *error) {
  QSqlQuery q(Database());
  if (q.exec(sql))
    return true;
  if (error)
    *error = ErrorText(q.lastError());
  return false;
}

bool Connection::Transaction(QString *error, const std::function<bool()> &body, Begin begin) {
  if (!Open(error))
    return false;
  if (begin == Begin::Snapshot && sqlite_)
    return body();
  const QString start = begin == Begin::Snapshot             ? Sql("BEGIN ISOLATION LEVEL REPEATABLE READ READ ONLY")
                        : begin == Begin::Write && sqlite_ ? Sql("BEGIN IMMEDIATE")
                                                           : Sql("BEGIN");
  if (!Exec(start, error))
    return false;
  if (body() && Exec(Sql("COMMIT"), error))
    return true;
  QString ignored;
  Exec(Sql("ROLLBACK"), &ignored);
  return false;
}

bool Connection::Open(QString *error) {
  if (IsOpen())
    return true;
  const char *driver = sqlite_ ? "QSQLITE" : "QPSQL";
  if (!QSqlDatabase::isDriverAvailable(QLatin1String(driver))) {
    if (error)
      *error = QStringLiteral("the Qt %1 driver is not installed").arg(QLatin1String(driver));
    return false;
  }
  QSqlDatabase db =
      QSqlDatabase::contains(name_) ? Database() : QSqlDatabase::addDatabase(QLatin1String(driver), name_);
  if (sqlite_) {
    const QFileInfo file(where_.sqlitePath);
    if (const QString refusal = StoreFileRefusal(where_.sqlitePath); !refusal.isEmpty()) {
      if (error)
        *error = refusal;
      return false;
    }
    if (readOnly_) {
      // A reader that made the file would turn a mistyped path into an empty store.
      if (!file.exists()) {
        if (error)
          *error = QStringLiteral("there is no records store %1").arg(where_.sqlitePath);
        return false;
      }
    } else {
      if (!QDir().mkpath(file.absolutePath())) {
        if (error)
          *error = QStringLiteral("cannot make the folder %1").arg(file.absolutePath());
        return false;
      }
      // Made here rather than by SQLite, so that the records (and the log
      // files SQLite gives the same mode) are this user's alone from the start.
      if (!file.exists()) {
        QFile made(where_.sqlitePath);
        made.open(QIODevice::WriteOnly | QIODevice::NewOnly, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
      }
    }
    db.setDatabaseName(where_.sqlitePath);
    db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(busyMs_) +
                         (readOnly_ ? QStringLiteral(";QSQLITE_OPEN_READONLY") : QString()));
  } else {
    db.setHostName(where_.host);
    db.setPort(where_.port);
    db.setUserName(where_.user);
    db.setPassword(where_.password);
    db.setDatabaseName(where_.database);
    db.setConnectOptions(QStringLiteral("connect_timeout=%1;application_name=kavrin-programmer").arg(connectTimeoutS_) +
                         (where_.service.isEmpty() ? QString() : QStringLiteral(";service=") + where_.service));
  }
  if (!db.open()) {
    if (error)
      *error = ErrorText(db.lastError());
    return false;
  }
  if (readOnly_) {
    if (sqlite_ && CannotLock() && !OpenAsItStands(error))
      return false;
    if (!CheckSchema(error)) {
      Close();
      return false;
    }
    return true;
  }
  // WAL lets the window read while a record is written; full sync makes a
  // returned commit survive a power cut as well as a killed process.
  if ((sqlite_ && (!Exec(Sql("PRAGMA journal_mode=WAL"), error) || !Exec(Sql("PRAGMA synchronous=FULL"), error) ||
                   (leaveCheckpoints_ && !Exec(Sql("PRAGMA wal_autocheckpoint=0"), error)))) ||
      !MakeSchema(error) || (spool_ && !MarkSpool(error))) {
    Close();
    return false;
  }
  return true;
}

bool Connection::CannotLock() const {
  QSqlQuery probe(Database());
  if (probe.exec(Sql("SELECT count(*) FROM sqlite_master")))
    return false;
  // SQLite's "unable to open database file" and "attempt to write a readonly
  // database" (primary codes 14 and 8, whatever the extended code): its lock
  // files (-shm, -wal) cannot be made or written. Any other failure (a
  // writer's lock among them) is no reason to read unlocked.
  const int primary = probe.lastError().nativeErrorCode().toInt() & 0xFF;
  if (primary != 14 && primary != 8)
    return false;
  const QByteArray folder = QFile::encodeName(QFileInfo(where_.sqlitePath).absolutePath());
  const QByteArray shm = QFile::encodeName(where_.sqlitePath + Sql("-shm"));
  return ::access(folder.constData(), W_OK) != 0 ||
         (::access(shm.constData(), F_OK) == 0 && ::access(shm.constData(), W_OK) != 0);
}

bool Connection::OpenAsItStands(QString *error) {
  QSqlDatabase db = Database();
  db.close();
  // Immutable: no locks, no log; the file is read exactly as it lies.
  db.setDatabaseName(QUrl::fromLocalFile(where_.sqlitePath).toString(QUrl::FullyEncoded) + Sql("?immutable=1"));
  db.setConnectOptions(Sql("QSQLITE_OPEN_READONLY;QSQLITE_OPEN_URI"));
  if (!db.open()) {
    if (error)
      *error = ErrorText(db.lastError());
    return false;
  }
  note_ = QStringLiteral("%1 is on read-only media or in a folder this user cannot write: it is read as it stands")
              .arg(where_.sqlitePath);
  if (const QFileInfo log(where_.sqlitePath + Sql("-wal")); log.exists() && log.size() > 0)
    note_ += QStringLiteral(", without the latest records its log %1 may hold").arg(log.filePath());
  return true;
}

bool Connection::Checkpoint(QString *error) {
  return Open(error) && Exec(Sql("PRAGMA wal_checkpoint(PASSIVE)"), error);
}

bool Connection::MakeSchema(QString *error) {
  // One writer at a time makes the schema: SQLite's write lock, or a lock of
  // the server that several stations may race for on their first start.
  if (!Transaction(error, [&] { return MakeSchemaSteps(error); }))
    return false;
  version_ = kSchemaVersion;
  return true;
}

bool Connection::MakeSchemaSteps(QString *error) {
  // SET LOCAL keeps the server's "already exists" notices off the console.
  if (!sqlite_ && (!Exec(Sql("SET LOCAL client_min_messages TO warning"), error) ||
                   !Exec(Sql("SELECT pg_advisory_xact_lock(7251031)"), error)))
    return false;
  if (!Exec(Sql("CREATE TABLE IF NOT EXISTS schema_version (version INTEGER NOT NULL)"), error))
    return false;
  int version = 0;
  {
    QSqlQuery q(Database());
    if (!q.exec(Sql("SELECT COALESCE(MAX(version), 0) FROM schema_version")) || !q.next()) {
      if (error)
        *error = ErrorText(q.lastError());
      return false;
    }
    version = q.value(0).toInt();
  }
  if (version > kSchemaVersion) {
    if (error)
      *error = QStringLiteral("the store's schema version %1 is newer than this program's %2")
                   .arg(version)
                   .arg(kSchemaVersion);
    return false;
  }
  // Each later version adds its step here, run when the stored version is older.
  if (version < 1) {
    if (!Exec(CreateTableSql(sqlite_), error))
      return false;
    for (const char *index : kIndexes)
      if (!Exec(Sql(index), error))
        return false;
  }
  for (const AddedColumn &c : kAddedColumns)
    if (version < c.version && !Exec(QStringLiteral("ALTER TABLE programming_records ADD COLUMN %1 %2 NOT NULL "
                                                    "DEFAULT %3")
                                         .arg(QLatin1String(c.name), QLatin1String(c.type), QLatin1String(c.fill)),
                                     error))
      return false;
  if (version < 2 && !Exec(Sql(kJobIndex), error))
    return false;
  if (version < 3 && (!Exec(Sql(kUnitIndex), error) || !Exec(Sql(kUnitHoursTable), error)))
    return false;
  if (version < 4)
    for (const char *sql : kVersion4)
      if (!Exec(Sql(sql), error))
        return false;
  if (version < 5) {
    for (const char *sql : kVersion5)
      if (!Exec(Sql(sql), error))
        return false;
    if (sqlite_ && !Exec(Sql(kSpoolOps), error))
      return false;
    // A spool's records are another store's: its units are made there.
    if (!spool_ && (!Exec(Sql("INSERT INTO units ") + DerivedUnitsSql(true) + Sql(" ON CONFLICT (job_name, unit_uid) DO NOTHING"), error) || !Exec(Sql(kFillLots), error) ||
                    !Exec(Sql("DELETE FROM unit_hours"), error) || !Exec(Sql(kFillUnitHours), error)))
      return false;
    if (!sqlite_)
      for (const QString &sql : UnitsChangedSql())
        if (!Exec(sql, error))
          return false;
  }
  if (version < 6)
    for (const char *sql : kVersion6)
      if (!Exec(Sql(sql), error))
        return false;
  if (version < 7 && !Exec(Sql(kVersion7), error))
    return false;
  if (version < kSchemaVersion &&
      !Exec(QStringLiteral("INSERT INTO schema_version (version) VALUES (%1)").arg(kSchemaVersion), error))
    return false;
  return true;
}

bool Connection::CheckSchema(QString *error) {
  QSqlQuery q(Database());
  if (!q.exec(Sql("SELECT COALESCE(MAX(version), 0) FROM schema_version")) || !q.next()) {
    const QString failed = ErrorText(q.lastError());
    // A database no station wrote to yet (no schema at all) reads as a store of no records.
    QSqlQuery made(Database());
    if (made.exec(sqlite_ ? Sql("SELECT COUNT(*) FROM sqlite_master WHERE name = 'schema_version'")
                          : Sql("SELECT COUNT(*) FROM pg_catalog.pg_tables WHERE tablename = 'schema_version' "
                                "AND schemaname = ANY (current_schemas(false))")) &&
        made.next() && made.value(0).toInt() == 0) {
      version_ = 0;
      note_ = QStringLiteral("no records in this database yet");
      return true;
    }
    if (error)
      *error = failed;
    return false;
  }
  const int version = q.value(0).toInt();
  if (version > kSchemaVersion) {
    if (error)
      *error = QStringLiteral("the store's schema version %1 is newer than this program's %2")
                   .arg(version)
                   .arg(kSchemaVersion);
    return false;
  }
  version_ = version;
  return true;
}

bool Connection::NoneCanMatch(const Filter &f) const {
  return version_ < 1 || (version_ < 2 && (!f.job.isEmpty() || !f.lot.isEmpty())) || (version_ < 4 && !f.serial.isEmpty()) ||
         (version_ < 6 && !f.operatorName.isEmpty());
}

QString Connection::SelectList() const {
  QString out;
  for (const Field &f : Fields()) {
    const AddedColumn *added = Added(f);
    const QString column = added && added->version > version_
                               ? QLatin1String(added->fill) + Sql(" AS ") + QLatin1String(f.name)
                               : QLatin1String(f.name);
    out += (out.isEmpty() ? QString() : Sql(", ")) + column;
  }
  return out;
}

bool Connection::MarkSpool(QString *error) {
  // Marked in one transaction, so that two runs starting on a new spool
  // cannot both mark it.
  return Transaction(error, [&] { return MarkSpoolSteps(error); });
}

bool Connection::MarkSpoolSteps(QString *error) {
  if (!Exec(Sql("CREATE TABLE IF NOT EXISTS spool_destination (user_name TEXT NOT NULL, host TEXT NOT NULL, "
                "port INTEGER NOT NULL, database_name TEXT NOT NULL)"),
            error))
    return false;
  QSqlQuery q(Database());
  if (!q.exec(Sql("SELECT user_name, host, port, database_name FROM spool_destination"))) {
    if (error)
      *error = ErrorText(q.lastError());
    return false;
  }
  if (q.next()) {
    StoreLocation marked = where_;
    marked.user = q.value(0).toString();
    marked.host = q.value(1).toString();
    marked.port = q.value(2).toInt();
    marked.database = q.value(3).toString();
    q.finish();
    if (marked.Describe() != where_.Describe()) {
      if (error)
        *error = QStringLiteral("the spool %1 holds records for %2, not for %3")
                     .arg(where_.sqlitePath, marked.Describe(), where_.Describe());
      return false;
    }
    return true;
  }
  q.finish();
  q.prepare(Sql("INSERT INTO spool_destination VALUES (?, ?, ?, ?)"));
  q.addBindValue(where_.user);
  q.addBindValue(where_.host);
  q.addBindValue(where_.port);
  q.addBindValue(where_.database);
  if (!q.exec()) {
    if (error)
      *error = ErrorText(q.lastError());
    return false;
  }
  return true;
}

bool Connection::SpoolContents(qint64 *rows, QString *destination, QString *error) {
  if (!Open(error))
    return false;
  QSqlQuery q(Database());
  if (!q.exec(Sql("SELECT COUNT(*) FROM programming_records")) || !q.next()) {
    if (error)
      *error = ErrorText(q.lastError());
    return false;
  }
  *rows = q.value(0).toLongLong();
  destination->clear();
  // A spool of an earlier version bears no mark.
  if (q.exec(Sql("SELECT user_name, host, port, database_name FROM spool_destination")) && q.next()) {
    StoreLocation marked;
    marked.kind = StoreLocation::Kind::Postgres;
    marked.user = q.value(0).toString();
    marked.host = q.value(1).toString();
    marked.port = q.value(2).toInt();
    marked.database = q.value(3).toString();
    *destination = marked.Describe();
  }
  return true;
}

bool Connection::Insert(std::span<const Record> rows, QString *error) {
  if (!Open(error))
    return false;
  if (!insert_) {
    QString placeholders;
    for (size_t i = 0; i < Fields().size(); ++i)
      placeholders += i ? Sql(", ?") : Sql("?");
    insert_ = std::make_unique<QSqlQuery>(Database());
    if (!insert_->prepare(Sql("INSERT INTO programming_records (") + ColumnList() + Sql(") VALUES (") + placeholders +
                          Sql(") ON CONFLICT (record_uid) DO NOTHING"))) {
      if (error)
        *error = ErrorText(insert_->lastError());
      insert_.reset();
      return false;
    }
  }
  // The records of a batch go together: one transaction for them all.
  return Transaction(
      error,
      [&] {
        for (const Record &r : rows) {
          if (r.recordUid.isEmpty()) {
            // It would pass for a copy of the first such record and vanish.
            if (error)
              *error = QStringLiteral("a record without a record_uid");
            return false;
          }
          int i = 0;
          for (const Field &f : Fields()) {
            if (f.kind == Field::Integer)
              insert_->bindValue(i++, r.*f.integer);
            else
              insert_->bindValue(i++, TextValue(FieldText(r, f)));
          }
          if (!insert_->exec()) {
            if (error)
              *error = ErrorText(insert_->lastError());
            return false;
          }
        }
        return true;
      },
      Begin::Deferred);
}

bool Connection::Read(QSqlQuery &q, std::vector<Record> *rows, QString *error) {
  q.setForwardOnly(true);
  if (!q.exec()) {
    if (error)
      *error = ErrorText(q.lastError());
    return false;
  }
  while (q.next()) {
    Record r;
    r.id = q.value(0).toLongLong();
    int i = 1;
    for (const Field &f : Fields()) {
      const QVariant v = q.value(i++);
      switch (f.kind) {
      case Field::Text:
        r.*f.text = v.toString();
        break;
      case Field::Time:
        r.*f.time = TimeFromText(v.toString());
        break;
      case Field::Integer:
        r.*f.integer = v.toLongLong();
        break;
      }
    }
    rows->push_back(std::move(r));
  }
  if (q.lastError().isValid()) {
    if (error)
      *error = ErrorText(q.lastError());
    return false;
  }
  q.finish();
  return true;
}

bool Connection::FilePaths(const QString &contains, QStringList *paths, bool *tooMany, QString *error) {
  // Walks the distinct paths through the file index, one seek each, so the
  // cost follows how many files there are, not how many rows.
  QSqlQuery q(Database());
  q.setForwardOnly(true);
  q.prepare(
      QStringLiteral("WITH RECURSIVE paths (p, n) AS (SELECT MIN(file_path), 1 FROM programming_records "
                     "UNION ALL SELECT (SELECT MIN(file_path) FROM programming_records WHERE file_path > paths.p), "
                     "n + 1 FROM paths WHERE paths.p IS NOT NULL AND n <= %1) "
                     "SELECT p, p %2 ? ESCAPE '\\' FROM paths WHERE p IS NOT NULL")
          .arg(kMostFilePaths)
          .arg(sqlite_ ? Sql("LIKE") : Sql("ILIKE")));
  q.bindValue(0, QStringLiteral("%%1%").arg(EscapeLike(contains)));
  if (!q.exec()) {
    if (error)
      *error = ErrorText(q.lastError());
    return false;
  }
  int walked = 0;
  while (q.next()) {
    ++walked;
    if (q.value(1).toBool())
      *paths << q.value(0).toString();
  }
  *tooMany = walked > kMostFilePaths;
  return true;
}

bool Connection::Select(const Filter &f, std::vector<Record> *rows, QString *error) {
  if (!Open(error))
    return false;
  if (NoneCanMatch(f))
    return true;
  QVariantList values;
  QString where = Conditions(f, &values);
  if (f.before) {
    where += Sql(" AND (finished_at, id) < (?, ?)");
    values << TextValue(TimeText(f.before->finishedAt)) << f.before->id;
  }
  const QString order =
      Sql(" ORDER BY finished_at DESC, id DESC") + (f.limit > 0 ? QStringLiteral(" LIMIT %1").arg(f.limit) : QString());
  const QString select = Sql("SELECT id, ") + SelectList() + Sql(" FROM programming_records WHERE TRUE");
  QString sql = select + where + order;
  QVariantList bound = values;
  if (!f.fileContains.isEmpty()) {
    QStringList paths;
    bool tooMany = false;
    if (!FilePaths(f.fileContains, &paths, &tooMany, error))
      return false;
    if (paths.isEmpty() && !tooMany)
      return true;
    if (tooMany || paths.size() > kMostPathsMerged) {
      // Many files match: their rows are dense, so reading newest first and
      // skipping the others finds a page soon.
      sql = select + where +
            (sqlite_ ? Sql(" AND file_path LIKE ? ESCAPE '\\'") : Sql(" AND file_path ILIKE ? ESCAPE '\\'")) + order;
      bound << QStringLiteral("%%1%").arg(EscapeLike(f.fileContains));
    } else {
      // Few files match, however rare their rows: newest first per file
      // through the file index, then merged.
      QStringList parts;
      bound.clear();
      for (const QString &path : paths) {
        parts << QStringLiteral("SELECT * FROM (%1%2 AND file_path = ?%3) AS f%4")
                     .arg(select, where, order)
                     .arg(parts.size());
        bound << values << path;
      }
      sql = Sql("SELECT * FROM (") + parts.join(Sql(" UNION ALL ")) + Sql(") AS files") + order;
    }
  }
  QSqlQuery q(Database());
  if (!PrepareQuery(q, sql, bound, error))
    return false;
  return Read(q, rows, error);
}

bool Connection::UnitsByHour(const Filter &f, std::vector<HourUnits> *hours, QString *error) {
  if (!Open(error))
    return false;
  if (version_ < 2)
    return true; // a store of no jobs
  QString where;
  QVariantList values;
  if (f.since) {
    where += Sql(" AND hour >= ?");
    values << HourText(*f.since);
  }
  if (f.until) {
    where += Sql(" AND hour <= ?");
    values << HourText(f.until->addMSecs(-1));
  }
  for (const auto &[column, value] : {std::pair{"job_name", f.job}, std::pair{"lot", f.lot}}) {
    if (value.isEmpty())
      continue;
    where += QStringLiteral(" AND %1 = ?").arg(QLatin1String(column));
    values << value;
  }
  const QString from = version_ < 3 ? Sql("(") + Sql(kUnitSumsSql) + Sql(") AS sums") : Sql("unit_hours");
  QSqlQuery q(Database());
  q.setForwardOnly(true);
  if (!PrepareQuery(q,
                    Sql("SELECT hour, result, SUM(units) FROM ") + from + Sql(" WHERE TRUE") + where +
                        Sql(" GROUP BY hour, result ORDER BY hour"),
                    values, error) ||
      !ExecQuery(q, error))
    return false;
  // Sums come by the thousand, an hour's few together: each hour is read once.
  QString lastText;
  QDateTime hour;
  while (q.next()) {
    const qint64 units = q.value(2).toLongLong();
    if (units == 0)
      continue; // every unit of it finished later
    const QString text = q.value(0).toString();
    if (text != lastText) {
      lastText = text;
      hour = QDateTime(QDate::fromString(text.left(10), Qt::ISODate), QTime(text.mid(11, 2).toInt(), 0), Qt::UTC);
    }
    hours->push_back({hour, q.value(1).toString(), units});
  }
  if (q.lastError().isValid()) {
    if (error)
      *error = ErrorText(q.lastError());
    return false;
  }
  return true;
}

bool Connection::Jobs(QStringList *jobs, QString *error) {
  if (!Open(error))
    return false;
  if (version_ < 2)
    return true;
  // One seek a job through the job index, as FilePaths walks the files.
  QSqlQuery q(Database());
  q.setForwardOnly(true);
  if (!q.exec(QStringLiteral("WITH RECURSIVE jobs (j, n) AS (SELECT MIN(job_name), 1 FROM programming_records "
                             "WHERE job_name <> '' UNION ALL SELECT (SELECT MIN(job_name) FROM programming_records "
                             "WHERE job_name > jobs.j), n + 1 FROM jobs WHERE jobs.j IS NOT NULL AND n < %1) "
                             "SELECT j FROM jobs WHERE j IS NOT NULL")
                  .arg(kMostFilePaths))) {
    if (error)
      *error = ErrorText(q.lastError());
    return false;
  }
  while (q.next())
    *jobs << q.value(0).toString();
  return true;
}

bool Connection::Oldest(int limit, std::vector<Record> *rows, QString *error) {
  if (!Open(error))
    return false;
  QSqlQuery q(Database());
  q.prepare(Sql("SELECT id, ") + SelectList() +
            QStringLiteral(" FROM programming_records ORDER BY id LIMIT %1").arg(limit));
  return Read(q, rows, error);
}

bool Connection::DeleteByUid(std::span<const Record> rows, QString *error) {
  return Transaction(
      error,
      [&] {
        QSqlQuery q(Database());
        q.prepare(Sql("DELETE FROM programming_records WHERE record_uid = ?"));
        for (const Record &r : rows) {
          q.bindValue(0, r.recordUid);
          if (!q.exec()) {
            if (error)
              *error = ErrorText(q.lastError());
            return false;
          }
        }
        return true;
      },
      Begin::Deferred);
}

} // namespace records::db
