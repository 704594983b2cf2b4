#include "cli/run_sessions.h"

#include "base/exception.h"
#include "cli/console.h"
#include "cli/hex_writer.h"
#include "records/recorder.h"
#include "serial/serial_devices.h"
#include "serial/serial_layer.h"
#include "session/attempt_records.h"
#include "session/box_session.h"
#include "session/operator_text.h"
#include "session/production_run.h"
#include "session/serial_numbers.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <dirent.h>
#include <set>
#include <memory>
#include <sys/resource.h>
#include <vector>

namespace cli {

namespace {

// The window's words for a port that does not open.
// Verify and erase-program-verify take no chip: their progress is paced as for 32 KiB.
const QString kWholeImageEnd = QStringLiteral("7FFF");

session::BoxOperation OperationOf(Command command) {
  switch (command) {
  case Command::Load:
    return session::BoxOperation::Load;
  case Command::Set:
    return session::BoxOperation::Set;
  case Command::ReadOut:
    return session::BoxOperation::ReadOut;
  case Command::EraseProgramVerify:
    return session::BoxOperation::EraseProgramVerify;
  default:
    return session::BoxOperation::Verify;
  }
}

// What the plan asks of one box for `operation` (the set a load may begin
// with carries the mode and supply, not the file).
session::OperationRequest RequestOf(const SessionPlan &plan, session::BoxOperation operation) {
  session::OperationRequest q;
  q.operation = operation;
  q.timeOutSeconds = uint32_t(plan.Boxes().timeoutSeconds);
  switch (operation) {
  case session::BoxOperation::Set:
    if (plan.command == Command::Set) {
      q.mode = plan.Set().mode;
      q.supply = plan.Set().supply;
      q.count = plan.Set().count;
    } else {
      q.mode = plan.Load().load.mode;
      q.supply = plan.Load().load.supply;
      q.count = 0;
    }
    break;
  case session::BoxOperation::Load: {
    const LoadSettings &o = plan.Load().load;
    if (o.modeGiven || o.powerGiven) {
      q.mode = o.mode;
      q.supply = o.supply;
    }
    q.count = int32_t(o.count.toUInt());
    q.sectors = o.sectorMask;
    break;
  }
  case session::BoxOperation::ReadOut:
    q.chip = plan.chip->record;
    q.imageSize = plan.chip->imageSize;
    q.outputFile = QFileInfo(plan.ReadOut().out).absoluteFilePath();
    break;
  case session::BoxOperation::Verify:
  case session::BoxOperation::EraseProgramVerify:
    q.chip.ChipStart = QStringLiteral("0000");
    q.chip.ChipEnd = kWholeImageEnd;
    break;
  }
  return q;
}

// Why a unit did not pass, in the same words for a load and a job run: the
// system's for a port, the box's text in English (or that it answered a
// failure), the time-out, the store's.
QString NoAnswerReason(bool set, int timeoutSeconds) {
  return set ? QStringLiteral("no answer to the set frame within %1 s").arg(timeoutSeconds)
             : session::NoAnswerText(timeoutSeconds);
}

QString UnitReason(const session::UnitStatus &s, ResultClass result, int timeoutSeconds, bool setUnanswered) {
  switch (base::RowOf(result).reason) {
  case base::ReasonFrom::TimeOut:
    return NoAnswerReason(setUnanswered, timeoutSeconds);
  case base::ReasonFrom::Port:
    return s.detail.isEmpty() ? session::English(s.reason) : s.detail;
  case base::ReasonFrom::Box:
    return s.reason.IsEmpty() ? session::kBoxFailedText : session::English(s.reason);
  case base::ReasonFrom::Own:
    return session::English(s.reason);
  case base::ReasonFrom::Store:
    return s.reason.Designed();
  case base::ReasonFrom::Stop:
    return session::kStoppedText;
  case base::ReasonFrom::None:
    break;
  }
  return {};
}

// The window's instruction for a port that does not open, which records keep;
// on the command line the port's notice says what failed and what to do.
bool ShownOnTheCommandLine(const base::Message &message) {
  return !message.IsEmpty() && message.Designed() != session::kOpenFailedText;
}

// "Error opening serial port: <device>: <the system's words> (<what to do>)".
QString OpenFailedText(const base::Exception &e) {
  return e.Reason().isEmpty() ? e.Message() : e.Message() + QStringLiteral(": ") + e.Reason();
}

session::LoadSource SourceOf(const SessionPlan &plan) {
  return {QFileInfo(plan.Load().load.firmware.file).absoluteFilePath(), plan.firmware.sha256};
}

// One box of verify, erase-program-verify, set or read-out: its session and
// the command on it, from opening the port to its result. Every step waits
// for the session's report; nothing blocks.
class BoxRun {
public:
  BoxRun(const SessionPlan &plan, const QString &port, std::shared_ptr<serial::SerialLayer> layer, EventSink &sink,
         session::AttemptRecords &records, std::function<void()> done)
      : plan_(plan), port_(port), session_(std::move(layer)), sink_(sink), records_(records), done_(std::move(done)) {
    session_.SetFastReplies(plan.Boxes().fastReplies);
    QObject::connect(&session_, &session::BoxSession::Progress, &session_, [this](uint32_t percent) {
      if (int(percent) != shownPercent_)
        sink_.Progress(port_, shownPercent_ = int(percent));
    });
    QObject::connect(&session_, &session::BoxSession::AttemptEnded, &session_,
                     [this](const session::Attempt &a) { Ended(a); });
    QObject::connect(&session_, &session::BoxSession::PortLost, &session_,
                     [this](const QString &detail) { lost_ = detail; });
    QObject::connect(&session_, &session::BoxSession::ReadOutBlock, &session_,
                     [this](uint32_t address, const QByteArray &bytes) {
                       readOut_.push_back({address, bytes});
                     });
    QObject::connect(&session_, &session::BoxSession::Error, &session_,
                     [this](const QString &text) { sink_.Message(port_, text); });
  }

