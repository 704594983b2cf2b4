#include "session/production_run.h"

#include "image/firmware_image.h"
#include "records/recorder.h"
#include "records/replies.h"
#include "records/yield.h"
#include "serial/serial_layer.h"
#include "session/unit_run.h"

#include <QSignalBlocker>
#include <QSysInfo>
#include <algorithm>

namespace session {

double RunCounters::YieldPercent() const { return records::YieldPercent(passed, failed); }

QString DefaultLot(const QString &jobName, const QDate &day) {
  return jobName + QLatin1Char(' ') + day.toString(Qt::ISODate);
}

namespace {

// Verify paces its progress over the whole 32 KiB image, as a load writes it.
const QString kWholeImageEnd = QStringLiteral("7FFF");

// The firmware's image and what its packing needs, and the image packed
// once for every unit without data of its own: a copy per box made the
// memory grow with every port.
void Pack(UnitPlan &plan, const image::FirmwareFile &firmware, const QString &path, uint32_t count,
          uint32_t sectors) {
  plan.image = std::make_shared<const std::vector<uint8_t>>(firmware.image.bytes);
  plan.source = {path, firmware.sha256};
  plan.count = count;
  plan.sectors = sectors;
  plan.filled = firmware.ranges;
  plan.sharedImage = PackLoadImage(firmware, plan.source, plan.count, plan.sectors);
}

// What every unit of the job does.
std::shared_ptr<UnitPlan> PlanOf(const job::OpenedJob &opened, const QString &lot, const RunOptions &options,
                                 const QString &station) {
  const job::Job &job = *opened.job;
  auto plan = std::make_shared<UnitPlan>();
  plan->jobName = job.name;
  plan->jobSha256 = opened.jobSha256;
  plan->jobRelease = opened.release.checked ? opened.release.comment : QString();
  plan->operatorName = options.operatorName;
  plan->lot = lot;
  plan->lotSize = job.lotSize;
  plan->station = station;
  plan->frontEnd = options.frontEnd;
  plan->attempts = 1 + job.retries;
  plan->timeoutSeconds = job.timeoutSeconds;
  OperationRequest base;
  base.timeOutSeconds = uint32_t(job.timeoutSeconds);
  base.chip.ChipName = job.chip;
  OperationRequest set = base;
  set.operation = BoxOperation::Set;
  set.mode = job.mode;
  set.supply = job.supply;
  plan->set = set;
  plan->load = base;
  plan->load.operation = BoxOperation::Load;
  plan->load.mode = job.mode;
  plan->load.supply = job.supply;
  plan->load.count = int32_t(job.count.toUInt());
  plan->load.sectors = job.sectorMask;
  if (job.operation == job::Operation::LoadVerify) {
    OperationRequest verify = base;
    verify.operation = BoxOperation::Verify;
    verify.chip.ChipStart = QStringLiteral("0000");
    verify.chip.ChipEnd = kWholeImageEnd;
    verify.imageSize = image::kLoadImageSize;
    plan->verify = verify;
  }
  Pack(*plan, opened.firmware, opened.firmwarePath, job.count.toUInt(), job.sectorMask);
  return plan;
}

// What every box's unit of a load does: one attempt of no job and no lot.
std::shared_ptr<UnitPlan> PlanOf(const LoadOrder &order, const RunOptions &options, const QString &station) {
  auto plan = std::make_shared<UnitPlan>();
  plan->operatorName = options.operatorName;
  plan->station = station;
  plan->frontEnd = options.frontEnd;
  plan->lotSize = 0;
  plan->timeoutSeconds = order.timeoutSeconds;
  plan->set = order.set;
  plan->load = order.load;
  Pack(*plan, order.firmware, order.firmwarePath, uint32_t(order.load.count),
       order.load.sectors.value_or(0xFFFFFFFFu));
  return plan;
}

// A load of no job as the run keeps it: no name, no lot, one attempt.
job::Job JobOf(const LoadOrder &order) {
  job::Job job;
  job.name.clear();
  job.lotSize = 0;
  job.retries = 0;
  job.timeoutSeconds = order.timeoutSeconds;
  return job;
}

} // namespace

struct ProductionRun::Impl {
  enum class Wait : uint8_t { None, Pausing, AwaitingPort };

  struct Box {
    size_t index;
    BoxSession session;
    std::unique_ptr<base::Alarm> alarm; // the pause before a retry, or the wait for a lost port
    Wait wait = Wait::None;
    UnitRun *unit = nullptr; // the box's last unit, a child of the run

    Box(size_t i, std::shared_ptr<serial::SerialLayer> layer, base::Clock &clock)
        : index(i), session(std::move(layer), clock) {}
  };

