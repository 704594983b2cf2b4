#include "session/production_run.h"

#include "base/exception.h"
#include "image/firmware_image.h"
#include "records/recorder.h"
#include "records/yield.h"
#include "serial/serial_layer.h"
#include "session/operator_text.h"

#include <QMetaObject>
#include <QPointer>
#include <QSignalBlocker>
#include <QThreadPool>
#include <QUuid>
#include <algorithm>
#include <mutex>

namespace session {

// The names of the folders below, as this file used them before each folder had its namespace.
using base::Exception;
using image::FirmwareFile;
using image::kLoadImageSize;
using protocol::Outcome;
using serial::MakePlatformSerialLayer;
using serial::SerialLayer;
using session::EnglishText;
using session::ShownText;

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

namespace {

// Verify paces its progress over the whole 32 KiB image, as a load writes it.
const QString kWholeImageEnd = QStringLiteral("7FFF");

bool Retryable(protocol::Outcome outcome) {
  return outcome == protocol::Outcome::NoAnswer || outcome == protocol::Outcome::BoxFailed ||
         outcome == protocol::Outcome::PortLost;
}

// Carries the lot's counts from the worker thread to the run: the worker
// posts them to the courier, which lives on the run's thread and dies with
// the run (taking any count still posted to it along). The worker posts only
// while the gate says the courier is alive, under the gate's lock, so it never
// posts to a courier gone. No queued call owns the courier: one that did would
// have to delete it from inside Qt's own teardown of pending events.
class CountCourier : public QObject {
public:
  std::function<void(bool, records::LotCounters, QString)> deliver;
};

struct CountGate {
  std::mutex mutex;
  bool open = true;
};

} // namespace

struct ProductionRun::Impl {
  enum class Step : uint8_t { None, Asking, Setting, Loading, Verifying, Pausing, AwaitingPort };

  struct Box {
    Impl &run;
    size_t index;
    BoxSession session;
    std::unique_ptr<base::Alarm> alarm; // the pause before a retry, or the wait for a lost port
    Step step = Step::None;
    quint64 generation = 0; // of the unit, so that a late answer of the provider finds its unit gone
    bool asked = false;     // the provider was asked for this unit's data
    int64_t startedMs = 0;
    std::shared_ptr<const LoadImage> image;
    std::vector<ImagePatch> patches; // the unit's, written into `image`
    int shownPercent = -1;

    Box(Impl &r, size_t i, std::shared_ptr<serial::SerialLayer> layer)
        : run(r), index(i), session(std::move(layer), r.clock) {}
    UnitStatus &Status() { return run.units[index]; }
  };

  ProductionRun &q;
  base::Clock &clock;
  records::Recorder *recorder;
  RunOptions options;
  job::Job job;
  image::FirmwareFile firmware;
  LoadSource source;
  QString lot;
  UnitDataProvider *provider = nullptr;
  std::shared_ptr<const LoadImage> sharedImage; // packed at the first unit that needs it
  std::vector<UnitStatus> units;
  std::vector<std::unique_ptr<Box>> boxes;
  RunCounters counters;
  // Counting: units ended in this run, and how many had ended when the
  // store's count under way began.
  qint64 endedHere = 0;
  qint64 endedAtCount = 0;
  bool counting = false; // a count is under way
  double secondsHere = 0;
  std::unique_ptr<CountCourier> courier;
  std::shared_ptr<CountGate> countGate = std::make_shared<CountGate>();
  std::shared_ptr<int> alive = std::make_shared<int>(0);