  void Start() {
    clock_.start();
    const QDateTime started = QDateTime::currentDateTimeUtc();
    sink_.Start(port_, CommandName(plan_.command));
    try {
      session_.OpenPort(port_);
    } catch (const base::Exception &e) {
      sink_.Message(port_, OpenFailedText(e));
      records_.Add({RequestOf(plan_, OperationOf(plan_.command)),
                    port_,
                    {},
                    started,
                    QDateTime::currentDateTimeUtc(),
                    {session::Outcome::PortUnavailable, session::kOpenFailedText, std::nullopt},
                    0});
      Finish(ResultClass::PortUnavailable, e.Reason().isEmpty() ? e.Message() : e.Reason());
      return;
    }
    session_.Start(RequestOf(plan_, OperationOf(plan_.command)));
  }

  void Interrupt() {
    if (!done_)
      return;
    Finish(ResultClass::Interrupted, session::kStoppedText);
  }

  std::optional<ResultClass> Result() const { return result_; }

private:
  void Ended(session::Attempt attempt) {
    const session::OperationEnd end = attempt.end; // as the session reported it
    // The attempt is recorded before it is reported: a read-out's file is
    // written first, so that the record says what the operator is told.
    if (!finishing_ && attempt.Operation() == session::BoxOperation::ReadOut && end.outcome == session::Outcome::Ok) {
      saveError_ = SaveFile();
      if (!saveError_.isEmpty())
        attempt.end = {session::Outcome::BoxFailed, saveError_, std::nullopt};
    }
    records_.Add(attempt);
    if (finishing_)
      return; // the end the run itself gave
    if (!end.message.IsEmpty())
      sink_.Message(port_, end.message);
    QString reason;
    switch (end.outcome) {
    case session::Outcome::NoAnswer:
      reason = NoAnswerReason(attempt.Operation() == session::BoxOperation::Set, plan_.Boxes().timeoutSeconds);
      break;
    case session::Outcome::PortLost:
      reason = lost_;
      break;
    case session::Outcome::BoxFailed:
      if (end.message.IsEmpty())
        reason = session::kBoxFailedText;
      break;
    default:
      break;
    }
    if (end.outcome == session::Outcome::Ok && !saveError_.isEmpty()) {
      Finish(ResultClass::BoxFailed, saveError_);
      return;
    }
    Finish(end.outcome, reason, end.mismatch);
  }

