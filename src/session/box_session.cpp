#include "session/box_session.h"

#include "base/exception.h"
#include "base/timer.h"
#include "image/firmware_image.h"
#include "image/image_blocks.h"
#include "protocol/clocks.h"
#include "protocol/frames.h"
#include "protocol/operation_state.h"
#include "protocol/reply.h"
#include "serial/comm.h"
#include "serial/comm_threads.h"

namespace session {

namespace {
constexpr int kProgressPeriodMs = 200;
constexpr uint32_t kBurstSilenceMs = 100; // silence that ends a burst
// With fast replies the line hands over what it has after this much silence,
// and the session itself waits for the rest of the 100 ms.
constexpr uint32_t kFastReadIntervalMs = 2;
constexpr int kPortWatchPeriodMs = 1000;
// How long a transfer stopped mid-block waits for the box's answer to that
// block: the block's time on the line at 38400 baud (4120 bytes, about 1.1 s)
// and the box's thinking, with room to spare.
constexpr int kOwedAnswerMs = 3000;

uint8_t CommandOf(BoxOperation operation) {
  switch (operation) {
  case BoxOperation::Set:
    return protocol::kCommandSet;
  case BoxOperation::Load:
    return protocol::kCommandFileTransfer;
  case BoxOperation::Verify:
    return protocol::kCommandVerify;
  case BoxOperation::ReadOut:
    return protocol::kCommandReadOut;
  case BoxOperation::EraseProgramVerify:
    return protocol::kCommandEraseProgramVerify;
  }
  return protocol::kCommandNone;
}

// What a block request is answered from before any load was packed.
std::shared_ptr<const LoadImage> EmptyImage() {
  static const auto empty = [] {
    auto image = std::make_shared<LoadImage>();
    image->blocks.assign(size_t(image::kBlockSlots) * image::kBlockSlotSize, 0);
    return std::shared_ptr<const LoadImage>(std::move(image));
  }();
  return empty;
}
} // namespace

class BoxSessionCore {
public:
  using Phase = BoxSession::Phase;

  BoxSessionCore(BoxSession &session, std::shared_ptr<serial::SerialLayer> layer, base::Clock &clock)
      : s(session), comm(std::make_unique<serial::TComm>(nullptr, std::move(layer))),
        progressClock(nullptr, kProgressPeriodMs, clock), elapsedClock(nullptr, int(protocol::kElapsedTickMs), clock) {
    comm->setObjectName(QStringLiteral("Comm1"));
    // The line as the box needs it, besides what every opening sets again.
    comm->SetDtrControl(serial::TDtrControl::DtrDisable);
    comm->SetRtsControl(serial::TRtsControl::RtsDisable);
    comm->SetOutx_XonXoffFlow(false);
    comm->SetInx_XonXoffFlow(false);
    comm->SetReadIntervalTimeout(kBurstSilenceMs);
    comm->OnReceiveData = [this](serial::TComm *, const uint8_t *buffer, uint16_t length) {
      Handled([&] { fastReplies ? Gather(buffer, length) : Receive(buffer, length); });
    };
    comm->OnRequestHangup = [this](serial::TComm *) { Handled([this] { Hangup(); }); };
    progressClock.OnTimer = [this] { Handled([this] { ProgressTick(); }); };
    elapsedClock.OnTimer = [this] { Handled([this] { ElapsedTick(); }); };
    burstSilence = clock.MakeAlarm([this] { Handled([this] { DeliverGathered(); }); });
    setDeadline = clock.MakeAlarm([this] { Handled([this] { SetUnanswered(); }); });
    portWatch = clock.MakeAlarm([this] { Handled([this] { TryLostPort(); }); });
    owedDeadline = clock.MakeAlarm([this] { Handled([this] { Settle(); }); });
  }

  // The session's own events end here: what they could not do is reported, never thrown into the event loop.
  template <typename F> void Handled(F &&step) {
    try {
      step();
    } catch (const base::Exception &e) {
      emit s.Error(e.Reason().isEmpty() ? e.Message() : e.Message() + QStringLiteral(": ") + e.Reason());
    }
  }

  // The code the replies are read for: none once stopped.
  uint8_t Command() const {
    return phase == Phase::Idle || !operation ? uint8_t(protocol::kCommandNone) : CommandOf(*operation);
  }

  void SetLine(const QString &name) {
    comm->SetCommName(name);
    comm->SetBaudRate(38400);
    comm->SetByteSize(serial::TByteSize::_8);
    comm->SetParity(serial::TParity::None);
    comm->SetStopBits(serial::TStopBits::_1);
  }

  void Opened() {
    // An open port needs no watch, whoever opened it.
    portWatch->Disarm();
  }

  // --- Attempts ---