  Impl(ProductionRun &run, const job::OpenedJob &opened, const QStringList &ports, base::Clock &c, records::Recorder *r,
       RunOptions o)
      : q(run), clock(c), recorder(r), options(std::move(o)), job(*opened.job),
        firmware(opened.firmware), source{opened.firmwarePath, opened.firmware.sha256} {
    lot = options.lot.isEmpty() ? DefaultLot(job.name, QDate::currentDate()) : options.lot;
    if (!options.layer)
      options.layer = serial::MakePlatformSerialLayer();
    counters.lotSize = job.lotSize;
    const int n = int(std::min<qsizetype>(ports.size(), kMostBoxes));
    for (int i = 0; i < n; ++i) {
      UnitStatus s;
      s.box = i + 1;
      s.port = ports[i];
      s.attempts = 1 + job.retries;
      units.push_back(s);
    }
    for (int i = 0; i < n; ++i)
      boxes.push_back(MakeBox(size_t(i)));
  }

  ~Impl() {
    const std::lock_guard<std::mutex> lock(countGate->mutex);
    countGate->open = false;
    courier.reset();
  }

  std::unique_ptr<Box> MakeBox(size_t i) {
    auto box = std::make_unique<Box>(*this, i, options.layer);
    Box *b = box.get();
    b->alarm = clock.MakeAlarm([this, b] { AlarmFired(*b); });
    b->session.SetFastReplies(options.fastReplies);
    b->session.SetPortName(units[i].port);
    // A board's cable pulled and put back is the kind of fault a retry is for.
    b->session.WatchForReturn(true);
    QObject::connect(&b->session, &BoxSession::Progress, &q, [this, b](uint32_t p) { Progressed(*b, int(p)); });
    QObject::connect(&b->session, &BoxSession::AttemptEnded, &q, [this, b](const Attempt &a) { StepEnded(*b, a); });
    QObject::connect(&b->session, &BoxSession::PortReturned, &q, [this, b] { PortReturned(*b); });
    QObject::connect(&b->session, &BoxSession::Error, &q,
                     [this, b](const QString &text) { emit q.Notice(int(b->index) + 1, text); });
    return box;
  }

  // --- Requests ---

  OperationRequest Request(BoxOperation operation) const {
    OperationRequest r;
    r.operation = operation;
    r.timeOutSeconds = uint32_t(job.timeoutSeconds);
    r.chip.ChipName = job.chip;
    switch (operation) {
    case BoxOperation::Set:
      r.mode = job.mode;
      r.supply = job.supply;
      break;
    case BoxOperation::Load:
      r.mode = job.mode;
      r.supply = job.supply;
      r.count = int32_t(job.count.toUInt());
      r.sectors = job.sectorMask;
      break;
    default:
      r.chip.ChipStart = QStringLiteral("0000");
      r.chip.ChipEnd = kWholeImageEnd;
      r.imageSize = image::kLoadImageSize;
      break;
    }
    return r;
  }

  // The image with `patches` written into `text`: their bytes are data the box must ask for too.
  std::shared_ptr<const LoadImage> Pack(const std::vector<std::string> &text,
                                        const std::vector<ImagePatch> &patches = {}) const {
    std::vector<image::AddressRange> filled = firmware.ranges;
    for (const ImagePatch &patch : patches)
      if (!patch.bytes.isEmpty())
        filled.push_back({patch.address, patch.address + uint32_t(patch.bytes.size()) - 1});
    return PackLoadImage(text, source, job.count.toUInt(), job.sectorMask, filled);
  }

  // The unit's own image, or why its data cannot be written into the image.
  QString PackUnit(Box &b, const UnitData &data) {
    b.patches = data.patches;
    if (data.patches.empty()) {
      b.image = SharedImage();
      return {};
    }
    std::vector<std::string> text = firmware.imageText;
    for (const ImagePatch &patch : data.patches) {
      if (qint64(patch.address) + patch.bytes.size() > qint64(image::kLoadImageSize))
        return QStringLiteral("the unit's data at %1 (%2 bytes) does not fit in the image")
            .arg(patch.address, 4, 16, QLatin1Char('0'))
            .arg(patch.bytes.size());
      for (qsizetype i = 0; i < patch.bytes.size(); ++i)
        text[patch.address + size_t(i)] =
            "$" + QStringLiteral("%1").arg(uint8_t(patch.bytes[i]), 2, 16, QLatin1Char('0')).toUpper().toStdString();
    }
    b.image = Pack(text, data.patches);
    return {};
  }

