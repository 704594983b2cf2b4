#include "cli/run_sessions.h"

#include "base/exception.h"
#include "cli/hex_writer.h"
#include "image/image_blocks.h"
#include "protocol/clocks.h"
#include "protocol/frames.h"
#include "protocol/reply.h"
#include "serial/comm.h"
#include "session/box_session.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <memory>
#include <vector>

namespace cli {

namespace {

// The window's words for a port that does not open.
const QString kOpenFailed = QStringLiteral("Open serial port fails, re-select the serial port ");
// Verify and erase-program-verify take no chip: their progress is paced as for 32 KiB.
const QString kWholeImageEnd = QStringLiteral("7FFF");

// One box: its session and the steps of the command on it, from opening the
// port to its result. Every step waits for the session's report; nothing blocks.
class BoxRun {
public:
  BoxRun(const SessionPlan &plan, const QString &port, std::shared_ptr<SerialLayer> layer, EventSink &sink,
         std::function<void()> done)
      : plan_(plan), port_(port), session_(std::move(layer)), sink_(sink), done_(std::move(done)) {
    session_.SetTimeOutSeconds(uint32_t(plan.options.timeoutSeconds));
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
    QObject::connect(&deadline_, &QTimer::timeout, &session_, [this] { SetUnanswered(); });
  }

  void Start() {
    clock_.start();
    sink_.Start(port_, CommandName(plan_.command));
    try {
      session_.OpenPort(port_);
    } catch (const ECommsError &e) {
      sink_.Message(port_, kOpenFailed);
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
    Finish(ResultClass::NoAnswer,
           QStringLiteral("no answer to the set frame within %1 s").arg(plan_.options.timeoutSeconds));
  }

  void Transfer() {
    const Options &o = plan_.options;
    FirmwareImage &image = session_.Image();
    image.ImageText = plan_.firmware.imageText;
    image.ImageSize = kLoadImageSize;
    const BlockTrailer trailer{MakeNameField(o.file), MakeCountField(o.count), o.sectorMask};
    BuildBlocks(image.ImageText, image.ImageSize, QStringLiteral("0000"), trailer, image.ImageBlocks);
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
    if (end.outcome == Outcome::Ok && plan_.command == Command::ReadOut) {
      std::vector<HexSegment> segments;
      for (const auto &[address, bytes] : readOut_)
        segments.push_back({address, std::span(reinterpret_cast<const uint8_t *>(bytes.constData()),
                                               size_t(bytes.size()))});
      if (const QString error = SaveReadOut(plan_.options.out, segments); !error.isEmpty()) {
        Finish(ResultClass::BoxFailed, error);
        return;
      }
    }
    Finish(end.outcome, reason, end.mismatch);
  }

  void Finish(ResultClass result, const QString &reason, std::optional<Mismatch> mismatch = std::nullopt) {
    deadline_.stop();
    session_.Stop();
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
  BoxSession session_;
  EventSink &sink_;
  std::function<void()> done_;
  QElapsedTimer clock_;
  QTimer deadline_;
  bool settingUp_ = false;
  int shownPercent_ = -1;
  QString lost_;
  std::vector<std::pair<uint32_t, QByteArray>> readOut_;
  std::optional<ResultClass> result_;
};

} // namespace

int RunSessions(const SessionPlan &plan, EventSink &sink, InterruptWatcher &interrupts) {
  const std::shared_ptr<SerialLayer> layer = MakePlatformSerialLayer();
  QEventLoop loop;
  size_t running = size_t(plan.options.ports.size());
  std::vector<std::unique_ptr<BoxRun>> runs;
  for (const QString &port : plan.options.ports)
    runs.push_back(std::make_unique<BoxRun>(plan, port, layer, sink, [&] {
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