  ProductionRun &q;
  base::Clock &clock;
  records::Recorder *recorder;
  RunOptions options;
  job::Job job;
  image::FirmwareFile firmware;
  bool inLot;  // a job's run; false for a load of no job
  QString lot; // empty for a load
  std::shared_ptr<const UnitPlan> plan;
  UnitDataProvider *provider = nullptr;
  std::vector<UnitStatus> units;
  std::vector<std::unique_ptr<Box>> boxes;
  RunCounters counters;
  qint64 endedHere = 0;
  double secondsHere = 0;
  bool counting = false; // a count is under way
  bool countAgain = false; // a unit ended meanwhile: the count under way may miss it
  QString storeRefusal;    // the store refused a unit's write; starts nothing until it takes one
  QString stationRefusal;  // another live process runs this station: starts nothing
  bool probing = false;
  std::unique_ptr<base::Alarm> refresh; // the lot's count and the store's probe, every kRefreshMs
  records::Replies replies;               // last: goes first

  // `planOf` gives what every unit does, from the lot and the station's name.
  Impl(ProductionRun &run, job::Job j, image::FirmwareFile fw, const QStringList &ports, base::Clock &c,
       records::Recorder *r, RunOptions o, bool lotted,
       const std::function<std::shared_ptr<UnitPlan>(const QString &, const QString &)> &planOf)
      : q(run), clock(c), recorder(r), options(std::move(o)), job(std::move(j)), firmware(std::move(fw)),
        inLot(lotted) {
    if (inLot)
      lot = options.lot.isEmpty() ? DefaultLot(job.name, QDate::currentDate()) : options.lot;
    if (!options.layer)
      options.layer = serial::MakePlatformSerialLayer();
    const int n = int(std::min<qsizetype>(ports.size(), kMostBoxes));
    const QString station = options.station.isEmpty() ? ports.mid(0, n).join(QLatin1Char(',')) : options.station;
    plan = planOf(lot, station);
    counters.lotSize = job.lotSize;
    for (int i = 0; i < n; ++i) {
      UnitStatus s;
      s.box = i + 1;
      s.port = ports[i];
      s.attempts = 1 + job.retries;
      units.push_back(s);
    }
    for (int i = 0; i < n; ++i)
      boxes.push_back(MakeBox(size_t(i)));
    refresh = clock.MakeAlarm([this] { Refresh(); });
    // A load's units hold no place and claim no station: nothing to count or settle.
    if (!recorder || !inLot) {
      counters.loaded = true;
      return;
    }
    refresh->Arm(kRefreshMs, true);
    // The station is claimed, and what a dead run of it left settled, before
    // any unit of this one; a live run under the same name refuses this one.
    records::UnitOp settle;
    settle.kind = records::UnitOp::Kind::Settle;
    settle.host = QSysInfo::machineHostName();
    settle.station = station;
    recorder->WriteUnit(settle, replies.Port(), [this](const records::Recorder::UnitAnswer &a) {
      if (a.placed)
        return;
      stationRefusal = a.error;
      emit q.CountersChanged(counters);
    });
    recorder->WatchUnits(replies.Port(), [this](const QString &j, const QString &l) {
      if (j == job.name && l == lot)
        Count();
    });
  }

  std::unique_ptr<Box> MakeBox(size_t i) {
    auto box = std::make_unique<Box>(i, options.layer, clock);
    Box *b = box.get();
    b->alarm = clock.MakeAlarm([this, b] { AlarmFired(*b); });
    b->session.SetFastReplies(options.fastReplies);
    b->session.SetPortName(units[i].port);
    // A board's cable pulled and put back is the kind of fault a retry is for;
    // a load has no retry.
    b->session.WatchForReturn(inLot);
    QObject::connect(&b->session, &BoxSession::PortReturned, &q, [this, b] { PortReturned(*b); });
    QObject::connect(&b->session, &BoxSession::Error, &q,
                     [this, b](const QString &text) { emit q.Notice(int(b->index) + 1, text); });
    return box;
  }

  // --- Units ---

