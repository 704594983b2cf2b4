#include "session/box_session.h"

#include "base/exception.h"
#include "image/image_blocks.h"
#include "protocol/clocks.h"
#include "protocol/frames.h"
#include "protocol/reply.h"
#include "serial/comm.h"
#include "serial/comm_threads.h"

QString BoxOperationName(BoxOperation operation) {
  switch (operation) {
  case BoxOperation::Set:
    return QStringLiteral("set");
  case BoxOperation::Load:
    return QStringLiteral("load");
  case BoxOperation::Verify:
    return QStringLiteral("verify");
  case BoxOperation::ReadOut:
    return QStringLiteral("read-out");
  case BoxOperation::EraseProgramVerify:
    return QStringLiteral("erase-program-verify");
  }
  return {};
}

namespace {
constexpr int kProgressPeriodMs = 200;
constexpr uint32_t kBurstSilenceMs = 100; // silence that ends a burst
// With fast replies the line hands over what it has after this much silence,
// and the session itself waits for the rest of the 100 ms.
constexpr uint32_t kFastReadIntervalMs = 2;
} // namespace

BoxSession::BoxSession(std::shared_ptr<SerialLayer> layer, QObject *parent)
    : QObject(parent), ownState_(std::make_unique<OperationState>()), ownImage_(std::make_unique<FirmwareImage>()),
      state_(ownState_.get()), image_(ownImage_.get()) {
  Init(std::move(layer));
}

BoxSession::BoxSession(std::shared_ptr<SerialLayer> layer, OperationState &state, FirmwareImage &image,
                       QObject *parent)
    : QObject(parent), state_(&state), image_(&image) {
  Init(std::move(layer));
}

BoxSession::~BoxSession() { ClosePort(); }

void BoxSession::Init(std::shared_ptr<SerialLayer> layer) {
  comm_ = new TComm(this, std::move(layer));
  comm_->setObjectName(QStringLiteral("Comm1"));
  // The line as the box needs it, besides what every opening sets again.
  comm_->SetDtrControl(TDtrControl::DtrDisable);
  comm_->SetRtsControl(TRtsControl::RtsDisable);
  comm_->SetOutx_XonXoffFlow(false);
  comm_->SetInx_XonXoffFlow(false);
  comm_->SetReadIntervalTimeout(kBurstSilenceMs);
  comm_->OnReceiveData = [this](TComm *, const uint8_t *buffer, uint16_t length) {
    Handled([&] { fastReplies_ ? Gather(buffer, length) : ReceiveData(buffer, length); });
  };
  burstSilence_ = new QTimer(this);
  burstSilence_->setSingleShot(true);
  burstSilence_->setInterval(int(kBurstSilenceMs - kFastReadIntervalMs));
  connect(burstSilence_, &QTimer::timeout, this, [this] { Handled([this] { DeliverGathered(); }); });
  comm_->OnRequestHangup = [this](TComm *) { Handled([this] { Hangup(); }); };

  progressClock_ = new TTimer(this, kProgressPeriodMs);
  progressClock_->setObjectName(QStringLiteral("Timer1"));
  progressClock_->OnTimer = [this] { Handled([this] { ProgressTick(); }); };
  elapsedClock_ = new TTimer(this, int(kElapsedTickMs));
  elapsedClock_->setObjectName(QStringLiteral("Timer2"));
  elapsedClock_->OnTimer = [this] { Handled([this] { ElapsedTick(); }); };
}

template <typename F> void BoxSession::Handled(F &&step) {
  try {
    step();
  } catch (const Exception &e) {
    emit Error(e.Reason().isEmpty() ? e.Message() : e.Message() + QStringLiteral(": ") + e.Reason());
  }
}

// --- The port ------------------------------------------------------------------

void BoxSession::SetPortName(const QString &name) {
  comm_->SetCommName(name);
  comm_->SetBaudRate(38400);
  comm_->SetByteSize(TByteSize::_8);
  comm_->SetParity(TParity::None);
  comm_->SetStopBits(TStopBits::_1);
}

