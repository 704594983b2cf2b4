#include "session/serial_numbers.h"

#include "records/serial_pool.h"

#include <QSysInfo>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace session {

// The store's side: one connection on a thread of its own, running posted
// tasks in order. Marks the store refused wait for the next task that reaches it.
class SerialNumbers::Store {
public:
  using Task = std::function<void(records::db::Connection &)>;
  Store(const records::StoreLocation &where, records::PoolStation station)
      : where_(where), station_(std::move(station)), thread_([this] { Run(); }) {}
  ~Store() {
    {
      std::lock_guard lock(mutex_);
      stop_ = true;
    }
    wake_.notify_all();
    thread_.join();
  }

  const records::PoolStation &Station() const { return station_; }

  void Post(Task task) {
    {
      std::lock_guard lock(mutex_);
      tasks_.push_back(std::move(task));
    }
    wake_.notify_all();
  }

  struct Mark {
    qint64 idx;
    QString state, value, unitUid;
  };
  // On the store's thread: every mark kept so far, then `mark`, in order;
  // false and the reason when the store refused one (it and the rest are kept).
  bool Flush(records::db::Connection &c, std::optional<Mark> mark, QString *error) {
    if (mark)
      marks_.push_back(std::move(*mark));
    while (!marks_.empty()) {
      const Mark &m = marks_.front();
      if (!records::MarkNumber(c, station_, m.idx, m.state, m.value, m.unitUid, error))
        return false;
      marks_.pop_front();
    }
    return true;
  }

private:
  void Run() {
    records::db::Connection c(where_, records::db::Connection::Target::Store, "serial");
    for (;;) {
      Task task;
      {
        std::unique_lock lock(mutex_);
        wake_.wait(lock, [&] { return stop_ || !tasks_.empty(); });
        if (tasks_.empty())
          return;
        task = std::move(tasks_.front());
        tasks_.pop_front();
      }
      task(c);
    }
  }

  const records::StoreLocation where_;
  const records::PoolStation station_;
  std::deque<Mark> marks_; // the store thread's only
  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<Task> tasks_;
  bool stop_ = false;
  std::thread thread_; // last: starts once the rest is made
};

SerialNumbers::SerialNumbers(const unit::SerialPlan &plan, const unit::ListFile &list,
                             const std::vector<image::AddressRange> &filled, const QString &jobName,
                             const records::StoreLocation &store, const QString &station, QObject *parent)
    : QObject(parent), plan_(plan), list_(list), filled_(filled) {
  if (plan_.Source() == unit::SerialSource::Barcode)
    return; // scanned, never drawn
  records::PoolStation s;
  s.pool = plan_.pool.isEmpty() ? jobName : plan_.pool;
  s.definition = unit::PoolDefinition(plan_, list_.sha256);
  s.size = plan_.Source() == unit::SerialSource::List ? list_.lines.size() : -1;
  s.host = QSysInfo::machineHostName();
  s.station = station;
  store_ = std::make_unique<Store>(store, s);
  // What a killed run of this station left is settled before its first block.
  store_->Post([this, store = store_.get()](records::db::Connection &c) {
    qint64 skipped = 0, failed = 0;
    QString error;
    if (!records::SkipLeftovers(c, store->Station(), &skipped, &failed, &error))
      QMetaObject::invokeMethod(
          this, [this, error] { emit Notice(QStringLiteral("cannot settle the serial numbers of a former run: ") + error); },
          Qt::QueuedConnection);
  });
}

std::unique_ptr<SerialNumbers> SerialNumbers::ForJob(const job::OpenedJob &opened, const records::StoreLocation &store,
                                                     const QStringList &ports) {
  if (!opened.job || !opened.job->serial)
    return nullptr;
  return std::make_unique<SerialNumbers>(*opened.job->serial, opened.list, opened.firmware.ranges, opened.job->name,
                                         store, Station(ports));
}

QString SerialNumbers::Station(const QStringList &ports) { return ports.join(QLatin1Char(',')); }

SerialNumbers::~SerialNumbers() {
  if (!store_)
    return;
  store_->Post([store = store_.get()](records::db::Connection &c) {
    QString error;
    qint64 skipped = 0;
    // Kept marks first: a number handed out must not end as skipped.
    if (store->Flush(c, std::nullopt, &error))
      records::ReleaseNumbers(c, store->Station(), &skipped, &error);
  });
  store_.reset();
}

void SerialNumbers::Scanned(int box, const QString &text) { scanned_[box] = text; }