  // The read-out's bytes into --out; why not, empty when written.
  QString SaveFile() const {
    std::vector<HexSegment> segments;
    for (const auto &[address, bytes] : readOut_)
      segments.push_back(
          {address, std::span(reinterpret_cast<const uint8_t *>(bytes.constData()), size_t(bytes.size()))});
    return SaveReadOut(plan_.ReadOut().out, segments);
  }

  void Finish(ResultClass result, const QString &reason, std::optional<session::Mismatch> mismatch = std::nullopt) {
    finishing_ = true;
    session_.Stop(result); // ends an attempt the box left unanswered (an interrupted one)
    session_.ClosePort();
    result_ = result;
    sink_.Result(port_, ResultInfo{result, double(clock_.elapsed()) / 1000.0, std::nullopt, mismatch, reason});
    if (auto done = std::exchange(done_, nullptr))
      done();
  }

  const SessionPlan &plan_;
  const QString port_;
  session::BoxSession session_;
  EventSink &sink_;
  session::AttemptRecords &records_;
  std::function<void()> done_;
  QElapsedTimer clock_;
  bool finishing_ = false;
  int shownPercent_ = -1;
  QString lost_;
  std::vector<std::pair<uint32_t, QByteArray>> readOut_;
  QString saveError_; // why the read-out's file was not written
  std::optional<ResultClass> result_;
};

} // namespace

std::optional<records::StoreLocation> RecordStore(const BoxOptions &options, QString *error) {
  if (options.noRecords)
    return records::StoreLocation{};
  return records::ParseStoreUrl(options.recordsUrl, error);
}

namespace {

// The store of a run, and what it says about itself on standard error.
struct RunRecords {
  std::unique_ptr<records::Recorder> recorder;
  session::AttemptRecords attempts;

  RunRecords(const records::StoreLocation &where, const QString &operatorName)
      : recorder(where.kind == records::StoreLocation::Kind::Off ? nullptr
                                                                 : std::make_unique<records::Recorder>(where)),
        attempts(recorder.get(), QStringLiteral("cli"), operatorName) {
    if (!recorder)
      return;
    QObject::connect(recorder.get(), &records::Recorder::Warning, [](const QString &text) {
      WriteStderr((QStringLiteral("kavrin-cli: records: ") + text + QLatin1Char('\n')).toUtf8());
    });
    QObject::connect(recorder.get(), &records::Recorder::Recovered, [](const QString &text) {
      WriteStderr((QStringLiteral("kavrin-cli: records: ") + text + QLatin1Char('\n')).toUtf8());
    });
  }
  // A shared store gets what the run recorded before the command line ends;
  // what it cannot take now stays in the local spool for the next run. Every
  // store tells here what went wrong, however short the run was.
  ~RunRecords() {
    if (recorder && !recorder->Finish(kForwardWaitMs) &&
        recorder->Location().kind == records::StoreLocation::Kind::Postgres)
      WriteStderr(QStringLiteral("kavrin-cli: records: kept in %1 until %2 can be reached\n")
                      .arg(recorder->Location().sqlitePath, recorder->Location().Describe())
                      .toUtf8());
  }
  static constexpr int kForwardWaitMs = 5000;
};

// Descriptors a run opens besides its ports: the records store with its
// journal, the event loop's and the interrupt watcher's own.
constexpr qint64 kDescriptorMargin = 32;

qint64 OpenDescriptors() {
  DIR *dir = opendir("/proc/self/fd");
  if (!dir)
    return 3; // standard input, output and error
  qint64 count = 0;
  while (const dirent *entry = readdir(dir))
    if (entry->d_name[0] != '.')
      ++count;
  closedir(dir);
  return count - 1; // the folder's own
}

} // namespace

QString PortLimitRefusal(qsizetype ports) {
  rlimit limit{};
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0)
    return {};
  // The soft limit is often far below what the system allows this process.
  if (limit.rlim_cur < limit.rlim_max) {
    const rlimit raised{limit.rlim_max, limit.rlim_max};
    if (setrlimit(RLIMIT_NOFILE, &raised) == 0)
      limit = raised;
  }
  if (limit.rlim_cur == RLIM_INFINITY)
    return {};
  const qint64 open = OpenDescriptors();
  const qint64 room = qint64(limit.rlim_cur) - open - kDescriptorMargin;
  if (qint64(ports) * kDescriptorsPerPort <= room)
    return {};
  return QStringLiteral("%1 ports need %2 open files, but this process may open %3 (ulimit -n) and holds %4 "
                        "already, which leaves room for %5 ports: give fewer, or raise the limit")
      .arg(ports)
      .arg(qint64(ports) * kDescriptorsPerPort)
      .arg(qint64(limit.rlim_cur))
      .arg(open)
      .arg(std::max<qint64>(0, room / kDescriptorsPerPort));
}