void BoxSession::OpenPort(const QString &name) {
  comm_->ClosePort();
  SetPortName(name);
  comm_->OpenPort();
}

void BoxSession::ClosePort() {
  if (comm_)
    comm_->ClosePort();
}

bool BoxSession::IsOpen() const { return comm_->IsOpen(); }

// --- Operations ------------------------------------------------------------------

void BoxSession::Begin(BoxOperation operation) {
  // An operation the box never answered ends when the next one starts.
  FinishAttempt({Outcome::NoAnswer, QString(), std::nullopt});
  operation_ = operation;
  inProgress_ = true;
  portClosedAtStart_ = !comm_->IsOpen();
  startedAt_ = QDateTime::currentDateTimeUtc();
  bytesSent_ = 0;
  emit Started(operation);
}

void BoxSession::FinishAttempt(OperationEnd end) {
  if (!std::exchange(inProgress_, false))
    return;
  if (end.outcome == Outcome::NoAnswer && portClosedAtStart_)
    end.outcome = Outcome::PortUnavailable;
  emit AttemptFinished({*operation_, startedAt_, QDateTime::currentDateTimeUtc(), std::move(end), bytesSent_});
}

void BoxSession::EndAttempt(const OperationEnd &end) { FinishAttempt(end); }

void BoxSession::Send(const uint8_t *data, size_t size) {
  // A refused send (port closed) is silent: the time-out reports the missing answer.
  if (comm_->SendData(data, uint16_t(size)))
    bytesSent_ += size;
}

void BoxSession::Set(int modeItem, int powerItem, const QString &countText) {
  // A count that is not a number ends the operation here, before anything is sent.
  const Frame frame = SetCmd(modeItem, powerItem, countText);
  Begin(BoxOperation::Set);
  state_->CurrentCommand = kCommandSet;
  Send(frame.data(), frame.size());
}

void BoxSession::Verify(const ChipNumbers &chip) {
  Begin(BoxOperation::Verify);
  state_->CurrentCommand = kCommandVerify;
  const Frame frame = CheckCmd();
  Send(frame.data(), frame.size());
  StartClocks(VerifyInterval(chip.start, chip.end));
}

void BoxSession::ReadOut(const ChipNumbers &chip, uint32_t sizeBytes) {
  state_->StartHigh = StartHighOf(chip.startText);
  const Frame frame = ReadCmd(chip.startText, sizeBytes, chip.dataflashCode);
  Begin(BoxOperation::ReadOut);
  state_->CurrentCommand = kCommandReadOut;
  state_->ReadBlockCount = 0;
  readOutChip_ = chip;
  readOutPending_.clear();
  Send(frame.data(), frame.size());
  StartClocks(ReadOutInterval(chip.start, chip.end));
}

void BoxSession::EraseProgramVerify(const ChipNumbers &chip) {
  Begin(BoxOperation::EraseProgramVerify);
  state_->CurrentCommand = kCommandEraseProgramVerify;
  const Frame frame = EPCCmd();
  Send(frame.data(), frame.size());
  StartClocks(EraseProgramVerifyInterval(chip.start, chip.end));
}

void BoxSession::AnnounceLoad() {
  Begin(BoxOperation::Load);
  state_->CurrentCommand = kCommandFileTransfer;
  const Frame announce = LoadCmd();
  Send(announce.data(), announce.size());
}

void BoxSession::StartTransfer() {
  StartClocks(FileTransferInterval(image_->ImageSize));
  const std::span<const uint8_t> first = FirstBlockBytes(image_->ImageBlocks);
  Send(first.data(), first.size());
}

void BoxSession::Load() {
  AnnounceLoad();
  StartTransfer();
}

void BoxSession::Stop(Outcome outcome) {
  StopClocks();
  state_->CurrentCommand = kCommandNone;
  FinishAttempt({outcome, QString(), std::nullopt});
}

// --- Clocks ----------------------------------------------------------------------

void BoxSession::StartClocks(int progressIntervalMs) {
  state_->ElapsedTicks = 0;
  state_->ProgressPercent = 0;
  emit Progress(0);
  progressClock_->SetInterval(progressIntervalMs);
  progressClock_->SetEnabled(true);
  elapsedClock_->SetEnabled(true);
}

