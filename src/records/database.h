#pragma once
// The SQL side shared by the store, the spool and the readers: one connection
// of the calling thread, the schema and its versions, inserts and selects.
// Qt SQL ties a connection to the thread that made it, so a Connection is
// made, used and destroyed on one thread; each takes a name of its own.
// Errors come back as false plus the database's own message.

#include "records/query.h"
#include "records/record.h"
#include "records/store_location.h"
#include "records/unit_row.h"
#include "records/yield.h"

#include <QSqlDatabase>
#include <QSqlQuery>
#include <algorithm>
#include <functional>
#include <memory>
#include <span>

namespace records {
// The channel a PostgreSQL store tells on whenever a unit row is written (its
// start, its end, a killed run's units settled): the units table's trigger
// sends the unit's job and lot with U+001F between, once per transaction.
inline const QString kUnitsChannel = QStringLiteral("kavrin_units");
} // namespace records

namespace records::db {

// 1: the first table; 2: the job, lot, unit and attempt of each record;
// 3: unit_hours, the units summed per job, lot, UTC hour and result (a
// program that did not keep it must not write); from version 5 kept as units
// end (records/unit_store.h), before by every insert of a record.
// 4: each record's serial number, and the serial-number pools (records/serial_pool.h).
// 5: a row per unit (records/unit_row.h), the lots' counts, unit_hours kept
// from the units' verdicts, and a spool's unit ops; an older store's units
// are derived once from its records (see DerivedUnitsSql in database.cpp).
// 6: who ran each record and unit (operator), and a record's job file SHA-256
// and release; older rows hold '' in them.
inline constexpr int kSchemaVersion = 7;
// A writer waits this long for another writer of the same SQLite file, so
// that stations sharing one file queue rather than fail; at least the 10 s a
// unit's write may take before its unit is called not recorded.
inline constexpr int kSqliteBusyMs = 10000;
// A write on a thread that must not wait (the Recorder's Add) gives up sooner
// and is tried again later.
inline constexpr int kSqliteQuickBusyMs = 250;
// A connection attempt to the server gives up after this long; libpq takes
// no less than kLeastConnectTimeoutS.
inline constexpr int kConnectTimeoutS = 5;
inline constexpr int kLeastConnectTimeoutS = 2;
// A file-name filter looks through at most this many distinct file paths, and
// reads per file when at most kMostPathsMerged of them match.
inline constexpr int kMostFilePaths = 4096;
inline constexpr int kMostPathsMerged = 16;

class Connection {
public:
  enum class Target { Store, Spool }; // Spool: the local SQLite file even for PostgreSQL
  Connection(const StoreLocation &where, Target target, const char *purpose);
  ~Connection();
  Connection(const Connection &) = delete;
  Connection &operator=(const Connection &) = delete;

  bool IsSqlite() const { return sqlite_; }
  // Reads only: a SQLite store that does not exist is an error rather than
  // made, and neither the file nor the server's schema is written. A SQLite
  // store whose lock files cannot be made (read-only media, a folder of
  // another user) is read as it stands, without locks: Note says so. Before Open.
  void ReadOnly() { readOnly_ = true; }
  // Why the store is not read as usual; empty when it is. A database that
  // no station wrote to yet (no schema) is read as holding no records, with
  // Version 0 and "no records in this database yet".
  QString Note() const { return note_; }
  // The server's connection attempts give up after `seconds`
  // (kLeastConnectTimeoutS at least). Before Open.
  void SetConnectTimeout(int seconds) { connectTimeoutS_ = std::max(seconds, kLeastConnectTimeoutS); }
  // SQLite: leave copying the log into the file to Checkpoint on another
  // thread, so that this connection's commits never pay for it. Before Open.
  void LeaveCheckpoints() { leaveCheckpoints_ = true; }
  // SQLite: how long a write waits for another writer (kSqliteBusyMs unless
  // set). Before Open.
  void SetBusyTimeout(int ms) { busyMs_ = ms; }
  int Version() const { return version_; } // the open store's schema version
  // Copies what the log holds into the file as far as no reader needs it;
  // never waits for other connections.
  bool Checkpoint(QString *error);
  bool IsOpen() const;
  // Opens when not open: makes the SQLite folder and file (readable by this
  // user only), sets WAL and full sync, makes or checks the schema. A spool of
  // a PostgreSQL location is marked with its destination and refuses to open
  // for another.
  bool Open(QString *error);
  void Close();

