#include "session/serial_numbers.h"

#include "records/recorder.h"

#include <QSysInfo>

namespace session {

SerialNumbers::SerialNumbers(const numbering::SerialPlan &plan, const numbering::ListFile &list,
                             const std::vector<image::AddressRange> &filled, const QString &jobName,
                             records::Recorder *recorder, const QString &station, QObject *parent)
    : QObject(parent), plan_(plan), list_(list), filled_(filled), recorder_(recorder) {
  station_.pool = plan_.pool.isEmpty() ? jobName : plan_.pool;
  station_.definition = numbering::PoolDefinition(plan_, list_.sha256);
  station_.size = plan_.Source() == numbering::SerialSource::List ? list_.lines.size()
                                                             : qint64(std::min<uint64_t>(numbering::CounterCount(plan_),
                                                                                         uint64_t(INT64_MAX)));
  station_.host = QSysInfo::machineHostName();
  station_.station = station;
  if (!recorder_ || plan_.Source() == numbering::SerialSource::Barcode)
    return;
  // The station is claimed before its first draw: what a dead run of it left
  // is settled then, and a live one's numbers are never touched.
  records::UnitOp claim;
  claim.kind = records::UnitOp::Kind::Settle;
  claim.host = station_.host;
  claim.station = station_.station;
  recorder_->WriteUnit(claim, replies_.Port(), [](records::Recorder::UnitAnswer) {});
}

std::unique_ptr<SerialNumbers> SerialNumbers::ForJob(const job::OpenedJob &opened, records::Recorder *recorder,
                                                     const QStringList &ports) {
  if (!opened.job || !opened.job->serial)
    return nullptr;
  return std::make_unique<SerialNumbers>(*opened.job->serial, opened.list, opened.firmware.ranges, opened.job->name,
                                         recorder, Station(ports));
}

QString SerialNumbers::Station(const QStringList &ports) { return ports.join(QLatin1Char(',')); }

SerialNumbers::~SerialNumbers() {
  if (!recorder_ || reserve_.empty())
    return;
  // The block's rest goes back for the next station to take.
  records::UnitOp op;
  op.kind = records::UnitOp::Kind::Numbers;
  for (const qint64 idx : reserve_)
    op.numbers.push_back(Change(idx, records::kNumberFree, QString(), QString()));
  recorder_->WriteUnit(op, replies_.Port(), [](records::Recorder::UnitAnswer) {});
}

records::NumberChange SerialNumbers::Change(qint64 idx, const QString &state, const QString &value,
                                            const QString &unitUid) const {
  return {station_.pool, idx, station_.host, station_.station, state, value, unitUid};
}

void SerialNumbers::Scanned(int box, const QString &text) { scanned_[box] = text; }

void SerialNumbers::Provide(const UnitRequest &unit, std::function<void(UnitData)> done) {
  if (plan_.Source() != numbering::SerialSource::Barcode) {
    drawFailed_ = false;
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
    const numbering::Field field = numbering::ValueField(text);
    if (!QRegularExpression(QRegularExpression::anchoredPattern(plan_.barcodePattern)).match(text).hasMatch())
      data.refusal = QStringLiteral("the barcode \"%1\" does not match the job's pattern %2").arg(text, plan_.barcodePattern);
    else if (!field.refusal.isEmpty())
      data.refusal = field.refusal;
    else
      data.refusal = numbering::PlaceRefusal(plan_.address, int(field.bytes.size()), filled_, plan_.overwrite);
    if (data.refusal.isEmpty()) {
      data.serial = text;
      data.patches = {{plan_.address, field.bytes}};
    }
  }
  done(std::move(data));
}

UnitData SerialNumbers::DataFor(qint64 idx, QString *text) {
  UnitData data;
  numbering::Field field;
  if (plan_.Source() == numbering::SerialSource::List) {
    field = numbering::ValueField(list_.lines.value(idx));
  } else if (const auto value = numbering::CounterValue(plan_, uint64_t(idx))) {
    field = numbering::CounterField(plan_, *value);
  } else {
    field.refusal = QStringLiteral("the pool's next number runs past 32 bits");
  }
  data.refusal = field.refusal;
  if (data.refusal.isEmpty())
    data.refusal = numbering::PlaceRefusal(plan_.address, int(field.bytes.size()), filled_, plan_.overwrite);
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
      data.number = Change(idx, records::kNumberAllocated, text, w.unit.unitUid);
    } else {
      // A number no board can carry is accounted for, never handed out.
      records::UnitOp op;
      op.kind = records::UnitOp::Kind::Numbers;
      op.numbers.push_back(Change(idx, records::kNumberSkipped, QString(), QString()));
      recorder_->WriteUnit(op, replies_.Port(), [](records::Recorder::UnitAnswer) {});
    }
    w.done(std::move(data));
  }
  if (reserving_)
    return;
  if (!waiting_.empty() && exhausted_) {
    // Nothing will come: every waiting unit is refused now, and so is each later one.
    Refuse(QStringLiteral("the serial-number pool \"%1\" has no number left").arg(station_.pool));
    return;
  }
  // A block ahead, drawn when half is used; after a failed draw, when a unit asks.
  if (exhausted_ || drawFailed_ || (waiting_.empty() && int(reserve_.size()) * 2 >= plan_.blockSize))
    return;
  reserving_ = true;
  const int count = plan_.blockSize;
  recorder_->OnStore(station_.host, station_.station,
                     [count, station = station_, port = replies_.Port(), this](records::db::Connection &c,
                                                                               const QString &unsettled) {
                       QString error = unsettled;
                       std::vector<qint64> indexes;
                       if (error.isEmpty() && !records::ReserveNumbers(c, station, count, &indexes, &error) &&
                           error.isEmpty())
                         error = QStringLiteral("unknown database error");
                       if (!error.isEmpty() && unsettled.isEmpty())
                         c.Close(); // a server away is tried afresh next time
                       port.Send([this, indexes, error] { Reserved(indexes, error); });
                     });
}