void BoxSession::StopClocks() {
  progressClock_->SetEnabled(false);
  elapsedClock_->SetEnabled(false);
}

void BoxSession::ShowFullProgress() {
  state_->ProgressPercent = 100;
  emit Progress(100);
}

void BoxSession::ProgressTick() {
  if (!ProgressStep(state_->ProgressPercent)) {
    progressClock_->SetEnabled(false);
    return;
  }
  emit Progress(state_->ProgressPercent);
}

void BoxSession::ElapsedTick() {
  const bool timedOut = ElapsedStep(*state_, timeOutSeconds_);
  emit Elapsed(state_->ElapsedSeconds, state_->ElapsedTenths);
  if (timedOut) {
    // The progress clock runs on to 98 % and CurrentCommand stays: a late reply is still acted upon.
    elapsedClock_->SetEnabled(false);
    Finish({Outcome::NoAnswer, kTimeOutMessage, std::nullopt});
  }
}

void BoxSession::Finish(OperationEnd end) {
  // Recorded before it is shown: a message box may wait for the operator.
  FinishAttempt(end);
  emit Ended(end);
}

// --- Replies and the line --------------------------------------------------------

void BoxSession::ReceiveData(const uint8_t *buffer, uint16_t length) {
  const ReplyActions actions = HandleReply(*state_, readOutChip_, readOutPending_, online_, buffer, length);
  if (actions.notAReply && !inProgress_)
    return; // nothing waits for an answer: a message for every stray burst would only bury the real ones
  if (actions.stopClocks)
    StopClocks();
  if (actions.showFullProgress)
    ShowFullProgress();
  for (const auto &[address, bytes] : actions.readOutBlocks)
    emit ReadOutBlock(address, QByteArray(reinterpret_cast<const char *>(bytes.data()), qsizetype(bytes.size())));
  if (!actions.readOutLines.isEmpty())
    emit ReadOutLines(actions.readOutLines);
  if (actions.end)
    Finish({*actions.end, actions.message.value_or(QString()), actions.mismatch});
  if (actions.sendBlock) {
    // Header, data and block sum of slot n; the name, count and sectors go only with block 0.
    const std::span<const uint8_t> block = RequestedBlockBytes(image_->ImageBlocks, *actions.sendBlock);
    Send(block.data(), block.size());
  }
  if (actions.conversionError)
    throw EConvertError(*actions.conversionError);
}

void BoxSession::SetFastReplies(bool on) {
  fastReplies_ = on;
  comm_->SetReadIntervalTimeout(on ? kFastReadIntervalMs : kBurstSilenceMs);
}

void BoxSession::Gather(const uint8_t *buffer, uint16_t length) {
  gathered_.insert(gathered_.end(), buffer, buffer + length);
  // Read-out data may begin like a frame; only the silence ends it.
  if (state_->CurrentCommand != kCommandReadOut && IsWholeReplyFrame(gathered_)) {
    burstSilence_->stop();
    DeliverGathered();
    return;
  }
  if (gathered_.size() >= kMaxReadSize) // as the line delivers a burst without a pause
    DeliverGathered();
  else
    burstSilence_->start();
}

void BoxSession::DeliverGathered() {
  const std::vector<uint8_t> burst = std::exchange(gathered_, {});
  for (size_t at = 0; at < burst.size(); at += kMaxReadSize)
    ReceiveData(burst.data() + at, uint16_t(std::min<size_t>(burst.size() - at, kMaxReadSize)));
}

bool BoxSession::Hangup() {
  // Both threads may give up; the first notice closes the port, later ones find it closed.
  if (!comm_->IsOpen())
    return false;
  const bool wasInProgress = inProgress_;
  StopClocks();
  comm_->ClosePort();
  emit PortLost(comm_->CommName() + QStringLiteral(": the serial port was lost"));
  if (wasInProgress)
    Finish({Outcome::PortLost, kPortLostMessage, std::nullopt});
  return true;
}
