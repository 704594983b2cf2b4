#pragma once
// StoreWorker: the one way the record store's work leaves the caller's
// thread. A thread of its own with an event loop runs the tasks posted to it,
// one after another in the order they came, and owns the database
// connections they use (Qt SQL ties a connection to the thread that made it).
//
// Threads: Post may be called from any thread. Connection() and Context()
// only from a task. Answers go back to the caller's thread through a
// ReplyPort (records/replies.h), never by a queued call that owns anything.
//
// Stopping, one rule: Stop (and the destructor) lets every task posted before
// it run, then ends the thread and joins it; a task posted later is dropped,
// and a timer a task armed (a retry) dies with the thread unfired. A task
// that waits (a connection attempt, a SQLite lock) holds the stop up that
// long, so long waits check Stopping() first.
//
// Ownership: the connections are made on the worker's thread when first
// asked for and closed there when it ends.

#include "records/database.h"

#include <QObject>
#include <QString>
#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <mutex>

class QThread;

namespace records {

class StoreWorker {
public:
  explicit StoreWorker(const QString &name);
  ~StoreWorker();
  StoreWorker(const StoreWorker &) = delete;
  StoreWorker &operator=(const StoreWorker &) = delete;

  // Runs `task` on the worker's thread after every task posted before it;
  // false (and the task dropped) once Stop was called.
  bool Post(std::function<void()> task);
  // Drains the queue, then joins the thread. Idempotent.
  void Stop();
  // True once Stop was called: a task may skip work nobody waits for.
  bool Stopping() const { return stopping_.load(); }

  // In a task: the worker's connection for `purpose` (one per purpose, made
  // on first use with these settings, kept until the worker ends).
  db::Connection &Connection(const StoreLocation &where, db::Connection::Target target, const char *purpose,
                             bool readOnly = false);
  // In a task: an object of the worker's thread, to parent timers to.
  QObject *Context() const { return context_; }
  bool OnWorkerThread() const;

private:
  class Thread;
  friend class Thread;

  std::unique_ptr<Thread> thread_;
  QObject *context_ = nullptr; // lives on the worker's thread, deleted there at its end
  std::map<std::string, std::unique_ptr<db::Connection>> connections_; // the worker's thread only
  std::mutex mutex_;                                                    // Post against Stop
  std::atomic<bool> stopping_{false};
};

} // namespace records
