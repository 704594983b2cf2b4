#pragma once
// Reading the line (records/line.h) from a store: ReadLine on a connection of
// the calling thread, and LineReader, which reads for a window on a
// StoreWorker of its own and tells it when a PostgreSQL store changed.
//
// ReadLine asks two queries: the units that ended since LineSince, summed
// where alike, and those without a verdict, with their lots' counts and sizes
// (through the units' end index, so a read costs the day's units); then the
// messages of the stations' last failures. A store older than its unit rows
// is read from the units derived from its records (records/database.h).
//
// LineReader's threads: Read and the signals belong to the thread that made
// it; the queries and the listening run on its worker. On PostgreSQL a second
// connection of the worker, which runs no reads, listens on
// kUnitsChannel through Qt's driver notifications, and they are told as
// Changed: one call at a time, however many come while it is on its way. Before each read the listening
// connection is checked with a query of its own (a notification that query
// swallows is about a change the read that follows sees), and made again,
// listening anew, when the server went away. Destroying the reader waits for
// the read under way (one connection attempt, kConnectTimeoutS, at most).

#include "records/line.h"
#include "records/replies.h"
#include "records/store_location.h"

#include <QObject>
#include <atomic>
#include <memory>
#include <mutex>
#include <optional>

namespace records {

namespace db {
class Connection;
}
class StoreWorker;

// What a read brought.
struct LineRead {
  LineFigures line;
  QString error;     // why the store could not be read (the line is then empty)
  bool told = false; // the store's changes are being told: Changed will come
  QString untold;    // PostgreSQL, yet not told: why
  bool noRecords = false; // no station wrote to the store yet (it has no schema)
};

// The line at `now`, today having begun at `dayStart`; false and the
// database's message when the store cannot be read.
bool ReadLine(db::Connection &c, const QDateTime &now, const QDateTime &dayStart, LineFigures *line, QString *error);

class LineReader : public QObject {
  Q_OBJECT
public:
  explicit LineReader(const StoreLocation &where, QObject *parent = nullptr);
  ~LineReader() override;

  // Whether the store can tell its changes (PostgreSQL), so a view need not ask often.
  bool CanTell() const;
  // Reads the line at `now`; a read still waiting for the worker is replaced.
  void Read(const QDateTime &now, const QDateTime &dayStart);

signals:
  void Arrived(const records::LineRead &read);
  // A unit of some station started or ended.
  void Changed();

private:
  struct Request {
    QDateTime now, dayStart;
  };
  void RunNext();
  // On the worker: listening on the channel, (re)made as needed; false and why not.
  bool Listen(QString *error);

  const StoreLocation where_;
  std::mutex mutex_;
  std::optional<Request> pending_;
  bool driverConnected_ = false; // the worker's
  std::atomic<bool> changeQueued_{false}; // a Changed is on its way to the owner's thread
  std::unique_ptr<StoreWorker> worker_;
  Replies replies_; // last: goes first
};

} // namespace records