  bool StartUnit(Box &b) {
    const UnitState state = units[b.index].state;
    if (state == UnitState::Busy || state == UnitState::Retry || !Refusal().isEmpty())
      return false;
    if (b.unit)
      b.unit->deleteLater(); // it may be the one whose end is being told
    b.wait = Wait::None;
    auto *unit = new UnitRun(plan, b.session, units[b.index], clock, recorder, provider, &q);
    b.unit = unit;
    QObject::connect(unit, &UnitRun::Changed, &q, [this, &b, unit](const UnitStatus &s) {
      if (b.unit != unit)
        return;
      units[b.index] = s;
      emit q.UnitChanged(s);
    });
    QObject::connect(unit, &UnitRun::StepEnded, &q,
                     [this](const UnitStatus &s, const Attempt &step) { emit q.StepEnded(s, step); });
    QObject::connect(unit, &UnitRun::Started, &q, [unit] { unit->Attempt(); });
    QObject::connect(unit, &UnitRun::AttemptEnded, &q,
                     [this, &b](const OperationEnd &end) { AttemptEnded(b, end); });
    QObject::connect(unit, &UnitRun::LotFull, &q, [this, &b] {
      Count();
      emit q.LotFull(int(b.index) + 1);
    });
    QObject::connect(unit, &UnitRun::Ended, &q, [this](const UnitStatus &s) { UnitEnded(s); });
    QObject::connect(unit, &UnitRun::Notice, &q, [this, &b](const QString &message, const QString &reason) {
      emit q.Notice(int(b.index) + 1, reason.isEmpty() ? message : message + QStringLiteral(": ") + reason);
    });
    unit->Begin();
    return true;
  }

  void AttemptEnded(Box &b, const OperationEnd &end) {
    UnitRun &unit = *b.unit;
    if (end.outcome == protocol::Outcome::Ok) {
      unit.Finish(UnitState::Pass, protocol::Outcome::Ok, end.message);
      return;
    }
    const base::ResultClassRow &row = base::RowOf(end.outcome);
    base::Message reason = end.message;
    if (reason.IsEmpty() && row.reason == base::ReasonFrom::TimeOut)
      reason = base::Message::Verbatim(NoAnswerText(job.timeoutSeconds));
    if (reason.IsEmpty() && row.reason == base::ReasonFrom::Box)
      reason = base::Message::Verbatim(kBoxFailedText);
    UnitStatus &s = units[b.index];
    if (!row.retried || s.attempt >= s.attempts) {
      unit.Finish(UnitState::Fail, end.outcome, reason);
      return;
    }
    s.state = UnitState::Retry;
    s.outcome = end.outcome;
    s.reason = reason;
    emit q.UnitChanged(s);
    if (end.outcome == protocol::Outcome::PortLost && !b.session.IsOpen()) {
      b.wait = Wait::AwaitingPort;
      b.alarm->Arm(job.timeoutSeconds * 1000, false);
    } else {
      b.wait = Wait::Pausing;
      b.alarm->Arm(kRetryPauseMs, false);
    }
  }

  void PortReturned(Box &b) {
    if (b.wait != Wait::AwaitingPort)
      return;
    b.wait = Wait::Pausing;
    b.alarm->Arm(kRetryPauseMs, false);
  }

  void AlarmFired(Box &b) {
    const Wait wait = std::exchange(b.wait, Wait::None);
    if (!b.unit)
      return;
    if (wait == Wait::Pausing)
      b.unit->Attempt();
    else if (wait == Wait::AwaitingPort)
      b.unit->Finish(UnitState::Fail, protocol::Outcome::PortLost, units[b.index].reason);
  }

  void UnitEnded(const UnitStatus &s) {
    if (s.state == UnitState::Pass || s.state == UnitState::Fail) {
      ++endedHere;
      secondsHere += s.unitSeconds;
      counters.meanUnitSeconds = secondsHere / double(endedHere);
      if (!recorder || !inLot)
        ++(s.state == UnitState::Pass ? counters.passed : counters.failed);
    }
    if (s.state == UnitState::NotRecorded && storeRefusal.isEmpty())
      storeRefusal = s.reason.Designed();
    Count(); // before anyone is told, so that CountsSettled says a count is owed
    emit q.UnitEnded(s);
    emit q.CountersChanged(counters);
  }

  void StopBox(Box &b) {
    const UnitState state = units[b.index].state;
    if (!b.unit || (state != UnitState::Busy && state != UnitState::Retry))
      return;
    b.alarm->Disarm();
    if (std::exchange(b.wait, Wait::None) != Wait::None)
      b.unit->Finish(UnitState::Ready, protocol::Outcome::Interrupted, base::Message::Verbatim(kStoppedText));
    else
      b.unit->Stop();
  }

  QString Refusal() const {
    if (!stationRefusal.isEmpty())
      return stationRefusal;
    if (inLot && plan->operatorName.isEmpty())
      return QStringLiteral("no operator is named");
    if (!storeRefusal.isEmpty())
      return storeRefusal;
    if (counters.Full())
      return QStringLiteral("the lot is complete: %1 of %2").arg(counters.passed).arg(counters.lotSize);
    return {};
  }

  // --- The lot's counters ---

  void Count() {
    if (!recorder || !inLot)
      return;
    if (counting) {
      countAgain = true;
      return;
    }
    counting = true;
    countAgain = false;
    recorder->CountLot(job.name, lot, replies.Port(), [this](const records::Recorder::LotAnswer &a) {
      counting = false;
      counters.passed = a.counters.passed;
      counters.failed = a.counters.failed;
      counters.running = a.counters.running;
      counters.current = a.current;
      counters.loaded = a.current;
      counters.error = a.error;
      emit q.CountersChanged(counters);
      if (countAgain)
        Count();
    });
  }

