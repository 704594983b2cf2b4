#include "cli/run_sessions.h"

#include "base/exception.h"
#include "cli/console.h"
#include "cli/hex_writer.h"
#include "image/image_blocks.h"
#include "protocol/clocks.h"
#include "protocol/frames.h"
#include "protocol/reply.h"
#include "serial/comm.h"
#include "records/recorder.h"
#include "serial/serial_devices.h"
#include "session/attempt_records.h"
#include "session/box_session.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <dirent.h>
#include <memory>
#include <sys/resource.h>
#include <vector>

namespace cli {

namespace {

// The window's words for a port that does not open.
const QString kOpenFailed = QStringLiteral("Open serial port fails, re-select the serial port ");
// Verify and erase-program-verify take no chip: their progress is paced as for 32 KiB.
const QString kWholeImageEnd = QStringLiteral("7FFF");

BoxOperation OperationOf(Command command) {
  switch (command) {
  case Command::Load:
    return BoxOperation::Load;
  case Command::Set:
    return BoxOperation::Set;
  case Command::ReadOut:
    return BoxOperation::ReadOut;
  case Command::EraseProgramVerify:
    return BoxOperation::EraseProgramVerify;
  default:
    return BoxOperation::Verify;
  }
}

// What a record says of an attempt on `port` that the session does not know.
// The set a load may begin with carries the mode and supply, not the file.
records::Record DetailsOf(const SessionPlan &plan, const QString &port, BoxOperation operation) {
  const Options &o = plan.options;
  records::Record d;
  d.station = port;
  d.portPath = StablePortPath(port);
  if (plan.command == Command::Load && operation == BoxOperation::Set) {
    d.mode = ModeName(o.modeItem);
    d.power = PowerName(o.powerItem);
    return d;
  }
  switch (plan.command) {
  case Command::Load:
    if (o.modeGiven || o.powerGiven) {
      d.mode = ModeName(o.modeItem);
      d.power = PowerName(o.powerItem);
    }
    d.count = o.count.toLongLong();
    d.filePath = QFileInfo(o.file).absoluteFilePath();
    d.fileSha256 = plan.firmware.sha256;
    d.imageChecksum = plan.firmware.checksumCaption;
    d.sectors = SectorsText(o.sectorMask);
    break;
  case Command::Set:
    d.mode = ModeName(o.modeItem);
    d.power = PowerName(o.powerItem);
    d.count = o.setCount;
    break;
  case Command::ReadOut:
    d.chip = plan.chip->record.ChipName.trimmed();
    d.dataflash = plan.chip->record.DataflashCode;
    d.filePath = QFileInfo(o.out).absoluteFilePath();
    break;
  default:
    break;
  }
  return d;
}

// One box: its session and the steps of the command on it, from opening the
// port to its result. Every step waits for the session's report; nothing blocks.
class BoxRun {
public:
  // `image`: the gang's one image, which the sessions only read.
  BoxRun(const SessionPlan &plan, const QString &port, std::shared_ptr<SerialLayer> layer, FirmwareImage &image,
         EventSink &sink, AttemptRecords &records, std::function<void()> done)
      : plan_(plan), port_(port), session_(std::move(layer), state_, image), sink_(sink), records_(records),
        done_(std::move(done)) {
    // Every attempt on the box is recorded, the set a load may begin with too.
    // The attempt ends before it is reported: a read-out's file is written
    // then, so that the record says what the operator is told.
    QObject::connect(&session_, &BoxSession::AttemptFinished, &session_, [this](Attempt attempt) {
      if (plan_.command == Command::ReadOut && attempt.operation == BoxOperation::ReadOut &&
          attempt.end.outcome == Outcome::Ok) {
        saveError_ = SaveFile();
        if (!saveError_.isEmpty())
          attempt.end = {Outcome::BoxFailed, saveError_, std::nullopt};
      }
      records_.Add(attempt, DetailsOf(plan_, port_, attempt.operation));
    });
    session_.SetTimeOutSeconds(uint32_t(plan.options.timeoutSeconds));
    session_.SetFastReplies(plan.options.fastReplies);
    QObject::connect(&session_, &BoxSession::Progress, &session_, [this](uint32_t percent) {
      if (int(percent) != shownPercent_)
        sink_.Progress(port_, shownPercent_ = int(percent));
    });
    QObject::connect(&session_, &BoxSession::Ended, &session_, [this](const OperationEnd &end) { Ended(end); });
    QObject::connect(&session_, &BoxSession::PortLost, &session_, [this](const QString &detail) { lost_ = detail; });
    QObject::connect(&session_, &BoxSession::ReadOutBlock, &session_,
                     [this](uint32_t address, const QByteArray &bytes) { readOut_.push_back({address, bytes}); });
    QObject::connect(&session_, &BoxSession::Error, &session_, [this](const QString &text) { sink_.Message(port_, text); });
    deadline_.setSingleShot(true);
    // A coarse timer may fire up to 5 % early; the time-out is a promise to the operator.
    deadline_.setTimerType(Qt::PreciseTimer);
    QObject::connect(&deadline_, &QTimer::timeout, &session_, [this] { SetUnanswered(); });
  }

