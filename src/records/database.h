#pragma once
// The SQL side shared by the store, the spool and the readers: one connection
// of the calling thread, the schema and its versions, inserts and selects.
// Qt SQL ties a connection to the thread that made it, so a Connection is
// made, used and destroyed on one thread; each takes a name of its own.
// Errors come back as false plus the database's own message.

#include "records/query.h"
#include "records/record.h"
#include "records/store_location.h"
#include "records/yield.h"

#include <QSqlDatabase>
#include <QSqlQuery>
#include <algorithm>
#include <functional>
#include <memory>
#include <span>

namespace records::db {

// 1: the first table; 2: the job, lot, unit and attempt of each record;
// 3: unit_hours, the units' last attempts summed per job, lot, UTC hour and
// result, kept by every insert (a program that did not keep it must not write).
// 4: each record's serial number, and the serial-number pools (records/serial_pool.h).
inline constexpr int kSchemaVersion = 4;
// A writer waits this long for another writer of the same SQLite file.
inline constexpr int kSqliteBusyMs = 250;
// A connection attempt to the server gives up after this long; libpq takes
// no less than kLeastConnectTimeoutS.
inline constexpr int kConnectTimeoutS = 5;
inline constexpr int kLeastConnectTimeoutS = 2;
// A file-name filter looks through at most this many distinct file paths, and
// reads per file when at most kMostPathsMerged of them match.
inline constexpr int kMostFilePaths = 4096;
inline constexpr int kMostPathsMerged = 16;

// What the yield figures need of one attempt of a job.
struct JobAttempt {
  qint64 id = 0;
  QString job;
  QString lot;
  QString unit; // unit_uid, or the record's own uid when it has none
  qint64 attempt = 0;
  QDateTime finishedAt;
  QString result;
};

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
  // Why the store is not read as usual; empty when it is.
  QString Note() const { return note_; }
  // The server's connection attempts give up after `seconds`
  // (kLeastConnectTimeoutS at least). Before Open.
  void SetConnectTimeout(int seconds) { connectTimeoutS_ = std::max(seconds, kLeastConnectTimeoutS); }
  // SQLite: leave copying the log into the file to Checkpoint on another
  // thread, so that this connection's commits never pay for it. Before Open.
  void LeaveCheckpoints() { leaveCheckpoints_ = true; }
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
  // Every record of a job that the filter's range, result, job and lot
  // match, in no particular order, in one pass; `each` returns false to stop.
  bool JobAttempts(const Filter &f, const std::function<bool(const JobAttempt &)> &each, QString *error);
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

private:
  // A read-only SQLite connection that SQLite cannot give its lock files.
  bool CannotLock() const;
  // Opens the file again as SQLite's "immutable" and sets the note.
  bool OpenAsItStands(QString *error);
  bool MakeSchema(QString *error);
  bool CheckSchema(QString *error);
  bool MarkSpool(QString *error);
  // The distinct file paths holding `contains`; *tooMany when there are more
  // than kMostFilePaths paths in all.
  bool FilePaths(const QString &contains, QStringList *paths, bool *tooMany, QString *error);
  // Moves the count of r's unit to r when r is its last attempt so far.
  bool CountUnit(const Record &r, QString *error);
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
  QString note_;
  int connectTimeoutS_ = kConnectTimeoutS;
  int version_ = kSchemaVersion; // the open store's
  std::unique_ptr<QSqlQuery> insert_;
  std::unique_ptr<QSqlQuery> lastAttempt_;
  std::unique_ptr<QSqlQuery> addUnits_;
};

// The database's own message for a failed call, as plain as it comes.
QString ErrorText(const class QSqlError &e);
// Prepares `sql` on `q` with `values` bound in order; runs a prepared query.
// Each gives false and the database's message on a failure.
bool PrepareQuery(class QSqlQuery &q, const QString &sql, const QVariantList &values, QString *error);
bool ExecQuery(class QSqlQuery &q, QString *error);

} // namespace records::db
