#pragma once
// Recorder: writes one production record per operation attempt, durably and
// without getting in the operation's way.
//
// Add writes the record on the calling thread, in one committed SQLite
// transaction (WAL, full sync), before it returns: into the store itself, or,
// for PostgreSQL, into a local spool. A record that cannot be written is kept
// in memory and tried again at the next Add, a second later (with back-off),
// and in WaitForwarded; Warning carries the database's message, Recovered
// says it is written again. Add never throws and never blocks longer than one
// local commit (one disk sync, a few ms; at most kSqliteQuickBusyMs more while
// another program writes the same file). Copying the SQLite log into its file
// (a checkpoint, every 100 records) is left to the Recorder's worker.
//
// PostgreSQL: the same worker reads the spool oldest first, one batch a task, inserts
// into the server in one transaction per batch (a record_uid already there is
// skipped), then deletes what the server holds from the spool: every record
// reaches the server once and in order, even when the program dies between
// the two steps. Spool left by an earlier run goes first.
// When the server cannot be reached the worker tries again after 1 s,
// doubling to 30 s, and at once when a record is added; Warning tells (once per outage,
// with the reason), Recovered tells when the server takes records again.
// Each destination (user, host, port, database) has a spool of its own and
// its records go nowhere else; at start Warning names every other spool in
// the same folder that still holds records.
//
// A Recorder belongs to the thread that made it: Add, WaitForwarded, Finish
// and the signals live there. The forwarding (and the checkpoints) run as
// tasks of the Recorder's StoreWorker (records/store_worker.h). Notices (the
// worker's, and the one of a store that does not open at start) wait under a
// mutex and reach that thread through its Replies, or at once inside
// WaitForwarded and Finish, so that a run too short for an event loop still
// tells them. Destroying the Recorder stops forwarding (what is left stays in
// the spool for the next run), which can wait for one server round trip or
// one connection attempt (5 s at most).
//
// Units (records/unit_row.h): a production unit's start, its steps' records
// and its end are written as tasks of the same worker, in the order asked,
// off the caller's thread; each answers whether it is durable: committed to
// the store, or for PostgreSQL handed to the server or committed to the
// spool, whose unit ops are forwarded in order after the records (a unit's
// end never before its start). With a server that answered last time, a unit
// op goes to it directly (so that a start finds the lot's places as every
// station left them) unless ops still wait in the spool; otherwise it is
// spooled, and a start counts the lot's places as last read plus what the
// spool holds. Once one write of a unit failed, its end is written
// interrupted, whatever the unit did: a unit is passed only when every
// record of it is durable. SQLite writes here wait up to kSqliteBusyMs for
// another station's lock.
//
// Stations: a Settle op claims its station's lease for this Recorder
// (records/unit_store.h), which the worker renews every kLeaseRenewMs while
// it runs and ends as it stops; a station whose claim another live process
// refused has every later unit op refused here with the holder named.

#include "records/record.h"
#include "records/replies.h"
#include "records/store_location.h"
#include "records/store_worker.h"
#include "records/unit_row.h"
#include "records/yield.h"

#include <QObject>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>

namespace records {

namespace db {
class Connection;
}

class Recorder : public QObject {
  Q_OBJECT
public:
  explicit Recorder(const StoreLocation &where, QObject *parent = nullptr);
  ~Recorder() override;

  const StoreLocation &Location() const { return where_; }

  // Fills record_uid and host when empty, then writes the record (see above).
  void Add(Record r) noexcept;

  // True once every record added so far is in the store: for SQLite when all
  // are written, for PostgreSQL when the spool is empty. For a command line
  // before it exits; blocks up to `timeoutMs`.
  bool WaitForwarded(int timeoutMs);

  // For a command line before it exits: WaitForwarded, then stops forwarding.
  // No attempt to reach the server outlasts `timeoutMs` unless it began
  // before the call (those are bounded by one connection attempt). Every
  // notice is delivered before it returns.
  bool Finish(int timeoutMs);