  void Start() {
    clock_.start();
    const QDateTime started = QDateTime::currentDateTimeUtc();
    sink_.Start(port_, CommandName(plan_.command));
    try {
      session_.OpenPort(port_);
    } catch (const ECommsError &e) {
      sink_.Message(port_, kOpenFailed);
      records_.Add({OperationOf(plan_.command), started, QDateTime::currentDateTimeUtc(),
                    {Outcome::PortUnavailable, kOpenFailed, std::nullopt}, 0},
                   DetailsOf(plan_, port_, OperationOf(plan_.command)));
      Finish(ResultClass::PortUnavailable, e.Reason().isEmpty() ? e.Message() : e.Reason());
      return;
    }
    const Options &o = plan_.options;
    switch (plan_.command) {
    case Command::Load:
      if (o.modeGiven || o.powerGiven)
        Set(QStringLiteral("0000"));
      else
        Transfer();
      break;
    case Command::Set:
      Set(QString::number(o.setCount));
      break;
    case Command::Verify:
      session_.Verify(WholeImage());
      break;
    case Command::EraseProgramVerify:
      session_.EraseProgramVerify(WholeImage());
      break;
    case Command::ReadOut:
      session_.ReadOut(ParseChipNumbers(plan_.chip->record),
                       ReadOutSize(plan_.chip->record.ChipSizeK, plan_.chip->imageSize));
      break;
    case Command::CheckFile:
    case Command::Ports:
    case Command::Records:
      Finish(ResultClass::Ok, {});
      break;
    }
  }

  void Interrupt() {
    if (!done_)
      return;
    Finish(ResultClass::Interrupted, QStringLiteral("stopped by the operator"));
  }

  std::optional<ResultClass> Result() const { return result_; }

private:
  static ChipNumbers WholeImage() {
    ChipRecord chip;
    chip.ChipStart = QStringLiteral("0000");
    chip.ChipEnd = kWholeImageEnd;
    return ParseChipNumbers(chip);
  }

  // The set frame; the window starts no clocks for it, so the run keeps its own deadline.
  void Set(const QString &count) {
    const Options &o = plan_.options;
    settingUp_ = true;
    deadline_.start(o.timeoutSeconds * 1000);
    session_.Set(o.modeItem, o.powerItem, count);
  }

  void SetUnanswered() {
    sink_.Message(port_, kTimeOutMessage);
    // Its record keeps the message shown, as a timed operation's does.
    session_.EndAttempt({Outcome::NoAnswer, kTimeOutMessage, std::nullopt});
    Finish(ResultClass::NoAnswer,
           QStringLiteral("no answer to the set frame within %1 s").arg(plan_.options.timeoutSeconds));
  }

  void Transfer() {
    const Options &o = plan_.options;
    if (!plan_.firmware.leftOutNotice.isEmpty())
      sink_.Message(port_, plan_.firmware.leftOutNotice);
    session_.SetOnline(o.modeGiven && o.modeItem == 0);
    session_.Load();
  }

