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
#include "session/unit_run.h"

#include <QElapsedTimer>
#include <QUuid>
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
  const Options &o = plan.options;
  session::OperationRequest q;
  q.operation = operation;
  q.timeOutSeconds = uint32_t(o.timeoutSeconds);
  switch (operation) {
  case session::BoxOperation::Set:
    q.mode = o.mode;
    q.supply = o.supply;
    q.count = plan.command == Command::Set ? o.setCount : 0;
    break;
  case session::BoxOperation::Load:
    if (o.modeGiven || o.powerGiven) {
      q.mode = o.mode;
      q.supply = o.supply;
    }
    q.count = int32_t(o.count.toUInt());
    q.sectors = o.sectorMask;
    break;
  case session::BoxOperation::ReadOut:
    q.chip = plan.chip->record;
    q.imageSize = plan.chip->imageSize;
    q.outputFile = QFileInfo(o.out).absoluteFilePath();
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
QString UnitReason(const session::UnitStatus &s, ResultClass result, int timeoutSeconds, bool setUnanswered) {
  switch (result) {
  case ResultClass::NoAnswer:
    return setUnanswered ? QStringLiteral("no answer to the set frame within %1 s").arg(timeoutSeconds)
                         : session::NoAnswerText(timeoutSeconds);
  case ResultClass::PortLost:
  case ResultClass::PortUnavailable:
    return s.detail.isEmpty() ? session::English(s.reason) : s.detail;
  case ResultClass::BoxFailed:
    return s.reason.IsEmpty() ? session::kBoxFailedText : session::English(s.reason);
  case ResultClass::FileRefused:
    return session::English(s.reason);
  case ResultClass::NotRecorded:
    return s.reason.Designed();
  case ResultClass::Interrupted:
    return session::kStoppedText;
  default:
    return {};
  }
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
  return {QFileInfo(plan.options.file).absoluteFilePath(), plan.firmware.sha256};
}

// The result of a box, as a run tells it.
class Run {
public:
  virtual ~Run() = default;
  virtual void Start() = 0;
  virtual void Interrupt() = 0;
  virtual std::optional<ResultClass> Result() const = 0;
};

// One box of verify, erase-program-verify, set or read-out: its session and
// the command on it, from opening the port to its result. Every step waits
// for the session's report; nothing blocks.
class BoxRun : public Run {
public:
  BoxRun(const SessionPlan &plan, const QString &port, std::shared_ptr<serial::SerialLayer> layer, EventSink &sink,
         session::AttemptRecords &records, std::function<void()> done)
      : plan_(plan), port_(port), session_(std::move(layer)), sink_(sink), records_(records), done_(std::move(done)) {
    session_.SetFastReplies(plan.options.fastReplies);
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

  void Start() override {
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

  void Interrupt() override {
    if (!done_)
      return;
    Finish(ResultClass::Interrupted, session::kStoppedText);
  }

  std::optional<ResultClass> Result() const override { return result_; }

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
      reason = attempt.Operation() == session::BoxOperation::Set
                   ? QStringLiteral("no answer to the set frame within %1 s").arg(plan_.options.timeoutSeconds)
                   : session::NoAnswerText(plan_.options.timeoutSeconds);
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
    return SaveReadOut(plan_.options.out, segments);
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

// One box of a load: the unit it programs, as the engine runs every unit
// (session/unit_run.h), reported as a load. With a serial-number plan the
// unit draws its number and loads its own image, and its events name it.
class LoadRun : public Run {
public:
  LoadRun(const SessionPlan &plan, std::shared_ptr<const session::UnitPlan> unitPlan, const QString &port, int box,
          std::shared_ptr<serial::SerialLayer> layer, EventSink &sink, records::Recorder *recorder,
          session::SerialNumbers *numbers, std::function<void()> done)
      : plan_(plan), unitPlan_(std::move(unitPlan)), port_(port), box_(box), session_(std::move(layer)), sink_(sink),
        recorder_(recorder), numbers_(numbers), done_(std::move(done)) {
    session_.SetFastReplies(plan.options.fastReplies);
    QObject::connect(&session_, &session::BoxSession::Error, &session_,
                     [this](const QString &text) { sink_.Message(port_, text); });
  }

  void Start() override {
    clock_.start();
    sink_.Start(port_, CommandName(Command::Load));
    session::UnitStatus status;
    status.box = box_;
    status.port = port_;
    unit_ = std::make_unique<session::UnitRun>(unitPlan_, session_, status, base::SystemClock(), recorder_, numbers_);
    QObject::connect(unit_.get(), &session::UnitRun::Changed, unit_.get(), [this](const session::UnitStatus &s) {
      // The unit's events carry its number once it has one.
      if (numbers_ && !tagged_ && !s.serial.isEmpty()) {
        tagged_ = true;
        sink_.Unit(port_, {s.unitUid, 1, s.serial});
      }
      if (s.state == session::UnitState::Busy && s.attempt > 0 && s.percent != shownPercent_)
        sink_.Progress(port_, shownPercent_ = s.percent);
    });
    QObject::connect(unit_.get(), &session::UnitRun::StepEnded, unit_.get(),
                     [this](const session::UnitStatus &, const session::Attempt &step) {
                       lastStep_ = step.Operation();
                       mismatch_ = step.end.mismatch;
                       if (ShownOnTheCommandLine(step.end.message))
                         sink_.Message(port_, step.end.message);
                     });
    QObject::connect(unit_.get(), &session::UnitRun::Notice, unit_.get(),
                     [this](const QString &message, const QString &reason) {
                       sink_.Message(port_, reason.isEmpty() ? message : message + QStringLiteral(": ") + reason);
                     });
    QObject::connect(unit_.get(), &session::UnitRun::Started, unit_.get(), [this] {
      if (!plan_.firmware.leftOutNotice.isEmpty())
        sink_.Message(port_, plan_.firmware.leftOutNotice);
      unit_->Attempt();
    });
    QObject::connect(unit_.get(), &session::UnitRun::AttemptEnded, unit_.get(),
                     [this](const session::OperationEnd &end) {
                       // A load has one attempt.
                       unit_->Finish(end.outcome == session::Outcome::Ok ? session::UnitState::Pass
                                                                          : session::UnitState::Fail,
                                     end.outcome, end.message);
                     });
    QObject::connect(unit_.get(), &session::UnitRun::Ended, unit_.get(),
                     [this](const session::UnitStatus &s) { Ended(s); });
    unit_->Begin();
  }

  void Interrupt() override {
    if (done_ && unit_)
      unit_->Stop();
  }

  std::optional<ResultClass> Result() const override { return result_; }

private:
  void Ended(const session::UnitStatus &s) {
    ResultClass result = s.outcome;
    switch (s.state) {
    case session::UnitState::Pass:
      result = ResultClass::Ok;
      break;
    case session::UnitState::NotRecorded:
      result = ResultClass::NotRecorded;
      break;
    case session::UnitState::Ready:
      // Refused its data by a store away: the station's fault, told as the refusal it is.
      if (s.outcome == session::Outcome::FileRefused)
        break;
      result = ResultClass::Interrupted;
      break;
    default:
      break;
    }
    const QString reason =
        UnitReason(s, result, plan_.options.timeoutSeconds, lastStep_ == session::BoxOperation::Set);
    // A transfer stopped mid-block: the port stays open until the box has
    // answered that block, so that the next load on it starts clean.
    if (session_.AnswerOwed()) {
      QObject::connect(
          &session_, &session::BoxSession::Settled, &session_, [this, result, reason] { Report(result, reason); },
          Qt::SingleShotConnection);
      return;
    }
    Report(result, reason);
  }

  void Report(ResultClass result, const QString &reason) {
    session_.ClosePort();
    result_ = result;
    const QString checksum = unit_->Image() ? unit_->Image()->checksumCaption : plan_.firmware.checksumCaption;
    ResultInfo info{result, double(clock_.elapsed()) / 1000.0, checksum,
                    result == ResultClass::VerifyMismatch ? mismatch_ : std::nullopt, reason};
    info.unit = numbers_ != nullptr; // a load with serial numbers counts units
    sink_.Result(port_, info);
    if (auto done = std::exchange(done_, nullptr))
      done();
  }

  const SessionPlan &plan_;
  const std::shared_ptr<const session::UnitPlan> unitPlan_;
  const QString port_;
  const int box_;
  session::BoxSession session_;
  EventSink &sink_;
  records::Recorder *const recorder_;
  session::SerialNumbers *const numbers_;
  std::function<void()> done_;
  std::unique_ptr<session::UnitRun> unit_;
  QElapsedTimer clock_;
  int shownPercent_ = -1;
  bool tagged_ = false;
  std::optional<session::BoxOperation> lastStep_;
  std::optional<session::Mismatch> mismatch_;
  std::optional<ResultClass> result_;
};

// What every unit of a load does: the set when a mode or supply was given,
// then the load, of no job. Every box of a gang without serial numbers loads
// the one image packed here: a copy per box made the memory grow with every --port.
std::shared_ptr<const session::UnitPlan> LoadPlanOf(const SessionPlan &plan) {
  const Options &o = plan.options;
  auto unit = std::make_shared<session::UnitPlan>();
  unit->station = o.ports.join(QLatin1Char(','));
  unit->frontEnd = QStringLiteral("cli");
  unit->operatorName = o.operatorName;
  unit->timeoutSeconds = o.timeoutSeconds;
  if (o.modeGiven || o.powerGiven)
    unit->set = RequestOf(plan, session::BoxOperation::Set);
  unit->load = RequestOf(plan, session::BoxOperation::Load);
  unit->image = std::make_shared<const std::vector<uint8_t>>(plan.firmware.image.bytes);
  unit->source = SourceOf(plan);
  unit->count = uint32_t(o.count.toUInt());
  unit->sectors = o.sectorMask;
  unit->filled = plan.firmware.ranges;
  unit->sharedImage = session::PackLoadImage(*unit->image, unit->source, unit->count, unit->sectors, unit->filled);
  return unit;
}

} // namespace

std::optional<records::StoreLocation> RecordStore(const Options &options, QString *error) {
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
  RunRecords run(plan.records, plan.options.operatorName);
  const QDateTime now = QDateTime::currentDateTimeUtc();
  for (const QString &port : plan.options.ports)
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

int RunSessions(const SessionPlan &plan, EventSink &sink, InterruptWatcher &interrupts) {
  const std::shared_ptr<serial::SerialLayer> layer = serial::MakePlatformSerialLayer();
  RunRecords records(plan.records, plan.options.operatorName);
  const bool load = plan.command == Command::Load;
  const std::shared_ptr<const session::UnitPlan> unitPlan = load ? LoadPlanOf(plan) : nullptr;
  // With a serial-number plan each box's unit draws its number and packs its own image.
  std::unique_ptr<session::SerialNumbers> numbers;
  if (load && plan.options.serialGiven) {
    numbers = std::make_unique<session::SerialNumbers>(plan.options.serialPlan, plan.serialList, plan.firmware.ranges,
                                                       QString(), records.recorder.get(), unitPlan->station);
    QObject::connect(numbers.get(), &session::SerialNumbers::Notice, numbers.get(), [](const QString &text) {
      WriteStderr((QStringLiteral("kavrin-cli: ") + text + QLatin1Char('\n')).toUtf8());
    });
  }
  std::vector<std::unique_ptr<Run>> runs;
  return RunGang(
      sink, interrupts,
      [&](std::function<void()> done) {
        auto running = std::make_shared<size_t>(size_t(plan.options.ports.size()));
        const auto one = [running, done] {
          if (--*running == 0)
            done();
        };
        for (const QString &port : plan.options.ports)
          if (load)
            runs.push_back(std::make_unique<LoadRun>(plan, unitPlan, port, int(runs.size()) + 1, layer, sink,
                                                     records.recorder.get(), numbers.get(), one));
          else
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

namespace {

// The units of a job on the boxes of the plan, reported as loads are.
class JobUnits {
public:
  JobUnits(const JobPlan &plan, EventSink &sink, records::Recorder *recorder)
      : plan_(plan), sink_(sink), numbers_(session::SerialNumbers::ForJob(plan.job, recorder, plan.options.ports)),
        run_(plan.job, plan.options.ports, base::SystemClock(), recorder, RunOptionsOf(plan)),
        shown_(size_t(run_.BoxCount())) {
    if (numbers_) {
      run_.SetUnitDataProvider(numbers_.get());
      QObject::connect(numbers_.get(), &session::SerialNumbers::Notice, numbers_.get(),
                       [this](const QString &text) { sink_.Message(QString(), text); });
    }
    units_ = plan.options.units > 0 ? plan.options.units : run_.BoxCount();
    QObject::connect(&run_, &session::ProductionRun::UnitChanged, &run_,
                     [this](const session::UnitStatus &s) { Changed(s); });
    QObject::connect(&run_, &session::ProductionRun::StepEnded, &run_,
                     [this](const session::UnitStatus &s, const session::Attempt &step) { StepEnded(s, step); });
    QObject::connect(&run_, &session::ProductionRun::UnitEnded, &run_,
                     [this](const session::UnitStatus &s) { Ended(s); });
    QObject::connect(&run_, &session::ProductionRun::Notice, &run_,
                     [this](int box, const QString &text) { sink_.Message(run_.Unit(box).port, text); });
    QObject::connect(&run_, &session::ProductionRun::CountersChanged, &run_, [this] { MaybeDone(); });
    for (int box = 1; box <= run_.BoxCount(); ++box)
      QObject::connect(&run_.Session(box), &session::BoxSession::Settled, &run_, [this] { MaybeDone(); });
    QObject::connect(&run_, &session::ProductionRun::LotFull, &run_, [this](int box) {
      lotFull_ = true;
      unstarted_.insert(box);
    });
  }

  void Start(std::function<void()> done) {
    done_ = std::move(done);
    for (int box = 1; box <= run_.BoxCount() && started_ < units_; ++box)
      Next(box);
    MaybeDone();
  }

  void Stop() {
    stopping_ = true;
    run_.Stop();
    MaybeDone();
  }

  std::vector<ResultClass> Results() const { return results_; }

  // The lot's counters, as the records have them with this run's units.
  void ReportLot() {
    if (plan_.records.kind == records::StoreLocation::Kind::Off)
      return;
    const session::RunCounters &c = run_.Counters();
    LotInfo lot{run_.Lot(), c.passed, c.failed, c.lotSize, true, QString()};
    // A server out of reach leaves its last count and this station's spool; a file, nothing.
    if (!c.current && plan_.records.kind == records::StoreLocation::Kind::Postgres)
      lot.current = false;
    else if (!c.current)
      lot.error = c.error;
    sink_.Lot(lot);
  }

private:
  static session::RunOptions RunOptionsOf(const JobPlan &plan) {
    session::RunOptions o;
    o.lot = plan.options.lot;
    o.frontEnd = QStringLiteral("cli");
    o.operatorName = plan.options.operatorName;
    o.fastReplies = plan.options.fastReplies;
    return o;
  }

  struct Shown {
    QString unitUid;
    int attempt = 0;
    int percent = -1;
    session::UnitState state = session::UnitState::Ready;
    std::optional<session::Mismatch> mismatch;
    std::optional<session::BoxOperation> lastStep;
    bool noticed = false; // the firmware's left-out notice was shown for this box
  };

  void Next(int box) {
    ++started_;
    if (!run_.Start(box))
      --started_;
  }

  void Changed(const session::UnitStatus &s) {
    Shown &shown = shown_[size_t(s.box - 1)];
    const QString &port = s.port;
    if (s.state == session::UnitState::Busy && s.attempt > 0 &&
        (s.unitUid != shown.unitUid || s.attempt != shown.attempt)) {
      shown.unitUid = s.unitUid;
      shown.attempt = s.attempt;
      shown.percent = -1;
      shown.mismatch.reset();
      shown.lastStep.reset();
      sink_.Unit(port, {s.unitUid, s.attempt, s.serial});
      sink_.Start(port, plan_.job.job->operation == job::Operation::LoadVerify ? QStringLiteral("load-verify")
                                                                               : QStringLiteral("load"));
      if (!shown.noticed && !plan_.job.firmware.leftOutNotice.isEmpty())
        sink_.Message(port, plan_.job.firmware.leftOutNotice);
      shown.noticed = true;
    }
    if (s.state == session::UnitState::Busy && s.attempt > 0 && s.percent != shown.percent)
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

  void Ended(const session::UnitStatus &s) {
    const Shown &shown = shown_[size_t(s.box - 1)];
    if (s.state == session::UnitState::NotRecorded) {
      // No record, no pass: the run stops starting units (the engine refuses them).
      sink_.Unit(s.port, s.attempt > 0 ? UnitTag{s.unitUid, s.attempt, s.serial} : UnitTag{});
      ResultInfo info{ResultClass::NotRecorded, s.unitSeconds, run_.UnitChecksum(s.box), std::nullopt,
                      s.reason.Designed()};
      info.unit = true;
      sink_.Result(s.port, info);
      results_.push_back(ResultClass::NotRecorded);
      MaybeDone();
      return;
    }
    if (unstarted_.erase(s.box)) {
      // No unit: the lot's places are all held, here or on other stations.
      sink_.Unit(s.port, {});
      sink_.Message(s.port, QStringLiteral("the lot %1 has no place left: no unit started").arg(run_.Lot()));
      MaybeDone();
      return;
    }
    // Ready with FileRefused: refused its data by a store away, the station's fault, told as the refusal it is.
    const ResultClass result = s.state == session::UnitState::Ready && s.outcome != session::Outcome::FileRefused
                                   ? ResultClass::Interrupted
                                   : s.outcome;
    const QString reason =
        UnitReason(s, result, plan_.job.job->timeoutSeconds, shown.lastStep == session::BoxOperation::Set);
    // The result names its own unit, or none for one that never started;
    // never the box's unit before.
    sink_.Unit(s.port, s.attempt > 0 ? UnitTag{s.unitUid, s.attempt, s.serial} : UnitTag{});
    ResultInfo info{result, s.unitSeconds, run_.UnitChecksum(s.box),
                    result == ResultClass::VerifyMismatch ? shown.mismatch : std::nullopt, reason};
    info.unit = true;
    sink_.Result(s.port, info);
    results_.push_back(result);
    // A box whose port does not open would only fail every unit it is given,
    // and a unit refused its data (no number left) every unit after it.
    if (!stopping_ && !lotFull_ && result != ResultClass::PortUnavailable && result != ResultClass::FileRefused &&
        started_ < units_) {
      ++pending_;
      QTimer::singleShot(0, &run_, [this, box = s.box] {
        --pending_;
        if (!stopping_)
          Next(box);
        MaybeDone();
      });
    }
    MaybeDone();
  }

  void MaybeDone() {
    if (!done_ || run_.Busy() || pending_ > 0)
      return;
    // A transfer stopped mid-block: its port closes once the box answered that block.
    for (int box = 1; box <= run_.BoxCount(); ++box)
      if (run_.Session(box).AnswerOwed())
        return;
    // The lot's figures include this run's units once the store has answered for them.
    const session::RunCounters &c = run_.Counters();
    if (plan_.records.kind != records::StoreLocation::Kind::Off &&
        (!run_.CountsSettled() || (!c.loaded && c.error.isEmpty())))
      return;
    std::exchange(done_, nullptr)();
  }

  const JobPlan &plan_;
  EventSink &sink_;
  std::unique_ptr<session::SerialNumbers> numbers_; // outlives the run that asks it
  session::ProductionRun run_;
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

} // namespace

int RunJobUnits(const JobPlan &plan, EventSink &sink, InterruptWatcher &interrupts) {
  RunRecords records(plan.records, plan.options.operatorName);
  JobUnits units(plan, sink, records.recorder.get());
  return RunGang(
      sink, interrupts, [&](std::function<void()> done) { units.Start(std::move(done)); }, [&] { units.Stop(); },
      [&] { return units.Results(); }, [&] { units.ReportLot(); });
}

} // namespace cli