  void Begin(const OperationRequest &request, Phase next) {
    // An operation the box never answered ends when the next one starts.
    FinishAttempt({protocol::Outcome::NoAnswer, QString(), std::nullopt});
    setDeadline->Disarm();
    Attempt a;
    a.request = request;
    a.port = comm->CommName();
    a.startedAt = QDateTime::currentDateTimeUtc();
    attempt = std::move(a);
    operation = request.operation;
    phase = next;
    portClosedAtStart = !comm->IsOpen();
    bytesSent = 0;
    blockUnanswered = false;
    ForgetOwedAnswer(); // the new frame ends the transfer in the box
    online = request.mode == BoxMode::Online;
    timeOutSeconds = request.timeOutSeconds.value_or(protocol::kTimeOutSeconds);
  }

  void FinishAttempt(OperationEnd end) {
    if (!attempt)
      return;
    Attempt a = std::move(*attempt);
    attempt.reset();
    if (end.outcome == protocol::Outcome::NoAnswer && portClosedAtStart)
      end.outcome = protocol::Outcome::PortUnavailable;
    a.end = std::move(end);
    a.finishedAt = QDateTime::currentDateTimeUtc();
    a.bytesSent = bytesSent;
    emit s.AttemptEnded(a);
  }

  // An ending reply, the time-out or the port lost: the attempt ends, or, when
  // it ended before, the front end hears of it as a late reply.
  void Finish(OperationEnd end) {
    setDeadline->Disarm();
    if (!attempt) {
      emit s.LateReply(end);
      return;
    }
    phase = Phase::Ended;
    FinishAttempt(std::move(end));
  }

  void Send(std::span<const uint8_t> bytes) {
    // A refused send (port closed) is silent: the time-out reports the missing answer.
    if (comm->SendData(bytes.data(), uint16_t(bytes.size())))
      bytesSent += bytes.size();
  }

  void Start(const OperationRequest &request) {
    switch (request.operation) {
    case BoxOperation::Set: {
      // A set without a mode sets the box offline, as the window's choice without an item does.
      const protocol::Frame frame = protocol::SetCmd(request.mode.value_or(BoxMode::Offline),
                                                     request.supply.value_or(BoxSupply::Unchosen), request.count);
      Begin(request, Phase::Setting);
      Send(frame);
      if (request.timeOutSeconds)
        setDeadline->Arm(int(*request.timeOutSeconds * 1000), false);
      break;
    }
    case BoxOperation::Load:
      Begin(request, Phase::Announcing);
      state.BlocksToAsk = 0; // until an image is handed over
      state.BlocksAsked = 0;
      Send(protocol::LoadCmd());
      if (request.image)
        HandOver(request.image);
      break;
    case BoxOperation::Verify: {
      const chip::ChipNumbers chip = chip::ParseChipNumbers(request.chip);
      Begin(request, Phase::Verifying);
      Send(protocol::CheckCmd());
      StartClocks(protocol::VerifyInterval(chip.start, chip.end));
      break;
    }
    case BoxOperation::ReadOut: {
      const chip::ChipNumbers chip = chip::ParseChipNumbers(request.chip);
      const protocol::Frame frame = protocol::ReadCmd(
          chip.startText, protocol::ReadOutSize(request.chip.ChipSizeK, request.imageSize), chip.dataflashCode);
      Begin(request, Phase::ReadingOut);
      state.ReadBlockCount = 0;
      readOutChip = chip;
      readOutPending.clear();
      Send(frame);
      StartClocks(protocol::ReadOutInterval(chip.start, chip.end));
      break;
    }
    case BoxOperation::EraseProgramVerify: {
      const chip::ChipNumbers chip = chip::ParseChipNumbers(request.chip);
      Begin(request, Phase::ErasingProgrammingVerifying);
      Send(protocol::EPCCmd());
      StartClocks(protocol::EraseProgramVerifyInterval(chip.start, chip.end));
      break;
    }
    }
  }

  void HandOver(std::shared_ptr<const LoadImage> next) {
    if (phase != Phase::Announcing || !attempt || !next)
      return;
    image = std::move(next);
    attempt->request.image = image;
    attempt->file = image->source;
    phase = Phase::Transferring;
    // Block 0 goes out now; the box must ask for every other block holding data.
    state.BlocksAsked = 1;
    state.BlocksToAsk = image->dataBlocks;
    StartClocks(protocol::FileTransferInterval(image::kLoadImageSize));
    SendBlock(image::FirstBlockBytes(image->blocks));
  }

  void Stop(protocol::Outcome outcome) {
    StopClocks();
    setDeadline->Disarm();
    phase = Phase::Idle;
    if (blockUnanswered && comm->IsOpen()) {
      answerOwed = true;
      owedDeadline->Arm(kOwedAnswerMs, false);
    }
    FinishAttempt({outcome, QString(), std::nullopt});
  }

