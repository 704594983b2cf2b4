#include "session/production_run.h"

#include "records/recorder.h"

namespace session {

QString UnitStateWord(UnitState state) {
  switch (state) {
  case UnitState::Ready:
    return QStringLiteral("READY");
  case UnitState::Busy:
    return QStringLiteral("BUSY");
  case UnitState::Retry:
    return QStringLiteral("RETRY");
  case UnitState::Pass:
    return QStringLiteral("PASS");
  case UnitState::Fail:
    return QStringLiteral("FAIL");
  }
  return {};
}

QString UnitStatus::StateText() const {
  switch (state) {
  case UnitState::Busy:
    return QStringLiteral("BUSY %1%").arg(percent);
  case UnitState::Retry:
    return QStringLiteral("RETRY %1/%2").arg(attempt).arg(attempts - 1);
  default:
    return UnitStateWord(state);
  }
}

double RunCounters::YieldPercent() const {
  const qint64 units = passed + failed;
  return units == 0 ? -1.0 : 100.0 * double(passed) / double(units);
}

QString DefaultLot(const QString &jobName, const QDate &day) {
  return jobName + QLatin1Char(' ') + day.toString(Qt::ISODate);
}

struct ProductionRun::Impl {
  job::Job job;
  QString lot;
  QString checksum;
  std::vector<UnitStatus> units;
  RunCounters counters;
};

ProductionRun::ProductionRun(const job::OpenedJob &opened, const QStringList &ports, base::Clock &clock,
                             records::Recorder *recorder, RunOptions options, QObject *parent)
    : QObject(parent), impl_(std::make_unique<Impl>()) {
  (void)clock;
  (void)recorder;
  impl_->job = *opened.job;
  impl_->lot = options.lot.isEmpty() ? DefaultLot(impl_->job.name, QDate::currentDate()) : options.lot;
  impl_->checksum = opened.firmware.checksumCaption;
  for (int i = 0; i < ports.size(); ++i) {
    UnitStatus s;
    s.box = i + 1;
    s.port = ports[i];
    s.attempts = 1 + impl_->job.retries;
    impl_->units.push_back(s);
  }
  impl_->counters.lotSize = impl_->job.lotSize;
}

ProductionRun::~ProductionRun() = default;

void ProductionRun::SetUnitDataProvider(UnitDataProvider *) {}
void ProductionRun::StartAll() {}
bool ProductionRun::Start(int) { return false; }
void ProductionRun::Stop() {}
const job::Job &ProductionRun::Job() const { return impl_->job; }
QString ProductionRun::Lot() const { return impl_->lot; }
QString ProductionRun::ImageChecksum() const { return impl_->checksum; }
int ProductionRun::BoxCount() const { return int(impl_->units.size()); }
const std::vector<UnitStatus> &ProductionRun::Units() const { return impl_->units; }
const UnitStatus &ProductionRun::Unit(int box) const { return impl_->units.at(size_t(box - 1)); }
const RunCounters &ProductionRun::Counters() const { return impl_->counters; }
bool ProductionRun::Busy() const { return false; }
BoxSession &ProductionRun::Session(int) { std::abort(); }

} // namespace session