  void Refresh() {
    if (!recorder)
      return;
    if (!storeRefusal.isEmpty() && !probing) {
      probing = true;
      recorder->Probe(replies.Port(), [this](const records::Recorder::UnitAnswer &a) {
        probing = false;
        if (!a.durable)
          return;
        storeRefusal.clear();
        emit q.CountersChanged(counters);
      });
    }
    // Other stations' units: a SQLite store is read while this station idles;
    // a server tells its listeners, and is read while its count is not current.
    const bool sqlite = recorder->Location().kind != records::StoreLocation::Kind::Postgres;
    if ((sqlite && !q.Busy()) || !counters.current)
      Count();
  }
};

ProductionRun::ProductionRun(const job::OpenedJob &opened, const QStringList &ports, base::Clock &clock,
                             records::Recorder *recorder, RunOptions options, QObject *parent)
    : QObject(parent) {
  const RunOptions o = options;
  impl_ = std::make_unique<Impl>(*this, *opened.job, opened.firmware, ports, clock, recorder, std::move(options), true,
                                 [&](const QString &lot, const QString &station) {
                                   return PlanOf(opened, lot, o, station);
                                 });
  impl_->Count();
}

ProductionRun::ProductionRun(const LoadOrder &order, const QStringList &ports, base::Clock &clock,
                             records::Recorder *recorder, RunOptions options, QObject *parent)
    : QObject(parent) {
  const RunOptions o = options;
  impl_ = std::make_unique<Impl>(*this, JobOf(order), order.firmware, ports, clock, recorder, std::move(options), false,
                                 [&](const QString &, const QString &station) { return PlanOf(order, o, station); });
}

ProductionRun::~ProductionRun() {
  // The stopped units' ends are written; nobody is told of units ending with the run.
  const QSignalBlocker quiet(this);
  Stop();
  for (auto &box : impl_->boxes)
    delete std::exchange(box->unit, nullptr);
}

void ProductionRun::SetUnitDataProvider(UnitDataProvider *provider) { impl_->provider = provider; }

void ProductionRun::SetOperator(const QString &name) {
  // A unit under way keeps the plan, and so the operator, it started with.
  auto plan = std::make_shared<UnitPlan>(*impl_->plan);
  plan->operatorName = name;
  impl_->plan = std::move(plan);
}

QString ProductionRun::Operator() const { return impl_->plan->operatorName; }

void ProductionRun::StartAll() {
  for (auto &box : impl_->boxes)
    impl_->StartUnit(*box);
}

bool ProductionRun::Start(int box) {
  if (box < 1 || box > BoxCount())
    return false;
  return impl_->StartUnit(*impl_->boxes[size_t(box - 1)]);
}

void ProductionRun::Stop() {
  for (auto &box : impl_->boxes)
    impl_->StopBox(*box);
}

QString ProductionRun::StartRefusal() const { return impl_->Refusal(); }

bool ProductionRun::CountsSettled() const { return !impl_->counting; }

const job::Job &ProductionRun::Job() const { return impl_->job; }
QString ProductionRun::Lot() const { return impl_->lot; }
QString ProductionRun::ImageChecksum() const { return impl_->firmware.checksumCaption; }

QString ProductionRun::UnitChecksum(int box) const {
  const UnitRun *unit = impl_->boxes.at(size_t(box - 1))->unit;
  return unit && unit->Image() ? unit->Image()->checksumCaption : impl_->firmware.checksumCaption;
}

const std::vector<ImagePatch> &ProductionRun::UnitPatches(int box) const {
  static const std::vector<ImagePatch> kNone;
  const UnitRun *unit = impl_->boxes.at(size_t(box - 1))->unit;
  return unit ? unit->Patches() : kNone;
}

const image::FirmwareFile &ProductionRun::Firmware() const { return impl_->firmware; }

int ProductionRun::BoxCount() const { return int(impl_->units.size()); }
const std::vector<UnitStatus> &ProductionRun::Units() const { return impl_->units; }
const UnitStatus &ProductionRun::Unit(int box) const { return impl_->units.at(size_t(box - 1)); }
const RunCounters &ProductionRun::Counters() const { return impl_->counters; }

bool ProductionRun::Busy() const {
  return std::any_of(impl_->units.begin(), impl_->units.end(),
                     [](const UnitStatus &s) { return s.state == UnitState::Busy || s.state == UnitState::Retry; });
}

BoxSession &ProductionRun::Session(int box) { return impl_->boxes.at(size_t(box - 1))->session; }

} // namespace session