  // The box answered the block it was taking in when the transfer stopped
  // (the answer is dropped), or it never will: it now waits for a block at a
  // block's start, where the next frame it receives ends the transfer.
  void Settle() {
    if (!answerOwed)
      return;
    ForgetOwedAnswer();
    emit s.Settled();
  }

  void ForgetOwedAnswer() {
    answerOwed = false;
    owedDeadline->Disarm();
  }

  void SendBlock(std::span<const uint8_t> bytes) {
    Send(bytes);
    blockUnanswered = true;
  }

  void EndAttempt(const OperationEnd &end, const LoadSource &file) {
    if (!attempt)
      return;
    if (!file.path.isEmpty())
      attempt->file = file;
    phase = Phase::Ended;
    FinishAttempt(end);
  }

  void SetUnanswered() {
    if (phase == Phase::Setting)
      Finish({protocol::Outcome::NoAnswer, protocol::kTimeOutMessage, std::nullopt});
  }

  // --- Clocks ---

  void StartClocks(int progressIntervalMs) {
    state.ElapsedTicks = 0;
    state.ProgressPercent = 0;
    emit s.Progress(0);
    progressClock.SetInterval(progressIntervalMs);
    progressClock.SetEnabled(true);
    elapsedClock.SetEnabled(true);
  }

  void StopClocks() {
    progressClock.SetEnabled(false);
    elapsedClock.SetEnabled(false);
  }

  void ProgressTick() {
    if (!protocol::ProgressStep(state.ProgressPercent)) {
      progressClock.SetEnabled(false);
      return;
    }
    emit s.Progress(state.ProgressPercent);
  }

  void ElapsedTick() {
    const bool timedOut = protocol::ElapsedStep(state, timeOutSeconds);
    emit s.Elapsed(state.ElapsedSeconds, state.ElapsedTenths);
    if (timedOut) {
      // The progress clock runs on to 98 % and the operation stays: a late reply is still acted upon.
      elapsedClock.SetEnabled(false);
      Finish({protocol::Outcome::NoAnswer, protocol::kTimeOutMessage, std::nullopt});
    }
  }

  // --- Replies and the line ---

  void Receive(const uint8_t *buffer, uint16_t length) {
    blockUnanswered = false;
    Settle();
    state.CurrentCommand = Command();
    const protocol::ReplyActions actions =
        protocol::HandleReply(state, readOutChip, readOutPending, online, buffer, length);
    if (actions.notAReply && !attempt)
      return; // nothing waits for an answer: a message for every stray burst would only bury the real ones
    if (actions.stopClocks)
      StopClocks();
    if (actions.showFullProgress) {
      state.ProgressPercent = 100;
      emit s.Progress(100);
    }
    for (const auto &[address, bytes] : actions.readOutBlocks)
      emit s.ReadOutBlock(address, QByteArray(reinterpret_cast<const char *>(bytes.data()), qsizetype(bytes.size())));
    if (!actions.readOutLines.isEmpty())
      emit s.ReadOutLines(actions.readOutLines);
    if (actions.end)
      Finish({*actions.end, actions.message.value_or(base::Message()), actions.mismatch});
    // Header, data and block sum of slot n; the name, count and sectors go only with block 0.
    if (actions.sendBlock)
      SendBlock(image::RequestedBlockBytes(image->blocks, *actions.sendBlock));
    if (actions.conversionError)
      emit s.Error(*actions.conversionError);
  }

  void Gather(const uint8_t *buffer, uint16_t length) {
    gathered.insert(gathered.end(), buffer, buffer + length);
    // Read-out data may begin like a frame; only the silence ends it.
    if (Command() != protocol::kCommandReadOut && protocol::IsWholeReplyFrame(gathered)) {
      burstSilence->Disarm();
      DeliverGathered();
      return;
    }
    if (gathered.size() >= serial::kMaxReadSize) // as the line delivers a burst without a pause
      DeliverGathered();
    else
      burstSilence->Arm(int(kBurstSilenceMs - kFastReadIntervalMs), false);
  }

  void DeliverGathered() {
    const std::vector<uint8_t> burst = std::exchange(gathered, {});
    for (size_t at = 0; at < burst.size(); at += serial::kMaxReadSize)
      Receive(burst.data() + at, uint16_t(std::min<size_t>(burst.size() - at, serial::kMaxReadSize)));
  }

  void Hangup() {
    // Both threads may give up; the first notice closes the port, later ones find it closed.
    if (!comm->IsOpen())
      return;
    const bool wasInProgress = attempt.has_value();
    StopClocks();
    comm->ClosePort();
    blockUnanswered = false;
    Settle(); // nothing more comes from a port that is gone
    if (watchForReturn)
      portWatch->Arm(kPortWatchPeriodMs, true);
    emit s.PortLost(comm->CommName() + QStringLiteral(": the serial port was lost"));
    if (wasInProgress)
      Finish({protocol::Outcome::PortLost, kPortLostMessage, std::nullopt});
  }

