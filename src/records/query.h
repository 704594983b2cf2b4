#pragma once
// Reading records back: a filter, synchronous reads for the command line and
// the export, and AsyncReader, which runs them on a worker thread for the window.

#include "records/record.h"
#include "records/replies.h"
#include "records/store_location.h"

#include <QObject>
#include <atomic>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

Q_MOC_INCLUDE("records/yield.h")

namespace records {

struct YieldChart;

// A row's place in the newest-first order: (finished_at, id) descending.
struct PageKey {
  QDateTime finishedAt;
  qint64 id = 0;
};
PageKey KeyOf(const Record &r);

struct Filter {
  std::optional<QDateTime> since{}; // finished at or after
  std::optional<QDateTime> until{}; // finished before
  QString result{};                 // one of kResults; empty: any
  QString fileContains{};           // part of file_path, case-insensitive (ASCII); empty: any
  std::optional<PageKey> before{};  // only rows after this one in the order: the next page
  int limit = 0;                    // 0: every row
  QString job{};                    // only this job's records; empty: any
  QString lot{};                    // only this lot's records; empty: any
  QString serial{};                 // only the records of the unit with this serial number; empty: any
  QString host{};                   // only the records made on this host; empty: any
  QStringList stations{};           // only the records of these stations (ports as chosen); empty: any
};

// Newest first. Opens a connection of the calling thread for the call that
// only reads: a store that does not exist is an error, never made; for
// PostgreSQL it reads the server, not the spool. Empty and *error set when
// the store cannot be read.
std::vector<Record> Query(const StoreLocation &where, const Filter &f, QString *error);

// Why reading the store goes otherwise than usual (a SQLite store read as it
// stands, its lock files impossible to make); empty when it does not, or when
// the store cannot be opened at all (the reads say why).
QString ReadingNote(const StoreLocation &where);

// Every row the filter matches, newest first, read page by page so that memory
// stays small; `each` returns false to stop. False and *error on a failure.
bool ForEach(const StoreLocation &where, const Filter &f, const std::function<bool(const Record &)> &each,
             QString *error);

// Writes the matching rows as CSV to `path`, replacing it only when the whole
// export succeeded. *count gets the rows written. `cancel` (may be null) is
// checked between pages.
bool ExportCsv(const StoreLocation &where, const Filter &f, const QString &path, qint64 *count, QString *error,
               const std::atomic<bool> *cancel = nullptr);

class StoreWorker;

// Runs queries, charts and exports on a StoreWorker of its own with its own
// connection, and delivers the outcome on the thread that made it through
// Fetched/Exported, queued (nothing is delivered from inside Fetch or Export).
// Requests run in order; a Fetch that is still waiting is replaced by a newer
// one. Destroying the reader cancels an export between pages and waits for
// the worker, which is at most one page of a query (or one connection
// attempt, 5 s at most).
class AsyncReader : public QObject {
  Q_OBJECT
public:
  explicit AsyncReader(const StoreLocation &where, QObject *parent = nullptr);
  ~AsyncReader() override;

  // Each returns the ticket its outcome will carry.
  int Fetch(const Filter &f);
  int Export(const Filter &f, const QString &path);
  // The yield chart of the filter's range, job and lot (ChartFigures); a
  // chart still waiting is replaced by a newer one.
  int Chart(const Filter &f);

signals:
  void Fetched(int ticket, const std::vector<records::Record> &rows, const QString &error);
  void Exported(int ticket, qint64 count, const QString &error);
  void Charted(int ticket, const records::YieldChart &chart, const QString &error);

private:
  enum class Kind { Fetch, Export, Chart };
  struct Request {
    int ticket;
    Kind kind;
    Filter filter;
    QString exportPath;
  };
  struct Outcome {
    int ticket;
    Kind kind;
    std::vector<Record> rows;
    qint64 count;
    QString error;
    std::shared_ptr<YieldChart> chart;
  };
  int Ask(Kind kind, const Filter &f, const QString &path);
  // On the worker: the oldest request still wanted.
  void RunNext();
  void Deliver(const Outcome &outcome);

  const StoreLocation where_;
  int nextTicket_ = 1;
  std::mutex mutex_;
  std::deque<Request> requests_;
  std::atomic<bool> cancel_{false};
  std::unique_ptr<StoreWorker> worker_;
  Replies replies_; // last: goes first
};

} // namespace records