  // --- Units --------------------------------------------------------------------
  struct UnitAnswer {
    bool durable = false; // see above
    bool placed = true;   // a Start: false when the lot had no place left (nothing was written)
    QString error;        // why not durable, with the database's reason
  };
  // Writes `op` (a Start takes a place in its lot when it has a lot size);
  // `done` runs on `port`'s thread with the answer.
  void WriteUnit(const UnitOp &op, const ReplyPort &port, std::function<void(UnitAnswer)> done);
  // A unit's step: its record, filled as Add fills it.
  void WriteStep(Record r, const ReplyPort &port, std::function<void(UnitAnswer)> done);
  // Whether the store takes a write now (for PostgreSQL: the spool).
  void Probe(const ReplyPort &port, std::function<void(UnitAnswer)> done);

  struct LotAnswer {
    LotCounters counters;
    bool current = true; // false: a server out of reach; last read, plus this station's spool
    QString error;       // why it could not be read (current false, counters from the spool alone)
  };
  void CountLot(const QString &job, const QString &lot, const ReplyPort &port, std::function<void(LotAnswer)> done);
  // With PostgreSQL, `changed` runs on `port`'s thread when any station's
  // unit of a lot ends (LISTEN/NOTIFY), for as long as the port's Replies
  // lives; nothing with SQLite, whose readers ask again on their clock.
  void WatchUnits(const ReplyPort &port, std::function<void(QString job, QString lot)> changed);
  // Runs `task` on the worker with its connection to the store itself (the
  // server for PostgreSQL), in order with the rest: the serial numbers'
  // reservations. Whatever the spool holds reaches the server first, so that
  // its units' numbers are settled before anything is reclaimed or reserved;
  // `unsettled` says why the task must not touch the store: the spool could
  // not be forwarded (with the server's reason), or another live process
  // holds the station (host, station), named.
  void OnStore(const QString &host, const QString &station,
               std::function<void(db::Connection &store, const QString &unsettled)> task);

signals:
  void Warning(const QString &text);
  void Recovered(const QString &text);

private:
  struct Forwarding; // the worker's own state
  // On the worker.
  UnitAnswer ApplyUnit(const UnitOp &op);
  UnitAnswer ApplyStep(const Record &r);
  bool ServerLikelyUp() const;
  db::Connection &StoreConnection();
  // A Settle the store applied: its lease taken (renewed from now on), or
  // refused for another live holder (`error`), whose starts are then refused.
  void Claimed(const UnitOp &op, bool placed, const QString &error);
  // Forwards the whole spool (PostgreSQL); false and why when it cannot.
  bool Settled(QString *error);
  LotAnswer ReadLotNow(const QString &job, const QString &lot);
  bool ForwardUnitOps(QString *error, bool *more);
  void Listen();
  void WriteLocal();
  // Has the worker look at the spool (checkpoint, forward) soon.
  void Kick();
  void Forward();
  void Post(bool warning, const QString &text);
  void DeliverNotices();
  void StopWorker();

  const StoreLocation where_;
  const QString holder_; // this Recorder's token in the station leases it takes
  std::unique_ptr<db::Connection> local_;
  std::deque<Record> unwritten_;
  bool localFailing_ = false;
  QTimer retry_;
  int retryMs_ = 0;

  // Shared with the worker thread, under mutex_.
  std::mutex mutex_;
  std::condition_variable drained_; // WaitForwarded waits here
  bool added_ = false;  // a record was written since the worker last looked
  quint64 written_ = 0; // records written by Add
  bool empty_ = false;  // the worker found the spool empty and nothing added since
  std::deque<std::pair<bool, QString>> notices_;
  // Set by Finish: no connection attempt may run past it.
  std::optional<std::chrono::steady_clock::time_point> finishBy_;
  std::atomic<bool> kicked_{false}; // a Forward task is queued

  std::unique_ptr<Forwarding> forwarding_; // the worker's thread only
  std::unique_ptr<StoreWorker> worker_;
  Replies replies_; // last: goes first
};

} // namespace records