  void TryLostPort() {
    if (!comm->IsOpen()) {
      try {
        comm->OpenPort();
      } catch (const serial::ECommsError &) {
        return; // still gone: try again at the next tick
      }
    }
    portWatch->Disarm();
    emit s.PortReturned();
  }

  BoxSession &s;
  std::unique_ptr<serial::TComm> comm;
  base::TTimer progressClock;
  base::TTimer elapsedClock;
  std::unique_ptr<base::Alarm> burstSilence;
  std::unique_ptr<base::Alarm> setDeadline;
  std::unique_ptr<base::Alarm> portWatch;
  std::unique_ptr<base::Alarm> owedDeadline;
  protocol::OperationState state;
  Phase phase = Phase::Idle;
  std::optional<BoxOperation> operation;
  std::optional<Attempt> attempt;
  bool portClosedAtStart = false;
  uint64_t bytesSent = 0;
  bool blockUnanswered = false; // a block went out and no burst came since
  bool answerOwed = false;      // Stop came while blockUnanswered: see AnswerOwed
  bool online = false;
  uint32_t timeOutSeconds = protocol::kTimeOutSeconds;
  chip::ChipNumbers readOutChip;
  std::vector<uint8_t> readOutPending; // a block split across bursts, until whole
  bool fastReplies = false;
  std::vector<uint8_t> gathered; // fast replies: bytes of a burst not yet ended
  std::shared_ptr<const LoadImage> image = EmptyImage();
  bool watchForReturn = false;
};

// --- The session ---------------------------------------------------------------

BoxSession::BoxSession(std::shared_ptr<serial::SerialLayer> layer, base::Clock &clock, QObject *parent)
    : QObject(parent), core_(std::make_unique<BoxSessionCore>(*this, std::move(layer), clock)) {}

BoxSession::~BoxSession() { ClosePort(); }

void BoxSession::SetPortName(const QString &name) {
  if (name != core_->comm->CommName())
    core_->portWatch->Disarm(); // another port ends the watch for the lost one
  core_->SetLine(name);
}

void BoxSession::OpenPort(const QString &name) {
  core_->comm->ClosePort();
  SetPortName(name);
  Reopen();
}

void BoxSession::Reopen() {
  core_->comm->OpenPort();
  core_->Opened();
}

void BoxSession::ClosePort() {
  core_->comm->ClosePort();
  core_->blockUnanswered = false;
  core_->ForgetOwedAnswer();
}
bool BoxSession::IsOpen() const { return core_->comm->IsOpen(); }
QString BoxSession::PortName() const { return core_->comm->CommName(); }

void BoxSession::WatchForReturn(bool on) {
  core_->watchForReturn = on;
  if (!on)
    core_->portWatch->Disarm();
}

bool BoxSession::WatchingForReturn() const { return core_->portWatch->Armed(); }

void BoxSession::Start(const OperationRequest &request) { core_->Start(request); }
void BoxSession::HandOver(std::shared_ptr<const LoadImage> image) { core_->HandOver(std::move(image)); }

std::shared_ptr<const LoadImage> BoxSession::HandOver(const image::FirmwareFile &firmware, const LoadSource &source,
                                                      uint32_t count, uint32_t sectors) {
  std::shared_ptr<const LoadImage> image = PackLoadImage(firmware, source, count, sectors);
  core_->HandOver(image);
  return image;
}
void BoxSession::Stop(protocol::Outcome outcome) { core_->Stop(outcome); }
void BoxSession::EndAttempt(const OperationEnd &end, const LoadSource &file) { core_->EndAttempt(end, file); }

BoxSession::Phase BoxSession::CurrentPhase() const { return core_->phase; }
bool BoxSession::InProgress() const { return core_->attempt.has_value(); }
bool BoxSession::AnswerOwed() const { return core_->answerOwed; }
std::optional<BoxOperation> BoxSession::Operation() const { return core_->operation; }
int BoxSession::ProgressIntervalMs() const { return core_->progressClock.Interval(); }
bool BoxSession::ProgressRunning() const { return core_->progressClock.Enabled(); }
bool BoxSession::ElapsedRunning() const { return core_->elapsedClock.Enabled(); }
void BoxSession::SetOnline(bool online) { core_->online = online; }

void BoxSession::SetFastReplies(bool on) {
  core_->fastReplies = on;
  core_->comm->SetReadIntervalTimeout(on ? kFastReadIntervalMs : kBurstSilenceMs);
}

void BoxSession::ReceiveData(const uint8_t *buffer, uint16_t length) { core_->Receive(buffer, length); }

} // namespace session
