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
// local commit (one disk sync, a few ms; at most kSqliteBusyMs more while
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

#include "records/record.h"
#include "records/replies.h"
#include "records/store_location.h"
#include "records/store_worker.h"

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

signals:
  void Warning(const QString &text);
  void Recovered(const QString &text);

private:
  struct Forwarding; // the worker's own state
  void WriteLocal();
  // Has the worker look at the spool (checkpoint, forward) soon.
  void Kick();
  void Forward();
  void Post(bool warning, const QString &text);
  void DeliverNotices();
  void StopWorker();

  const StoreLocation where_;
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
