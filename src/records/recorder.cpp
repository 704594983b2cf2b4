#include "records/recorder.h"
#include "records/database.h"
#include "records/serial_pool.h"
#include "records/unit_store.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QSqlDriver>
#include <QSqlQuery>
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
  qint64 opsSpooled = -1;  // unit ops in the spool; -1 until read
  // Units one of whose writes failed (job and uid), with the reason.
  std::map<QString, QString> unrecorded;
  // Each lot as the server counted it last.
  std::map<std::pair<QString, QString>, LotCounters> lastLot;
  struct Watcher {
    ReplyPort port;
    std::function<void(QString, QString)> changed;
  };
  std::vector<Watcher> watchers;
  bool listening = false;
  QMetaObject::Connection heard;
  QString lastError; // the last outage's text
  // Stations whose lease another live process holds, with who: their units
  // and numbers are refused here.
  std::map<QString, QString> refused;
  QTimer *renew = nullptr; // renews this Recorder's leases once it took one

  // An outage found: told once, tried again with back-off.
  void Outage(Recorder &r, const QString &error) {
    lastError = error;
    if (!failing) {
      failing = true;
      r.Post(true, error);
    }
    retryMs = NextRetry(retryMs);
    if (!retry) {
      retry = new QTimer(r.worker_->Context());
      retry->setSingleShot(true);
      QObject::connect(retry, &QTimer::timeout, retry, [&r] { r.Kick(); });
    }
    retry->start(retryMs);
  }
  void Reached(Recorder &r) {
    retryMs = 0;
    if (failing) {
      failing = false;
      r.Post(false, QStringLiteral("Production records reach %1 again.").arg(r.where_.Describe()));
    }
  }
};

namespace {

// Records and unit ops the spool still holds; -1 when it cannot be read.
qint64 Backlog(db::Connection &spool, QString *error) {
  QSqlQuery q;
  if (!spool.Open(error) ||
      !db::Run(spool,
               QStringLiteral("SELECT (SELECT COUNT(*) FROM programming_records) + (SELECT COUNT(*) FROM spool_ops)"),
               {}, error, &q) ||
      !q.next())
    return -1;
  return q.value(0).toLongLong();
}

QString Unreachable(const StoreLocation &where, const QString &error) {
  return QStringLiteral("Production records cannot reach %1 and are kept on this station: %2")
      .arg(where.Describe(), error);
}

QString UnitKey(const UnitRow &u) { return u.jobName + QChar(0x1F) + u.unitUid; }

QString StationKey(const QString &host, const QString &station) { return host + QChar(0x1F) + station; }

} // namespace

Recorder::Recorder(const StoreLocation &where, QObject *parent)
    : QObject(parent), where_(where), holder_(QUuid::createUuid().toString(QUuid::WithoutBraces)) {
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
  if (!worker_)
    return;
  // An orderly end gives the station's name back at once; a server out of
  // reach lets it lapse.
  worker_->Post([this] {
    if (!forwarding_->renew || (where_.kind == StoreLocation::Kind::Postgres && !ServerLikelyUp()))
      return;
    QString error;
    db::Connection &c = StoreConnection();
    if (!EndLeases(c, holder_, &error))
      c.Close();
  });
  worker_->Stop();
}

db::Connection &Recorder::StoreConnection() {
  const bool server = where_.kind == StoreLocation::Kind::Postgres;
  return worker_->Connection(where_, server ? db::Connection::Target::Store : db::Connection::Target::Spool,
                             server ? "forward" : "spool");
}

void Recorder::Claimed(const UnitOp &op, bool placed, const QString &error) {
  Forwarding &f = *forwarding_;
  const QString key = StationKey(op.host, op.station);
  if (!placed) {
    if (!f.refused.contains(key))
      Post(true, QStringLiteral("Production records: ") + error);
    f.refused[key] = error;
    return;
  }
  f.refused.erase(key);
  if (op.holder != holder_ || f.renew)
    return;
  f.renew = new QTimer(worker_->Context());
  QObject::connect(f.renew, &QTimer::timeout, f.renew, [this] {
    if (where_.kind == StoreLocation::Kind::Postgres && !ServerLikelyUp())
      return; // a lease not renewed through an outage lapses, as the station cannot be told from a dead one
    QString error;
    db::Connection &c = StoreConnection();
    if (!RenewLeases(c, holder_, &error))
      c.Close();
  });
  f.renew->start(kLeaseRenewMs);
}