void RecordRefusedFile(const SessionPlan &plan) {
  RunRecords run(plan.records, plan.operatorName);
  const QDateTime now = QDateTime::currentDateTimeUtc();
  for (const QString &port : plan.Boxes().ports)
    run.attempts.Add({RequestOf(plan, session::BoxOperation::Load),
                      port,
                      SourceOf(plan),
                      now,
                      now,
                      {session::Outcome::FileRefused, plan.firmware.refusal, std::nullopt},
                      0});
}

namespace {

// The loop every run of boxes shares: `start` sets them going and is given
// the call that ends the run; an interrupt calls `stop`, which must lead to
// that call. Then the sink's summary, and the exit status of the results.
int RunGang(EventSink &sink, InterruptWatcher &interrupts, const std::function<void(std::function<void()>)> &start,
            const std::function<void()> &stop, const std::function<std::vector<ResultClass>()> &results,
            const std::function<void()> &beforeSummary = {}) {
  QEventLoop loop;
  bool ended = false;
  interrupts.OnInterrupt = stop;
  start([&] {
    ended = true;
    loop.quit();
  });
  if (!ended)
    loop.exec();
  interrupts.OnInterrupt = nullptr;
  if (beforeSummary)
    beforeSummary();
  sink.Finish();
  const std::vector<ResultClass> all = results();
  return RunExitCode(all);
}

} // namespace

namespace {

// The units of a run on its boxes, the engine's production run, reported to
// the sink: a job run's (each box taking the next unit as soon as its last one
// ended, until `units` have ended) or a load's (one unit a box). Every unit
// goes one path to its result and its words; what differs is how it is told.
class Units {
public:
  // A job run tags every event of its units and starts a line per attempt,
  // then tells the lot; a load starts one line per box as its unit begins
  // and names the unit only once it has a serial number.
  enum class Telling : uint8_t { Load, Job };

  // `numbers` is the run's UnitDataProvider, or null.
  Units(Telling telling, EventSink &sink, records::StoreLocation::Kind store,
        std::unique_ptr<session::SerialNumbers> numbers, std::unique_ptr<session::ProductionRun> run, int units)
      : telling_(telling), sink_(sink), store_(store), numbers_(std::move(numbers)), run_(std::move(run)),
        shown_(size_t(run_->BoxCount())) {
    if (numbers_)
      run_->SetUnitDataProvider(numbers_.get());
    units_ = units > 0 ? units : run_->BoxCount();
    QObject::connect(run_.get(), &session::ProductionRun::UnitChanged, run_.get(),
                     [this](const session::UnitStatus &s) { Changed(s); });
    QObject::connect(run_.get(), &session::ProductionRun::StepEnded, run_.get(),
                     [this](const session::UnitStatus &s, const session::Attempt &step) { StepEnded(s, step); });
    QObject::connect(run_.get(), &session::ProductionRun::UnitEnded, run_.get(),
                     [this](const session::UnitStatus &s) { Ended(s); });
    QObject::connect(run_.get(), &session::ProductionRun::Notice, run_.get(),
                     [this](int box, const QString &text) { sink_.Message(run_->Unit(box).port, text); });
    QObject::connect(run_.get(), &session::ProductionRun::CountersChanged, run_.get(), [this] { MaybeDone(); });
    for (int box = 1; box <= run_->BoxCount(); ++box)
      QObject::connect(&run_->Session(box), &session::BoxSession::Settled, run_.get(), [this] { MaybeDone(); });
    QObject::connect(run_.get(), &session::ProductionRun::LotFull, run_.get(), [this](int box) {
      lotFull_ = true;
      unstarted_.insert(box);
    });
  }