  // Inserts in one committed transaction; a record_uid already stored is
  // skipped (that is how forwarding stays exactly once).
  bool Insert(std::span<const Record> rows, QString *error);
  // Newest first, as the filter says.
  bool Select(const Filter &f, std::vector<Record> *rows, QString *error);
  // The units whose last attempt is of the filter's job and lot (range: the
  // hours that attempt finished in), summed per UTC hour and result, in no
  // particular order. A store older than unit_hours is summed from its rows.
  bool UnitsByHour(const Filter &f, std::vector<HourUnits> *hours, QString *error);
  // The names of the store's jobs, in order.
  bool Jobs(QStringList *jobs, QString *error);
  // Oldest first by id: the spool's order.
  bool Oldest(int limit, std::vector<Record> *rows, QString *error);
  bool DeleteByUid(std::span<const Record> rows, QString *error);
  // What a spool holds: its rows, and the destination it was marked with as
  // StoreLocation::Describe gives it (empty when it bears no mark).
  bool SpoolContents(qint64 *rows, QString *destination, QString *error);

  QSqlDatabase Database() const;
  // Runs one statement; false and the database's message on a failure.
  bool Exec(const QString &sql, QString *error);
  // How a transaction begins. Write holds SQLite's write lock from its start
  // (with PostgreSQL `body` locks what it needs); Deferred takes it at the
  // first write; Snapshot gives a server's reads one view of the store, read
  // only, and runs `body` without a transaction on SQLite.
  enum class Begin { Write, Deferred, Snapshot };
  // Opens when not open and runs `body` in one transaction that begins as
  // `begin` says; rolls back when `body` or the commit fails. Every
  // transaction of the store goes through here.
  bool Transaction(QString *error, const std::function<bool()> &body, Begin begin = Begin::Write);

private:
  // A read-only SQLite connection that SQLite cannot give its lock files.
  bool CannotLock() const;
  // Opens the file again as SQLite's "immutable" and sets the note.
  bool OpenAsItStands(QString *error);
  bool MakeSchema(QString *error);
  bool MakeSchemaSteps(QString *error); // within MakeSchema's transaction
  bool CheckSchema(QString *error);
  bool MarkSpool(QString *error);
  bool MarkSpoolSteps(QString *error); // within MarkSpool's transaction
  // The distinct file paths holding `contains`; *tooMany when there are more
  // than kMostFilePaths paths in all.
  bool FilePaths(const QString &contains, QStringList *paths, bool *tooMany, QString *error);
  // The filter asks for what the store's version never held (a job, a serial
  // number, an operator): no row can match.
  bool NoneCanMatch(const Filter &f) const;
  // The columns to select: those the store's version lacks (a reader does not
  // migrate) come as their defaults.
  QString SelectList() const;
  bool Read(QSqlQuery &q, std::vector<Record> *rows, QString *error);

  const StoreLocation where_;
  const bool sqlite_;
  const bool spool_; // the local spool of a PostgreSQL location
  const QString name_;
  bool leaveCheckpoints_ = false;
  bool readOnly_ = false;
  int busyMs_ = kSqliteBusyMs;
  QString note_;
  int connectTimeoutS_ = kConnectTimeoutS;
  int version_ = kSchemaVersion; // the open store's
  std::unique_ptr<QSqlQuery> insert_;
};

// The units of a store older than version 5, as a SELECT of the units
// table's columns derived from its records (what a derived unit is: see
// database.cpp). `hasSerial`: the store's records have a serial (version 4).
QString DerivedUnitsSql(bool hasSerial);

// The database's own message for a failed call, as plain as it comes.
QString ErrorText(const class QSqlError &e);
// Prepares `sql` on `q` with `values` bound in order; runs a prepared query.
// Each gives false and the database's message on a failure.
// A null QString binds as '' (no text column takes NULL).
bool PrepareQuery(class QSqlQuery &q, const QString &sql, const QVariantList &values, QString *error);
bool ExecQuery(class QSqlQuery &q, QString *error);
// Prepares and runs `sql` on the connection; the query, run, into *out.
bool Run(Connection &c, const QString &sql, const QVariantList &values, QString *error, QSqlQuery *out = nullptr);

} // namespace records::db