void SerialNumbers::Refuse(const QString &why, bool stationFault) {
  std::deque<Waiting> refused;
  refused.swap(waiting_);
  for (Waiting &w : refused) {
    UnitData data;
    data.refusal = why;
    data.stationFault = stationFault;
    w.done(std::move(data));
  }
}

void SerialNumbers::Reserved(const std::vector<qint64> &indexes, const QString &error) {
  reserving_ = false;
  if (!error.isEmpty()) {
    drawFailed_ = true;
    emit Notice(QStringLiteral("cannot draw a serial number from the store: ") + error);
    if (reserve_.empty())
      Refuse(QStringLiteral("a fault of this station, no board was touched: cannot draw a serial number from the "
                            "store: ") +
                 error,
             true);
  } else if (indexes.empty()) {
    exhausted_ = true;
  }
  reserve_.insert(reserve_.end(), indexes.begin(), indexes.end());
  Serve();
}

void SerialNumbers::Unused(const UnitRequest &unit) {
  const auto it = given_.find(unit.unitUid);
  if (it == given_.end())
    return;
  // Still reserved for this station in the store: the next unit's.
  reserve_.push_front(it->second.idx);
  given_.erase(it);
}

std::optional<records::NumberChange> SerialNumbers::Ended(const UnitStatus &unit) {
  const auto it = given_.find(unit.unitUid);
  if (it == given_.end())
    return std::nullopt;
  const Given given = it->second;
  given_.erase(it);
  if (unit.state == UnitState::Pass)
    return Change(given.idx, records::kNumberUsed, given.text, unit.unitUid);
  if (plan_.giveUpOnFail)
    return Change(given.idx, records::kNumberFailed, given.text, unit.unitUid);
  // Its failed board carries it; the next good one takes it over.
  reserve_.push_front(given.idx);
  return Change(given.idx, records::kNumberReserved, QString(), QString());
}

} // namespace session
