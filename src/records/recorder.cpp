#include "records/recorder.h"
#include "records/database.h"

#include <QDir>
#include <QFileInfo>
#include <QSysInfo>
#include <QUuid>

namespace records {

namespace {

constexpr int kFirstRetryMs = 1000;
constexpr int kLastRetryMs = 30000;
constexpr size_t kForwardBatch = 200;
// Records between two copies of the SQLite log into its file.
constexpr quint64 kCheckpointEvery = 100;

int NextRetry(int ms) { return ms ? std::min(ms * 2, kLastRetryMs) : kFirstRetryMs; }

// A notice for each spool beside `where`'s that still holds records for
// another destination: they wait for a run that names their own store.
QStringList OtherSpools(const StoreLocation &where) {
  QStringList notices;
  const QFileInfo own(where.sqlitePath);
  const QFileInfoList spools =
      QDir(own.absolutePath()).entryInfoList({QStringLiteral("spool*.sqlite")}, QDir::Files, QDir::Name);
  for (const QFileInfo &file : spools) {
    if (file.absoluteFilePath() == own.absoluteFilePath())
      continue;
    StoreLocation other;
    other.kind = StoreLocation::Kind::Sqlite;
    other.sqlitePath = file.absoluteFilePath();
    db::Connection c(other, db::Connection::Target::Store, "other-spool");
    c.ReadOnly();
    qint64 rows = 0;
    QString destination;
    QString error;
    if (!c.SpoolContents(&rows, &destination, &error) || rows == 0 || destination == where.Describe())
      continue;
    notices << (destination.isEmpty()
                    ? QStringLiteral("Production records of a store that was not noted with them wait in %1: %2 "
                                     "of them.")
                          .arg(other.sqlitePath, QString::number(rows))
                    : QStringLiteral("Production records for %1 still wait in %2: %3 of them, forwarded when a "
                                     "run records to %1 again.")
                          .arg(destination, other.sqlitePath, QString::number(rows)));
  }
  return notices;
}

} // namespace

// What the worker keeps between its tasks.
struct Recorder::Forwarding {
  quint64 checkpointed = 0;
  int retryMs = 0;
  bool failing = false;
  QTimer *retry = nullptr; // made on the worker's thread at the first outage
};

Recorder::Recorder(const StoreLocation &where, QObject *parent) : QObject(parent), where_(where) {
  retry_.setSingleShot(true);
  connect(&retry_, &QTimer::timeout, this, [this] { WriteLocal(); });
  if (where_.kind == StoreLocation::Kind::Off)
    return;
  local_ = std::make_unique<db::Connection>(where_, db::Connection::Target::Spool, "recorder");
  local_->LeaveCheckpoints();
  local_->SetBusyTimeout(db::kSqliteQuickBusyMs);
  // Opened now, so that a store that cannot be written is told at start
  // rather than after the first operation.
  QString error;
  if (!local_->Open(&error)) {
    localFailing_ = true;
    local_->Close();
    Post(true, QStringLiteral("Production records cannot be written to %1: %2").arg(where_.sqlitePath, error));
  }
  forwarding_ = std::make_unique<Forwarding>();
  worker_ = std::make_unique<StoreWorker>(QStringLiteral("kavrin-records"));
  if (where_.kind == StoreLocation::Kind::Postgres)
    worker_->Post([this] {
      for (const QString &text : OtherSpools(where_))
        Post(true, text);
    });
  Kick();
}

Recorder::~Recorder() { StopWorker(); }

void Recorder::StopWorker() {
  if (worker_)
    worker_->Stop();
}

void Recorder::Kick() {
  if (worker_ && !kicked_.exchange(true) && !worker_->Post([this] { Forward(); }))
    kicked_ = false;
}

void Recorder::Add(Record r) noexcept {
  if (!local_)
    return;
  try {
    if (r.recordUid.isEmpty())
      r.recordUid = QUuid::createUuid().toString(QUuid::WithoutBraces);
    if (r.host.isEmpty())
      r.host = QSysInfo::machineHostName();
    unwritten_.push_back(std::move(r));
    WriteLocal();
  } catch (...) {
    // Recording never changes an operation's outcome.
  }
}

void Recorder::WriteLocal() {
  QString error;
  quint64 written = 0;
  while (!unwritten_.empty() && local_->Insert({&unwritten_.front(), 1}, &error)) {
    unwritten_.pop_front();
    ++written;
  }
  if (written) {
    {
      std::lock_guard lock(mutex_);
      added_ = true;
      empty_ = false;
      written_ += written;
    }
    Kick();
  }
  if (unwritten_.empty()) {
    retry_.stop();
    retryMs_ = 0;
    if (localFailing_) {
      localFailing_ = false;
      emit Recovered(QStringLiteral("Production records are written to %1 again.").arg(where_.sqlitePath));
    }
    return;
  }
  // A fresh connection on the next try: the file may have been moved back.
  local_->Close();
  retryMs_ = NextRetry(retryMs_);
  retry_.start(retryMs_);
  if (!localFailing_) {
    localFailing_ = true;
    emit Warning(QStringLiteral("Production records cannot be written to %1: %2").arg(where_.sqlitePath, error));
  }
}

bool Recorder::WaitForwarded(int timeoutMs) {
  if (!local_)
    return true;
  if (!unwritten_.empty())
    WriteLocal();
  DeliverNotices();
  if (!unwritten_.empty())
    return false;
  if (where_.kind != StoreLocation::Kind::Postgres)
    return true;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  std::unique_lock lock(mutex_);
  if (!empty_) {
    added_ = true; // try the server now rather than at the end of a back-off
    lock.unlock();
    Kick();
    lock.lock();
  }
  for (;;) {
    drained_.wait_until(lock, deadline, [this] { return empty_ || !notices_.empty(); });
    if (notices_.empty())
      return empty_;
    // Told while waiting: a command line may end before its event loop runs again.
    lock.unlock();
    DeliverNotices();
    lock.lock();
  }
}

bool Recorder::Finish(int timeoutMs) {
  if (!local_)
    return true;
  {
    std::lock_guard lock(mutex_);
    finishBy_ = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  }
  const bool forwarded = WaitForwarded(timeoutMs);
  StopWorker();
  DeliverNotices();
  return forwarded;
}

void Recorder::Post(bool warning, const QString &text) {
  {
    std::lock_guard lock(mutex_);
    notices_.emplace_back(warning, text);
  }
  drained_.notify_all();
  replies_.Port().Send([this] { DeliverNotices(); });
}

void Recorder::DeliverNotices() {
  std::deque<std::pair<bool, QString>> notices;
  {
    std::lock_guard lock(mutex_);
    notices.swap(notices_);
  }
  for (const auto &[warning, text] : notices) {
    if (warning)
      emit Warning(text);
    else
      emit Recovered(text);
  }
}

// One task: a checkpoint when due, then one batch of the spool to the server.
// Another batch follows as a task of its own, so that other work of the
// worker goes between; an outage arms the retry.
void Recorder::Forward() {
  kicked_ = false;
  Forwarding &f = *forwarding_;
  if (f.retry)
    f.retry->stop();
  db::Connection &spool = worker_->Connection(where_, db::Connection::Target::Spool, "spool");
  quint64 written = 0;
  {
    std::lock_guard lock(mutex_);
    added_ = false;
    written = written_;
  }
  QString error;
  // A failed copy is tried again after the next records; SQLite also copies
  // when the last connection closes.
  if (written - f.checkpointed >= kCheckpointEvery && spool.Checkpoint(&error))
    f.checkpointed = written;
  if (where_.kind != StoreLocation::Kind::Postgres || worker_->Stopping())
    return;
  db::Connection &server = worker_->Connection(where_, db::Connection::Target::Store, "forward");
  std::vector<Record> batch;
  bool ok = spool.Oldest(int(kForwardBatch), &batch, &error);
  if (ok && batch.empty()) {
    // Nothing is owed to the server, whether it is reachable or not.
    std::lock_guard lock(mutex_);
    if (!added_) {
      empty_ = true;
      drained_.notify_all();
    }
  }
  if (!ok) {
    spool.Close();
    error = QStringLiteral("Production records cannot read the spool %1: %2").arg(where_.sqlitePath, error);
  } else {
    {
      // A command line about to end starts no attempt that would keep it
      // waiting past its time, and bounds the others by what is left.
      std::lock_guard lock(mutex_);
      if (finishBy_) {
        const auto left =
            std::chrono::duration_cast<std::chrono::seconds>(*finishBy_ - std::chrono::steady_clock::now());
        if (batch.empty() || left.count() < db::kLeastConnectTimeoutS)
          return;
        server.SetConnectTimeout(std::min<int>(int(left.count()), db::kConnectTimeoutS));
      }
    }
    // A connection kept open while idle may have been dropped by a server
    // restart: one fresh attempt before calling the server unreachable.
    const bool reused = server.IsOpen();
    ok = server.Open(&error) && (batch.empty() || server.Insert(batch, &error));
    if (!ok && reused) {
      server.Close();
      ok = server.Open(&error) && (batch.empty() || server.Insert(batch, &error));
    }
    if (!ok) {
      server.Close();
      error = QStringLiteral("Production records cannot reach %1 and are kept on this station: %2")
                  .arg(where_.Describe(), error);
    } else if (!batch.empty() && !spool.DeleteByUid(batch, &error)) {
      // The server has them; sending them again later is harmless.
      ok = false;
      spool.Close();
      error = QStringLiteral("Production records cannot update the spool %1: %2").arg(where_.sqlitePath, error);
    }
  }
  if (ok) {
    f.retryMs = 0;
    if (f.failing) {
      f.failing = false;
      Post(false, QStringLiteral("Production records reach %1 again.").arg(where_.Describe()));
    }
    if (!batch.empty())
      Kick();
    return;
  }
  if (!f.failing) {
    f.failing = true;
    Post(true, error);
  }
  f.retryMs = NextRetry(f.retryMs);
  if (!f.retry) {
    f.retry = new QTimer(worker_->Context());
    f.retry->setSingleShot(true);
    QObject::connect(f.retry, &QTimer::timeout, f.retry, [this] { Kick(); });
  }
  f.retry->start(f.retryMs);
}

} // namespace records