  std::shared_ptr<const LoadImage> SharedImage() {
    if (!sharedImage)
      sharedImage = Pack(firmware.imageText);
    return sharedImage;
  }

  // --- Units ---

  bool StartUnit(Box &b) {
    UnitStatus &s = b.Status();
    if (s.state == UnitState::Busy || s.state == UnitState::Retry)
      return false;
    ++b.generation;
    s.state = UnitState::Busy;
    s.percent = 0;
    s.attempt = 0;
    s.outcome = protocol::Outcome::Ok;
    s.reason.clear();
    s.reasonShown.clear();
    s.reasonEnglish.clear();
    s.unitUid = QUuid::createUuid().toString(QUuid::Id128);
    s.serial.clear();
    s.unitSeconds = 0;
    b.startedMs = clock.NowMs();
    b.shownPercent = 0;
    b.image.reset();
    b.patches.clear();
    b.asked = provider != nullptr;
    if (!provider) {
      b.image = SharedImage();
      BeginAttempt(b);
      return true;
    }
    b.step = Step::Asking;
    emit q.UnitChanged(s);
    const std::weak_ptr<int> guard = alive;
    const quint64 generation = b.generation;
    Box *box = &b;
    provider->Provide({s.box, s.port, s.unitUid, job.name, lot}, [this, guard, generation, box](UnitData data) {
      if (guard.expired() || box->generation != generation || box->step != Step::Asking)
        return;
      DataArrived(*box, std::move(data));
    });
    return true;
  }

  void DataArrived(Box &b, UnitData data) {
    b.Status().serial = data.serial;
    QString refusal = data.refusal;
    if (refusal.isEmpty())
      refusal = PackUnit(b, data);
    if (refusal.isEmpty()) {
      BeginAttempt(b);
      return;
    }
    // Recorded as an attempt, so that the lot's counters read back count the unit.
    b.Status().attempt = 1;
    const QDateTime now = QDateTime::currentDateTimeUtc();
    Attempt a{Request(BoxOperation::Load),
              b.Status().port,
              source,
              now,
              now,
              {protocol::Outcome::FileRefused, refusal, std::nullopt},
              0};
    Record(b, a);
    EndUnit(b, UnitState::Fail, protocol::Outcome::FileRefused, refusal);
  }

  void BeginAttempt(Box &b) {
    UnitStatus &s = b.Status();
    ++s.attempt;
    s.state = UnitState::Busy;
    s.percent = 0;
    b.shownPercent = 0;
    emit q.UnitChanged(s);
    if (!b.session.IsOpen()) {
      const QDateTime started = QDateTime::currentDateTimeUtc();
      try {
        b.session.OpenPort(s.port);
      } catch (const base::Exception &e) {
        Attempt a{Request(BoxOperation::Load),
                  s.port,
                  source,
                  started,
                  QDateTime::currentDateTimeUtc(),
                  {protocol::Outcome::PortUnavailable, kOpenFailedText, std::nullopt},
                  0};
        a.request.image = b.image;
        Record(b, a);
        emit q.StepEnded(s, a);
        // The unit shows the window's words; the system's reason goes with the notice.
        emit q.Notice(s.box, e.Reason().isEmpty() ? e.Message() : e.Message() + QStringLiteral(": ") + e.Reason());
        EndUnit(b, UnitState::Fail, protocol::Outcome::PortUnavailable, kOpenFailedText);
        return;
      }
    }
    b.step = Step::Setting;
    b.session.Start(Request(BoxOperation::Set));
  }

  void Progressed(Box &b, int percent) {
    int shown;
    switch (b.step) {
    case Step::Loading:
      shown = job.operation == job::Operation::LoadVerify ? percent / 2 : percent;
      break;
    case Step::Verifying:
      shown = 50 + percent / 2;
      break;
    default:
      return;
    }
    if (shown == b.shownPercent)
      return;
    b.shownPercent = shown;
    b.Status().percent = shown;
    emit q.UnitChanged(b.Status());
  }