void SerialNumbers::Provide(const UnitRequest &unit, std::function<void(UnitData)> done) {
  if (plan_.Source() != unit::SerialSource::Barcode) {
    waiting_.push_back({unit, std::move(done)});
    Serve();
    return;
  }
  UnitData data;
  const auto it = scanned_.find(unit.box);
  if (it == scanned_.end()) {
    data.refusal = QStringLiteral("no barcode was scanned for this unit");
  } else {
    const QString text = it->second;
    scanned_.erase(it);
    const unit::Field field = unit::ValueField(text);
    if (!QRegularExpression(QRegularExpression::anchoredPattern(plan_.barcodePattern)).match(text).hasMatch())
      data.refusal = QStringLiteral("the barcode \"%1\" does not match the job's pattern %2").arg(text, plan_.barcodePattern);
    else if (!field.refusal.isEmpty())
      data.refusal = field.refusal;
    else
      data.refusal = unit::PlaceRefusal(plan_.address, int(field.bytes.size()), filled_, plan_.overwrite);
    if (data.refusal.isEmpty()) {
      data.serial = text;
      data.patches = {{plan_.address, field.bytes}};
    }
  }
  done(std::move(data));
}

UnitData SerialNumbers::DataFor(qint64 idx, QString *text) {
  UnitData data;
  unit::Field field;
  if (plan_.Source() == unit::SerialSource::List) {
    field = unit::ValueField(list_.lines.value(idx));
  } else if (const auto value = unit::CounterValue(plan_, uint64_t(idx))) {
    field = unit::CounterField(plan_, *value);
  } else {
    field.refusal = QStringLiteral("the pool's next number runs past 32 bits");
  }
  data.refusal = field.refusal;
  if (data.refusal.isEmpty())
    data.refusal = unit::PlaceRefusal(plan_.address, int(field.bytes.size()), filled_, plan_.overwrite);
  if (data.refusal.isEmpty()) {
    data.serial = *text = field.text;
    data.patches = {{plan_.address, field.bytes}};
  }
  return data;
}

void SerialNumbers::Serve() {
  while (!waiting_.empty() && !reserve_.empty()) {
    const qint64 idx = reserve_.front();
    reserve_.pop_front();
    Waiting w = std::move(waiting_.front());
    waiting_.pop_front();
    QString text;
    UnitData data = DataFor(idx, &text);
    if (data.refusal.isEmpty()) {
      given_[w.unit.unitUid] = {idx, text};
      Mark(idx, records::kNumberAllocated, text, w.unit.unitUid);
    } else {
      // A number no board can carry is accounted for, never handed out.
      Mark(idx, records::kNumberSkipped, QString(), QString());
      exhausted_ = true; // every later number is as wide or wider
    }
    w.done(std::move(data));
  }
  if (exhausted_ || reserving_ || (waiting_.empty() && int(reserve_.size()) * 2 >= plan_.blockSize))
    return;
  reserving_ = true;
  const int count = plan_.blockSize;
  store_->Post([this, count, store = store_.get()](records::db::Connection &c) {
    std::vector<qint64> indexes;
    QString error;
    store->Flush(c, std::nullopt, &error);
    error.clear();
    if (!records::ReserveNumbers(c, store->Station(), count, &indexes, &error) && error.isEmpty())
      error = QStringLiteral("unknown database error");
    QMetaObject::invokeMethod(this, [this, indexes, error] { Reserved(indexes, error); }, Qt::QueuedConnection);
  });
}

void SerialNumbers::Reserved(const std::vector<qint64> &indexes, const QString &error) {
  reserving_ = false;
  if (error.isEmpty() && indexes.empty())
    exhausted_ = true;
  reserve_.insert(reserve_.end(), indexes.begin(), indexes.end());
  if (error.isEmpty() && !exhausted_) {
    Serve();
    return;
  }
  const QString why = !error.isEmpty() ? QStringLiteral("cannot draw a serial number from the store: ") + error
                                       : QStringLiteral("the serial-number pool \"%1\" has no number left")
                                             .arg(store_->Station().pool);
  std::deque<Waiting> refused;
  refused.swap(waiting_);
  for (Waiting &w : refused) {
    UnitData data;
    data.refusal = why;
    w.done(std::move(data));
  }
}

void SerialNumbers::UnitEnded(const UnitStatus &unit) {
  const auto it = given_.find(unit.unitUid);
  if (it == given_.end())
    return;
  const Given given = it->second;
  given_.erase(it);
  if (unit.state == UnitState::Pass) {
    Mark(given.idx, records::kNumberUsed, given.text, unit.unitUid);
  } else if (plan_.giveUpOnFail) {
    Mark(given.idx, records::kNumberFailed, given.text, unit.unitUid);
  } else {
    // Its failed board carries it; the next good one takes it over.
    reserve_.push_front(given.idx);
    Mark(given.idx, records::kNumberReserved, QString(), QString());
  }
}

void SerialNumbers::Mark(qint64 idx, const QString &state, const QString &value, const QString &unitUid) {
  store_->Post([this, store = store_.get(), m = Store::Mark{idx, state, value, unitUid}](records::db::Connection &c) {
    QString error;
    if (!store->Flush(c, m, &error))
      QMetaObject::invokeMethod(
          this, [this, error] { emit Notice(QStringLiteral("a serial number's state waits for the store: ") + error); },
          Qt::QueuedConnection);
  });
}

} // namespace session