bool Recorder::Settled(QString *error) {
  if (where_.kind != StoreLocation::Kind::Postgres)
    return true;
  Forwarding &f = *forwarding_;
  db::Connection &spool = worker_->Connection(where_, db::Connection::Target::Spool, "spool");
  for (qint64 before = -1;;) {
    const qint64 left = Backlog(spool, error);
    if (left < 0) {
      spool.Close();
      return false;
    }
    if (left == 0)
      return true;
    if (left == before || worker_->Stopping()) {
      *error = f.lastError.isEmpty() ? QStringLiteral("what this station spooled has not reached %1")
                                           .arg(where_.Describe())
                                     : f.lastError;
      return false;
    }
    before = left;
    Forward();
  }
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

// One task: a checkpoint when due, then one batch of the spool to the server:
// records first, then (none left) unit ops. Another batch follows as a task
// of its own, so that other work of the worker goes between; an outage arms
// the retry.
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
  std::vector<SpooledOp> ops;
  bool ok = spool.Oldest(int(kForwardBatch), &batch, &error) &&
            (!batch.empty() || SpooledUnitOps(spool, int(kForwardBatch), &ops, &error));
  if (ok && batch.empty()) {
    if (ops.size() < kForwardBatch)
      f.opsSpooled = qint64(ops.size());
    if (ops.empty()) {
      // Nothing is owed to the server, whether it is reachable or not.
      std::lock_guard lock(mutex_);
      if (!added_) {
        empty_ = true;
        drained_.notify_all();
      }
    }
  }
  if (!ok) {
    spool.Close();
    f.Outage(*this, QStringLiteral("Production records cannot read the spool %1: %2").arg(where_.sqlitePath, error));
    return;
  }
  {
    // A command line about to end starts no attempt that would keep it
    // waiting past its time, and bounds the others by what is left.
    std::lock_guard lock(mutex_);
    if (finishBy_) {
      const auto left = std::chrono::duration_cast<std::chrono::seconds>(*finishBy_ - std::chrono::steady_clock::now());
      if ((batch.empty() && ops.empty()) || left.count() < db::kLeastConnectTimeoutS)
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
  // Each op in order, in a transaction of its own; those the server took leave the spool.
  size_t applied = 0;
  while (ok && applied < ops.size()) {
    const UnitOp &op = ops[applied].op;
    bool placed = true;
    QString refusal;
    ok = ApplyUnitOp(server, op, false, &placed, op.kind == UnitOp::Kind::Settle ? &refusal : &error);
    if (!ok && op.kind == UnitOp::Kind::Settle)
      error = refusal;
    else if (ok && op.kind == UnitOp::Kind::Settle)
      Claimed(op, placed, refusal);
    applied += ok ? 1 : 0;
  }
  if (!ok)
    server.Close();
  QString spoolError;
  if (!batch.empty() && ok && !spool.DeleteByUid(batch, &spoolError))
    ok = false;
  if (applied > 0) {
    const std::vector<SpooledOp> taken(ops.begin(), ops.begin() + qsizetype(applied));
    if (DeleteSpooledUnitOps(spool, taken, &spoolError))
      f.opsSpooled = std::max<qint64>(0, f.opsSpooled - qint64(applied));
    else
      ok = false; // the server has them; applying them again changes nothing
  }
  if (!spoolError.isEmpty()) {
    spool.Close();
    f.Outage(*this, QStringLiteral("Production records cannot update the spool %1: %2").arg(where_.sqlitePath, spoolError));
    return;
  }
  if (!ok) {
    f.Outage(*this, Unreachable(where_, error));
    return;
  }
  f.Reached(*this);
  Listen();
  if (!batch.empty() || !ops.empty())
    Kick();
}

bool Recorder::ServerLikelyUp() const { return !forwarding_->failing; }

Recorder::UnitAnswer Recorder::ApplyUnit(const UnitOp &asked) {
  Forwarding &f = *forwarding_;
  UnitAnswer a;
  UnitOp op = asked;
  const QString key = UnitKey(op.unit);
  QString earlier;
  if (op.kind == UnitOp::Kind::End) {
    if (const auto it = f.unrecorded.find(key); it != f.unrecorded.end()) {
      // A unit with a record missing is no pass, and no failure either.
      earlier = it->second;
      f.unrecorded.erase(it);
      op.unit.verdict = kVerdictInterrupted;
      op.unit.result = QStringLiteral("interrupted");
      for (NumberChange &n : op.numbers)
        if (n.state == kNumberUsed)
          n.state = kNumberFailed;
    }
  }
  // Nothing of a station another live process holds: not even a unit that
  // never started, which would count in the lot under that station's name.
  if (op.kind != UnitOp::Kind::Settle) {
    const auto it = op.kind == UnitOp::Kind::Numbers
                        ? (op.numbers.empty() ? f.refused.end()
                                              : f.refused.find(StationKey(op.numbers[0].host, op.numbers[0].station)))
                        : f.refused.find(StationKey(op.unit.host, op.unit.station));
    if (it != f.refused.end()) {
      a.error = it->second;
      if (op.kind != UnitOp::Kind::End)
        f.unrecorded[key] = a.error;
      return a;
    }
  }
  QString error;
  db::Connection &spool = worker_->Connection(where_, db::Connection::Target::Spool, "spool");
  if (where_.kind != StoreLocation::Kind::Postgres) {
    a.durable = ApplyUnitOp(spool, op, true, &a.placed, &error);
    if (a.durable && op.kind == UnitOp::Kind::Settle) {
      Claimed(op, a.placed, error);
      a.error = a.placed ? QString() : error;
    }
    if (!a.durable) {
      spool.Close();
      a.error = QStringLiteral("Production records cannot be written to %1: %2").arg(where_.sqlitePath, error);
    }
  } else {
    if (f.opsSpooled < 0) {
      std::vector<SpooledOp> all;
      if (SpooledUnitOps(spool, 0, &all, &error))
        f.opsSpooled = qint64(all.size());
    }
    bool done = false;
    // Straight to the server only while nothing waits in the spool: ops stay in order.
    if (f.opsSpooled == 0 && ServerLikelyUp()) {
      db::Connection &server = worker_->Connection(where_, db::Connection::Target::Store, "forward");
      done = server.Open(&error) && ApplyUnitOp(server, op, true, &a.placed, &error);
      if (!done) {
        server.Close();
        f.Outage(*this, Unreachable(where_, error));
      } else if (op.kind == UnitOp::Kind::Settle) {
        Claimed(op, a.placed, error);
        a.error = a.placed ? QString() : error;
      }
    }
    if (!done && op.kind == UnitOp::Kind::Start && op.lotSize > 0 && !op.unit.jobName.isEmpty()) {
      // The places as last read, and what this station spooled since.
      LotCounters places = f.lastLot[{op.unit.jobName, op.unit.lot}];
      std::vector<SpooledOp> all;
      SpooledUnitOps(spool, 0, &all, &error);
      AddSpooled(all, op.unit.jobName, op.unit.lot, &places);
      if (places.passed + places.running >= op.lotSize) {
        a.placed = false;
        done = true;
      }
    }
    if (done) {
      a.durable = true;
    } else if (SpoolUnitOp(spool, op, &error)) {
      a.durable = true;
      f.opsSpooled = std::max<qint64>(f.opsSpooled, 0) + 1;
      {
        std::lock_guard lock(mutex_);
        empty_ = false;
      }
      Kick();
    } else {
      spool.Close();
      a.error = QStringLiteral("Production records cannot be written to the spool %1: %2").arg(where_.sqlitePath, error);
    }
  }
  if (!a.durable && op.kind != UnitOp::Kind::End)
    f.unrecorded[key] = a.error;
  if (a.durable && !earlier.isEmpty()) {
    a.durable = false;
    a.error = earlier;
  }
  return a;
}

Recorder::UnitAnswer Recorder::ApplyStep(const Record &r) {
  UnitAnswer a;
  QString error;
  db::Connection &c = worker_->Connection(where_, db::Connection::Target::Spool, "spool");
  a.durable = c.Insert({&r, 1}, &error);
  if (!a.durable) {
    c.Close();
    a.error = QStringLiteral("Production records cannot be written to %1: %2").arg(where_.sqlitePath, error);
    forwarding_->unrecorded[r.jobName + QChar(0x1F) + r.unitUid] = a.error;
    return a;
  }
  {
    std::lock_guard lock(mutex_);
    added_ = true;
    empty_ = false;
    ++written_;
  }
  Kick();
  return a;
}

Recorder::LotAnswer Recorder::ReadLotNow(const QString &job, const QString &lot) {
  Forwarding &f = *forwarding_;
  LotAnswer a;
  QString error;
  const QDateTime now = QDateTime::currentDateTimeUtc();
  db::Connection &spool = worker_->Connection(where_, db::Connection::Target::Spool, "spool");
  if (where_.kind != StoreLocation::Kind::Postgres) {
    if (!ReadLot(spool, job, lot, now, &a.counters, &error)) {
      spool.Close();
      a.current = false;
      a.error = error;
    }
    return a;
  }
  db::Connection &server = worker_->Connection(where_, db::Connection::Target::Store, "forward");
  LotCounters &last = f.lastLot[{job, lot}];
  if (ServerLikelyUp() && server.Open(&error) && ReadLot(server, job, lot, now, &last, &error)) {
    Listen();
  } else {
    server.Close();
    a.current = false;
    a.error = Unreachable(where_, error);
  }
  a.counters = last;
  std::vector<SpooledOp> all;
  if (SpooledUnitOps(spool, 0, &all, &error))
    AddSpooled(all, job, lot, &a.counters);
  return a;
}

void Recorder::Listen() {
  Forwarding &f = *forwarding_;
  if (f.watchers.empty() || where_.kind != StoreLocation::Kind::Postgres)
    return;
  db::Connection &c = worker_->Connection(where_, db::Connection::Target::Store, "listen");
  QString error;
  // A connection dropped by a server restart is found by a question.
  if (f.listening && c.Exec(QStringLiteral("SELECT 1"), &error))
    return;
  f.listening = false;
  c.Close();
  if (!c.Open(&error))
    return;
  QSqlDriver *driver = c.Database().driver();
  if (!driver->subscribeToNotification(kUnitsChannel)) {
    c.Close();
    return;
  }
  QObject::disconnect(f.heard);
  f.heard = QObject::connect(driver, &QSqlDriver::notification, worker_->Context(),
                             [this](const QString &, QSqlDriver::NotificationSource, const QVariant &payload) {
                               const QStringList parts = payload.toString().split(QChar(0x1F));
                               if (parts.size() != 2)
                                 return;
                               std::erase_if(forwarding_->watchers, [&](const Forwarding::Watcher &w) {
                                 return !w.port.Send([w, parts] { w.changed(parts[0], parts[1]); });
                               });
                             });
  f.listening = true;
}

void Recorder::WriteUnit(const UnitOp &op, const ReplyPort &port, std::function<void(UnitAnswer)> done) {
  UnitOp filled = op;
  if (filled.unit.host.isEmpty())
    filled.unit.host = QSysInfo::machineHostName();
  if (filled.kind == UnitOp::Kind::Settle && filled.holder.isEmpty()) {
    filled.holder = holder_;
    filled.pid = QCoreApplication::applicationPid();
    filled.boot = QString::fromLatin1(QSysInfo::bootUniqueId());
    filled.since = QDateTime::currentDateTimeUtc();
  }
  if (!worker_ || !worker_->Post([this, filled, port, done] {
        const UnitAnswer a = ApplyUnit(filled);
        port.Send([done, a] { done(a); });
      }))
    port.Send([done] { done({false, true, OffText()}); });
}

void Recorder::WriteStep(Record r, const ReplyPort &port, std::function<void(UnitAnswer)> done) {
  if (r.recordUid.isEmpty())
    r.recordUid = QUuid::createUuid().toString(QUuid::WithoutBraces);
  if (r.host.isEmpty())
    r.host = QSysInfo::machineHostName();
  if (!worker_ || !worker_->Post([this, r, port, done] {
        const UnitAnswer a = ApplyStep(r);
        port.Send([done, a] { done(a); });
      }))
    port.Send([done] { done({false, true, OffText()}); });
}

void Recorder::Probe(const ReplyPort &port, std::function<void(UnitAnswer)> done) {
  if (!worker_ || !worker_->Post([this, port, done] {
        UnitAnswer a;
        QString error;
        db::Connection &c = worker_->Connection(where_, db::Connection::Target::Spool, "spool");
        a.durable = ProbeWrite(c, &error);
        if (!a.durable) {
          c.Close();
          a.error = QStringLiteral("Production records cannot be written to %1: %2").arg(where_.sqlitePath, error);
        }
        port.Send([done, a] { done(a); });
      }))
    port.Send([done] { done({false, true, OffText()}); });
}

void Recorder::CountLot(const QString &job, const QString &lot, const ReplyPort &port,
                        std::function<void(LotAnswer)> done) {
  if (!worker_ || !worker_->Post([this, job, lot, port, done] {
        const LotAnswer a = ReadLotNow(job, lot);
        port.Send([done, a] { done(a); });
      }))
    port.Send([done] { done({{}, false, OffText()}); });
}

void Recorder::WatchUnits(const ReplyPort &port, std::function<void(QString, QString)> changed) {
  if (!worker_ || where_.kind != StoreLocation::Kind::Postgres)
    return;
  worker_->Post([this, port, changed] {
    forwarding_->watchers.push_back({port, changed});
    if (ServerLikelyUp())
      Listen();
  });
}

void Recorder::OnStore(const QString &host, const QString &station,
                       std::function<void(db::Connection &, const QString &)> task) {
  if (!worker_)
    return;
  worker_->Post([this, host, station, task] {
    QString unsettled;
    if (const auto it = forwarding_->refused.find(StationKey(host, station)); it != forwarding_->refused.end())
      unsettled = it->second;
    else
      Settled(&unsettled);
    task(StoreConnection(), unsettled);
  });
}

} // namespace records