  void Record(Box &b, const Attempt &a) {
    if (!recorder)
      return;
    records::Record r = MakeRecord(a, options.frontEnd);
    r.jobName = job.name;
    r.lot = lot;
    r.unitUid = b.Status().unitUid;
    r.serial = b.Status().serial;
    r.attempt = b.Status().attempt;
    recorder->Add(std::move(r));
  }

  void StepEnded(Box &b, const Attempt &a) {
    Record(b, a);
    const Step step = std::exchange(b.step, Step::None);
    emit q.StepEnded(b.Status(), a);
    const OperationEnd &end = a.end;
    if (step != Step::Setting && step != Step::Loading && step != Step::Verifying) {
      b.step = step; // an attempt ended by Stop, or one this run did not start
      return;
    }
    if (end.outcome == protocol::Outcome::Ok) {
      if (step == Step::Setting) {
        b.step = Step::Loading;
        OperationRequest load = Request(BoxOperation::Load);
        load.image = b.image;
        b.session.Start(load);
      } else if (step == Step::Loading && job.operation == job::Operation::LoadVerify) {
        b.step = Step::Verifying;
        b.session.Start(Request(BoxOperation::Verify));
      } else {
        EndUnit(b, UnitState::Pass, protocol::Outcome::Ok, end.message);
      }
      return;
    }
    QString reason = end.message;
    if (reason.isEmpty() && end.outcome == protocol::Outcome::NoAnswer)
      reason = NoAnswerText(job.timeoutSeconds);
    if (reason.isEmpty() && end.outcome == protocol::Outcome::BoxFailed)
      reason = kBoxFailedText;
    UnitStatus &s = b.Status();
    if (!Retryable(end.outcome) || s.attempt >= s.attempts) {
      EndUnit(b, UnitState::Fail, end.outcome, reason);
      return;
    }
    SetEnd(s, UnitState::Retry, end.outcome, reason);
    emit q.UnitChanged(s);
    if (end.outcome == protocol::Outcome::PortLost && !b.session.IsOpen()) {
      b.step = Step::AwaitingPort;
      b.alarm->Arm(job.timeoutSeconds * 1000, false);
    } else {
      b.step = Step::Pausing;
      b.alarm->Arm(kRetryPauseMs, false);
    }
  }

  void PortReturned(Box &b) {
    if (b.step != Step::AwaitingPort)
      return;
    b.step = Step::Pausing;
    b.alarm->Arm(kRetryPauseMs, false);
  }

  void AlarmFired(Box &b) {
    if (b.step == Step::Pausing) {
      BeginAttempt(b);
    } else if (b.step == Step::AwaitingPort) {
      b.step = Step::None;
      EndUnit(b, UnitState::Fail, protocol::Outcome::PortLost, b.Status().reason);
    }
  }

  static void SetEnd(UnitStatus &s, UnitState state, protocol::Outcome outcome, const QString &reason) {
    s.state = state;
    s.outcome = outcome;
    s.reason = reason;
    s.reasonShown = session::ShownText(reason);
    s.reasonEnglish = session::EnglishText(reason);
  }

  void EndUnit(Box &b, UnitState state, protocol::Outcome outcome, const QString &reason) {
    b.step = Step::None;
    b.alarm->Disarm();
    UnitStatus &s = b.Status();
    SetEnd(s, state, outcome, reason);
    s.unitSeconds = double(clock.NowMs() - b.startedMs) / 1000.0;
    if (state == UnitState::Pass)
      s.percent = 100;
    const UnitStatus ended = s; // a listener may start the box's next unit
    emit q.UnitChanged(ended);
    if (state == UnitState::Pass || state == UnitState::Fail) {
      ++endedHere;
      secondsHere += ended.unitSeconds;
      ++(state == UnitState::Pass ? counters.passed : counters.failed);
      counters.meanUnitSeconds = secondsHere / double(endedHere);
      // A store that could not be read at first (not made yet, a server
      // away) is asked again as units end.
      if (!counters.loaded && !counters.error.isEmpty() && !counting)
        Count();
    }
    if (b.asked && provider)
      provider->UnitEnded(ended);
    emit q.UnitEnded(ended);
    if (state != UnitState::Ready)
      emit q.CountersChanged(counters);
  }