  void Start(std::function<void()> done) {
    done_ = std::move(done);
    for (int box = 1; box <= run_->BoxCount() && started_ < units_; ++box)
      Next(box);
    MaybeDone();
  }

  void Stop() {
    stopping_ = true;
    run_->Stop();
    MaybeDone();
  }

  std::vector<ResultClass> Results() const { return results_; }

  // The lot's counters, as the records have them with this run's units.
  void ReportLot() {
    if (telling_ != Telling::Job || store_ == records::StoreLocation::Kind::Off)
      return;
    const session::RunCounters &c = run_->Counters();
    LotInfo lot{run_->Lot(), c.passed, c.failed, c.lotSize, true, QString()};
    // A server out of reach leaves its last count and this station's spool; a file, nothing.
    if (!c.current && store_ == records::StoreLocation::Kind::Postgres)
      lot.current = false;
    else if (!c.current)
      lot.error = c.error;
    sink_.Lot(lot);
  }

private:
  struct Shown {
    QString begun; // the unit whose start line a load has shown
    QString unitUid;
    int attempt = 0;
    int percent = -1;
    session::UnitState state = session::UnitState::Ready;
    std::optional<session::Mismatch> mismatch;
    std::optional<session::BoxOperation> lastStep;
    bool noticed = false; // the firmware's left-out notice was shown for this box
    bool tagged = false;  // a load's unit was named by its number
  };

  QString OperationName() const {
    return run_->Job().operation == job::Operation::LoadVerify ? QStringLiteral("load-verify")
                                                               : QStringLiteral("load");
  }

  void Next(int box) {
    ++started_;
    if (!run_->Start(box))
      --started_;
  }

  void Changed(const session::UnitStatus &s) {
    Shown &shown = shown_[size_t(s.box - 1)];
    const QString &port = s.port;
    const bool busy = s.state == session::UnitState::Busy;
    // A load's line starts with its unit, also one whose port does not open.
    if (telling_ == Telling::Load && busy && s.unitUid != shown.begun) {
      shown.begun = s.unitUid;
      sink_.Start(port, OperationName());
    }
    if (busy && s.attempt > 0 && (s.unitUid != shown.unitUid || s.attempt != shown.attempt)) {
      shown.unitUid = s.unitUid;
      shown.attempt = s.attempt;
      shown.percent = -1;
      shown.mismatch.reset();
      shown.lastStep.reset();
      if (telling_ == Telling::Job) {
        sink_.Unit(port, {s.unitUid, s.attempt, s.serial});
        sink_.Start(port, OperationName());
      }
      if (!shown.noticed && !run_->Firmware().leftOutNotice.isEmpty())
        sink_.Message(port, run_->Firmware().leftOutNotice);
      shown.noticed = true;
      // The load's events carry its unit's number once it has one.
      if (telling_ == Telling::Load && !shown.tagged && !s.serial.isEmpty()) {
        shown.tagged = true;
        sink_.Unit(port, {s.unitUid, s.attempt, s.serial});
      }
    }
    if (busy && s.attempt > 0 && s.percent != shown.percent)
      sink_.Progress(port, shown.percent = s.percent);
    if (s.state == session::UnitState::Retry && shown.state != session::UnitState::Retry)
      sink_.Message(port, QStringLiteral("%1: attempt %2 of %3 follows")
                              .arg(session::OutcomeName(s.outcome))
                              .arg(s.attempt + 1)
                              .arg(s.attempts));
    shown.state = s.state;
  }

  void StepEnded(const session::UnitStatus &s, const session::Attempt &step) {
    Shown &shown = shown_[size_t(s.box - 1)];
    if (ShownOnTheCommandLine(step.end.message))
      sink_.Message(s.port, step.end.message);
    shown.mismatch = step.end.mismatch;
    shown.lastStep = step.Operation();
  }