  void Ended(const OperationEnd &end) {
    if (result_)
      return; // the box spoke again after its result
    if (!end.message.isEmpty())
      sink_.Message(port_, end.message);
    if (settingUp_) {
      settingUp_ = false;
      deadline_.stop();
      if (plan_.command == Command::Load && end.outcome == Outcome::Ok) {
        Transfer();
        return;
      }
    }
    QString reason;
    switch (end.outcome) {
    case Outcome::NoAnswer:
      reason = QStringLiteral("no answer within %1 s").arg(plan_.options.timeoutSeconds);
      break;
    case Outcome::PortLost:
      reason = lost_;
      break;
    case Outcome::BoxFailed:
      if (end.message.isEmpty())
        reason = QStringLiteral("the box answered with a failure");
      break;
    default:
      break;
    }
    if (end.outcome == Outcome::Ok && !saveError_.isEmpty()) {
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

  void Finish(ResultClass result, const QString &reason, std::optional<Mismatch> mismatch = std::nullopt) {
    deadline_.stop();
    session_.Stop(result); // ends an attempt the box left unanswered (a set, an interrupted one)
    session_.ClosePort();
    result_ = result;
    ResultInfo info{result, double(clock_.elapsed()) / 1000.0, std::nullopt, mismatch, reason};
    if (plan_.command == Command::Load)
      info.checksum = plan_.firmware.checksumCaption;
    sink_.Result(port_, info);
    if (auto done = std::exchange(done_, nullptr))
      done();
  }

  const SessionPlan &plan_;
  const QString port_;
  OperationState state_; // before the session, which works on it
  BoxSession session_;
  EventSink &sink_;
  AttemptRecords &records_;
  std::function<void()> done_;
  QElapsedTimer clock_;
  QTimer deadline_;
  bool settingUp_ = false;
  int shownPercent_ = -1;
  QString lost_;
  std::vector<std::pair<uint32_t, QByteArray>> readOut_;
  QString saveError_; // why the read-out's file was not written
  std::optional<ResultClass> result_;
};

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
  AttemptRecords attempts;

  explicit RunRecords(const records::StoreLocation &where)
      : recorder(where.kind == records::StoreLocation::Kind::Off ? nullptr
                                                                 : std::make_unique<records::Recorder>(where)),
        attempts(recorder.get(), QStringLiteral("cli")) {
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

// What every box of a load sends is the same, so a gang packs it once and its
// sessions share it: a copy per box (its text table alone is 2 MiB) made the
// memory grow with every --port. Only the blocks are sent; the sessions never
// read the text table, so it stays empty.
FirmwareImage GangImage(const SessionPlan &plan) {
  FirmwareImage image{{}, 0, {}};
  if (plan.command != Command::Load)
    return image;
  const Options &o = plan.options;
  image.ImageSize = kLoadImageSize;
  const BlockTrailer trailer{MakeNameField(o.file), MakeCountField(o.count), o.sectorMask};
  BuildBlocks(plan.firmware.imageText, image.ImageSize, QStringLiteral("0000"), trailer, image.ImageBlocks);
  return image;
}

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
  RunRecords run(plan.records);
  const QDateTime now = QDateTime::currentDateTimeUtc();
  for (const QString &port : plan.options.ports)
    run.attempts.Add({BoxOperation::Load, now, now, {Outcome::FileRefused, plan.firmware.refusal, std::nullopt}, 0},
                     DetailsOf(plan, port, BoxOperation::Load));
}

int RunSessions(const SessionPlan &plan, EventSink &sink, InterruptWatcher &interrupts) {
  const std::shared_ptr<SerialLayer> layer = MakePlatformSerialLayer();
  FirmwareImage image = GangImage(plan);
  RunRecords records(plan.records);
  QEventLoop loop;
  size_t running = size_t(plan.options.ports.size());
  std::vector<std::unique_ptr<BoxRun>> runs;
  for (const QString &port : plan.options.ports)
    runs.push_back(std::make_unique<BoxRun>(plan, port, layer, image, sink, records.attempts, [&] {
      if (--running == 0)
        loop.quit();
    }));
  interrupts.OnInterrupt = [&] {
    for (auto &run : runs)
      run->Interrupt();
  };
  for (auto &run : runs)
    run->Start();
  if (running > 0)
    loop.exec();
  interrupts.OnInterrupt = nullptr;
  sink.Finish();
  std::vector<ResultClass> results;
  for (const auto &run : runs)
    results.push_back(run->Result().value_or(ResultClass::Interrupted));
  return RunExitCode(results);
}

} // namespace cli