  void StopBox(Box &b) {
    const UnitState state = b.Status().state;
    if (state != UnitState::Busy && state != UnitState::Retry)
      return;
    ++b.generation;
    b.step = Step::None; // the interrupted step's record is written, nothing follows it
    if (b.session.InProgress()) {
      b.session.Stop(protocol::Outcome::Interrupted);
    } else if (b.Status().attempt > 0) {
      // Between attempts the unit's last record is a failure; without one
      // saying it was stopped, the lot would count the unit as failed.
      const QDateTime now = QDateTime::currentDateTimeUtc();
      Record(b, {Request(BoxOperation::Set),
                 b.Status().port,
                 {},
                 now,
                 now,
                 {protocol::Outcome::Interrupted, QString(), std::nullopt},
                 0});
    }
    EndUnit(b, UnitState::Ready, protocol::Outcome::Interrupted, kStoppedText);
  }

  // --- The lot's counters ---

  void Count() {
    if (options.store.kind == records::StoreLocation::Kind::Off) {
      counters.loaded = true;
      return;
    }
    if (!courier) {
      courier = std::make_unique<CountCourier>();
      courier->deliver = [this](bool ok, records::LotCounters got, QString error) { Counted(ok, got, error); };
    }
    endedAtCount = endedHere;
    counting = true;
    QThreadPool::globalInstance()->start(
        [gate = countGate, target = courier.get(), where = options.store, name = job.name, lot = lot] {
          records::LotCounters got;
          QString error;
          const bool ok = records::CountLot(where, name, lot, &got, &error);
          const std::lock_guard<std::mutex> lock(gate->mutex);
          if (!gate->open)
            return;
          QMetaObject::invokeMethod(
              target,
              [target, ok, got, error] {
                if (target->deliver)
                  target->deliver(ok, got, error);
              },
              Qt::QueuedConnection);
        });
  }

  void Counted(bool ok, const records::LotCounters &got, const QString &error) {
    counting = false;
    if (!ok) {
      counters.error = error;
      emit q.CountersChanged(counters);
      return;
    }
    // A unit that ended while the store was read may or may not be in its
    // count: only a count no unit ended during is taken, else it is read again.
    if (endedHere != endedAtCount) {
      Count();
      return;
    }
    counters.passed = got.passed;
    counters.failed = got.failed;
    counters.loaded = true;
    counters.error.clear();
    emit q.CountersChanged(counters);
  }
};

ProductionRun::ProductionRun(const job::OpenedJob &opened, const QStringList &ports, base::Clock &clock,
                             records::Recorder *recorder, RunOptions options, QObject *parent)
    : QObject(parent), impl_(std::make_unique<Impl>(*this, opened, ports, clock, recorder, std::move(options))) {
  impl_->Count();
}

ProductionRun::~ProductionRun() {
  // The interrupted attempts are recorded; nobody is told of units ending with the run.
  const QSignalBlocker quiet(this);
  Stop();
}

void ProductionRun::SetUnitDataProvider(UnitDataProvider *provider) { impl_->provider = provider; }

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

const job::Job &ProductionRun::Job() const { return impl_->job; }
QString ProductionRun::Lot() const { return impl_->lot; }
QString ProductionRun::ImageChecksum() const { return impl_->firmware.checksumCaption; }

QString ProductionRun::UnitChecksum(int box) const {
  const auto &image = impl_->boxes.at(size_t(box - 1))->image;
  return image ? image->checksumCaption : impl_->firmware.checksumCaption;
}

const std::vector<ImagePatch> &ProductionRun::UnitPatches(int box) const {
  return impl_->boxes.at(size_t(box - 1))->patches;
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