  // The result names its own unit, or none for one that never started;
  // never the box's unit before. A load's names its unit only by its number.
  void TagEnd(const session::UnitStatus &s) {
    if (telling_ == Telling::Job)
      sink_.Unit(s.port, s.attempt > 0 ? UnitTag{s.unitUid, s.attempt, s.serial} : UnitTag{});
  }

  void Ended(const session::UnitStatus &s) {
    const Shown &shown = shown_[size_t(s.box - 1)];
    // A job's units are counted as units; a load's when they carry numbers.
    const bool counted = telling_ == Telling::Job || numbers_;
    if (s.state == session::UnitState::NotRecorded) {
      // No record, no pass: the run stops starting units (the engine refuses them).
      TagEnd(s);
      ResultInfo info{ResultClass::NotRecorded, s.unitSeconds, run_->UnitChecksum(s.box), std::nullopt,
                      s.reason.Designed()};
      info.unit = counted;
      sink_.Result(s.port, info);
      results_.push_back(ResultClass::NotRecorded);
      MaybeDone();
      return;
    }
    if (unstarted_.erase(s.box)) {
      // No unit: the lot's places are all held, here or on other stations.
      sink_.Unit(s.port, {});
      sink_.Message(s.port, QStringLiteral("the lot %1 has no place left: no unit started").arg(run_->Lot()));
      MaybeDone();
      return;
    }
    // Ready with FileRefused: refused its data by a store away, the station's fault, told as the refusal it is.
    const ResultClass result = s.state == session::UnitState::Ready && s.outcome != session::Outcome::FileRefused
                                   ? ResultClass::Interrupted
                                   : s.outcome;
    const QString reason =
        UnitReason(s, result, run_->Job().timeoutSeconds, shown.lastStep == session::BoxOperation::Set);
    TagEnd(s);
    ResultInfo info{result, s.unitSeconds, run_->UnitChecksum(s.box),
                    result == ResultClass::VerifyMismatch ? shown.mismatch : std::nullopt, reason};
    info.unit = counted;
    sink_.Result(s.port, info);
    results_.push_back(result);
    // A box whose port does not open would only fail every unit it is given,
    // and a unit refused its data (no number left) every unit after it.
    if (!stopping_ && !lotFull_ && base::RowOf(result).whose != base::Whose::Station && started_ < units_) {
      ++pending_;
      QTimer::singleShot(0, run_.get(), [this, box = s.box] {
        --pending_;
        if (!stopping_)
          Next(box);
        MaybeDone();
      });
    }
    MaybeDone();
  }

  void MaybeDone() {
    if (!done_ || run_->Busy() || pending_ > 0)
      return;
    // A transfer stopped mid-block: its port closes once the box answered
    // that block, so that the next load on it starts clean.
    for (int box = 1; box <= run_->BoxCount(); ++box)
      if (run_->Session(box).AnswerOwed())
        return;
    // The lot's figures include this run's units once the store has answered for them.
    const session::RunCounters &c = run_->Counters();
    if (store_ != records::StoreLocation::Kind::Off && (!run_->CountsSettled() || (!c.loaded && c.error.isEmpty())))
      return;
    std::exchange(done_, nullptr)();
  }

  const Telling telling_;
  EventSink &sink_;
  const records::StoreLocation::Kind store_;
  std::unique_ptr<session::SerialNumbers> numbers_; // outlives the run that asks it
  std::unique_ptr<session::ProductionRun> run_;
  std::vector<Shown> shown_;
  int units_ = 0;
  int started_ = 0;
  int pending_ = 0;
  bool stopping_ = false;
  bool lotFull_ = false;    // a unit found no place: no box starts another
  std::set<int> unstarted_; // boxes whose unit found no place, until its end is told
  std::vector<ResultClass> results_;
  std::function<void()> done_;
};

int RunUnits(Units &units, EventSink &sink, InterruptWatcher &interrupts) {
  return RunGang(
      sink, interrupts, [&](std::function<void()> done) { units.Start(std::move(done)); }, [&] { units.Stop(); },
      [&] { return units.Results(); }, [&] { units.ReportLot(); });
}

session::RunOptions RunOptionsOf(const QString &lot, const QString &operatorName, bool fastReplies) {
  session::RunOptions o;
  o.lot = lot;
  o.frontEnd = QStringLiteral("cli");
  o.operatorName = operatorName;
  o.fastReplies = fastReplies;
  return o;
}

// A load of N boxes: a production run of one attempt a box, of no job and no
// lot; with a serial-number plan each box's unit draws its number and loads
// its own image.
int RunLoad(const SessionPlan &plan, EventSink &sink, InterruptWatcher &interrupts) {
  RunRecords records(plan.records, plan.operatorName);
  session::LoadOrder order;
  order.firmware = plan.firmware;
  order.firmwarePath = SourceOf(plan).path;
  if (plan.Load().load.modeGiven || plan.Load().load.powerGiven)
    order.set = RequestOf(plan, session::BoxOperation::Set);
  order.load = RequestOf(plan, session::BoxOperation::Load);
  order.timeoutSeconds = plan.Boxes().timeoutSeconds;
  const QString station = plan.Boxes().ports.join(QLatin1Char(','));
  std::unique_ptr<session::SerialNumbers> numbers;
  if (plan.Load().load.serialGiven) {
    numbers = std::make_unique<session::SerialNumbers>(plan.Load().load.serialPlan, plan.serialList, plan.firmware.ranges,
                                                       QString(), records.recorder.get(), station);
    QObject::connect(numbers.get(), &session::SerialNumbers::Notice, numbers.get(), [](const QString &text) {
      WriteStderr((QStringLiteral("kavrin-cli: ") + text + QLatin1Char('\n')).toUtf8());
    });
  }
  Units units(Units::Telling::Load, sink, plan.records.kind, std::move(numbers),
              std::make_unique<session::ProductionRun>(order, plan.Boxes().ports, base::SystemClock(),
                                                       records.recorder.get(), RunOptionsOf(QString(), plan.operatorName, plan.Boxes().fastReplies)),
              0);
  return RunUnits(units, sink, interrupts);
}

} // namespace

int RunSessions(const SessionPlan &plan, EventSink &sink, InterruptWatcher &interrupts) {
  if (plan.command == Command::Load)
    return RunLoad(plan, sink, interrupts);
  const std::shared_ptr<serial::SerialLayer> layer = serial::MakePlatformSerialLayer();
  RunRecords records(plan.records, plan.operatorName);
  std::vector<std::unique_ptr<BoxRun>> runs;
  return RunGang(
      sink, interrupts,
      [&](std::function<void()> done) {
        auto running = std::make_shared<size_t>(size_t(plan.Boxes().ports.size()));
        const auto one = [running, done] {
          if (--*running == 0)
            done();
        };
        for (const QString &port : plan.Boxes().ports)
          runs.push_back(std::make_unique<BoxRun>(plan, port, layer, sink, records.attempts, one));
        for (auto &run : runs)
          run->Start();
        if (runs.empty())
          done();
      },
      [&] {
        for (auto &run : runs)
          run->Interrupt();
      },
      [&] {
        std::vector<ResultClass> results;
        for (const auto &run : runs)
          results.push_back(run->Result().value_or(ResultClass::Interrupted));
        return results;
      });
}

int RunJobUnits(const JobPlan &plan, EventSink &sink, InterruptWatcher &interrupts) {
  RunRecords records(plan.records, plan.options.operatorName);
  std::unique_ptr<session::SerialNumbers> numbers =
      session::SerialNumbers::ForJob(plan.job, records.recorder.get(), plan.options.ports);
  if (numbers)
    QObject::connect(numbers.get(), &session::SerialNumbers::Notice, numbers.get(),
                     [&sink](const QString &text) { sink.Message(QString(), text); });
  Units units(Units::Telling::Job, sink, plan.records.kind, std::move(numbers),
              std::make_unique<session::ProductionRun>(
                  plan.job, plan.options.ports, base::SystemClock(), records.recorder.get(),
                  RunOptionsOf(plan.options.lot, plan.options.operatorName, plan.options.fastReplies)),
              plan.options.units);
  return RunUnits(units, sink, interrupts);
}

} // namespace cli
