#pragma once
// BoxSession: one programmer box on one serial port, with no widget. The
// window and the command line both run their operations through it.
//
// Threads: a session lives on the thread that made it, which must run a Qt
// event loop (a QCoreApplication is enough); every call, signal and callback
// happens on that thread. Its TComm adds a receive and a transmit thread while
// the port is open (serial/comm.h). Nothing here waits: an operation sends its
// frame, starts its clocks and returns; everything after that is driven by the
// box's replies and by clock ticks. Sessions share nothing, so several run side
// by side in one process, each with its own port, state and clocks.
//
// Ownership: the session owns its TComm and its two clocks. The operation
// state and the firmware image are the session's own, or, for the window,
// parts of the window's shared state that the session works on (they must
// outlive it).
//
// Units and time-outs: progress in percent (the clock alone stops at 98; only
// a reply shows 100), elapsed time in 100 ms ticks. A timed operation (verify,
// read-out, erase-program-verify, transfer) with no ending reply ends as
// NoAnswer on the tick that reaches the time-out (120 s unless set). The
// time-out changes neither the progress clock nor CurrentCommand, so a reply
// that comes later is still acted upon and reported, as every reply is, also
// after its operation ended. A burst that is no reply (protocol/reply.h) ends
// the attempt in progress as BoxFailed; with no attempt in progress it is dropped.
//
// Errors: OpenPort raises ECommsError with the reason. Set raises
// EConvertError, before anything is sent, for a count that is no number;
// ReceiveData raises EConvertError for a read-out block when the chip size is
// no number. Everything else arrives through the signals.
//
// Events: by default the session handles the events of its port (received
// bursts, a thread giving up) and of its clocks itself, and reports what it
// could not do through Error. A front end may take them over (TComm's
// OnReceiveData and OnRequestHangup, the clocks' OnTimer) to run ReceiveData,
// Hangup, ProgressTick and ElapsedTick under its own error handling.

#include "base/timer.h"
#include "chip/chip_record.h"
#include "image/firmware_image.h"
#include "protocol/operation_state.h"
#include "protocol/outcome.h"

#include <QByteArray>
#include <QDateTime>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

class SerialLayer;
class TComm;

// The operations a session runs, by the names the records and the command line use.
enum class BoxOperation : uint8_t { Set, Load, Verify, ReadOut, EraseProgramVerify };
QString BoxOperationName(BoxOperation operation); // "set", "load", "verify", "read-out", "erase-program-verify"

// How an operation ended, and the text the operator is shown (empty when the
// window shows none, e.g. a set refused by the box).
struct OperationEnd {
  Outcome outcome = Outcome::Ok;
  QString message;
  std::optional<Mismatch> mismatch;
};

// One operation attempt, from its start to its end: what the production
// records keep of it.
struct Attempt {
  BoxOperation operation = BoxOperation::Set;
  QDateTime startedAt; // UTC
  QDateTime finishedAt;
  OperationEnd end;
  uint64_t bytesSent = 0;
};

// The text shown when the port goes away during an operation.
inline const QString kPortLostMessage =
    QStringLiteral(QT_TRANSLATE_NOOP("Operation", "串口已断开，本次操作失败！请检查连接后重新选择串口。"));

class BoxSession : public QObject {
  Q_OBJECT
public:
  // A session with its own state.
  explicit BoxSession(std::shared_ptr<SerialLayer> layer, QObject *parent = nullptr);
  // A session working on state its owner keeps.
  BoxSession(std::shared_ptr<SerialLayer> layer, OperationState &state, FirmwareImage &image,
             QObject *parent = nullptr);
  ~BoxSession() override; // closes the port

  // --- The port ---------------------------------------------------------------
  // Closes any open port, sets the name and the line (38400 8N1, no flow
  // control, DTR and RTS off, 100 ms of silence ends a burst) and opens it.
  // Raises ECommsError (message and reason) when it cannot be opened.
  void OpenPort(const QString &name);
  // Sets the name and the line settings without opening.
  void SetPortName(const QString &name);
  void ClosePort();
  bool IsOpen() const;
  TComm &Comm() { return *comm_; }

  // --- Operations ---------------------------------------------------------------
  // Set mode (item 0 online), power (item 0 5 V, item 1 none) and count.
  void Set(int modeItem, int powerItem, const QString &countText);
  void Verify(const ChipNumbers &chip);
  // Reads `sizeBytes` of the chip back (its size: ReadOutSize()).
  void ReadOut(const ChipNumbers &chip, uint32_t sizeBytes);
  void EraseProgramVerify(const ChipNumbers &chip);
  // A transfer in two steps, as the window has the operator choose the file in
  // between: the announce, then (with Image() packed) block 0 and the clocks.
  // Block requests are answered from Image().ImageBlocks whenever the
  // operation code is the transfer's, also between the two steps.
  void AnnounceLoad();
  void StartTransfer();
  // Both at once, for a front end that read the file before.
  void Load();
  // Ends the operation in progress (clocks stopped), as when the operator
  // stops a script: nothing the box sends later is acted upon or reported.
  void Stop(Outcome outcome = Outcome::Interrupted);
  // Ends the attempt in progress for a reason of the front end's own (a
  // cancelled file dialog, a refused file), leaving the operation code and
  // the clocks as they are.
  void EndAttempt(const OperationEnd &end);

  // --- Event steps (run by the session itself unless a front end took the events over)
  // One received burst, read as a reply to the operation in progress.
  void ReceiveData(const uint8_t *buffer, uint16_t length);
  // The port's threads gave up (the device went away). Returns false when the
  // port was already closed (a second thread's notice).
  bool Hangup();
  void ProgressTick();
  void ElapsedTick();

  // --- Settings and state --------------------------------------------------------
  // Whether the box was set online: a transfer's success text says "burned".
  void SetOnline(bool online) { online_ = online; }
  void SetTimeOutSeconds(uint32_t seconds) { timeOutSeconds_ = seconds; }
  // Takes a whole reply frame (protocol/reply.h) as soon as its last byte is
  // in, instead of after the 100 ms of silence that end a burst; everything
  // else (read-out data among it) still waits for the silence. Set before the
  // port opens. The window keeps the silence.
  void SetFastReplies(bool on);
  uint32_t TimeOutSeconds() const { return timeOutSeconds_; }
  OperationState &State() { return *state_; }
  FirmwareImage &Image() { return *image_; }
  TTimer *ProgressClock() const { return progressClock_; }
  TTimer *ElapsedClock() const { return elapsedClock_; }
  // The operation started last, whether it is still in progress, and the
  // bytes queued for the box since it started.
  std::optional<BoxOperation> Operation() const { return operation_; }
  bool InProgress() const { return inProgress_; }
  uint64_t BytesSent() const { return bytesSent_; }

signals:
  void Started(BoxOperation operation);
  void Progress(uint32_t percent);
  void Elapsed(uint32_t seconds, uint32_t tenths);
  void ReadOutLines(const QStringList &lines);
  // The same block as bytes: 4096 read from `address` on.
  void ReadOutBlock(uint32_t address, const QByteArray &bytes);
  // An operation ended; also a later reply that the box sent on its own.
  void Ended(const OperationEnd &end);
  // Once per attempt, when it ends whatever the way: by a reply, the
  // time-out, the port going away, Stop, EndAttempt, or the next operation
  // starting before it ended (then as NoAnswer). An attempt started while the
  // port was closed that gets no answer ends as PortUnavailable.
  void AttemptFinished(const Attempt &attempt);
  // The port closed because its device went away; `detail` says which.
  void PortLost(const QString &detail);
  // What the session could not do while handling its own events.
  void Error(const QString &message);

private:
  void Init(std::shared_ptr<SerialLayer> layer);
  void Begin(BoxOperation operation);
  void Send(const uint8_t *data, size_t size);
  void StartClocks(int progressIntervalMs);
  void StopClocks();
  void ShowFullProgress();
  void Finish(OperationEnd end);
  void FinishAttempt(OperationEnd end);
  template <typename F> void Handled(F &&step);
  void Gather(const uint8_t *buffer, uint16_t length);
  void DeliverGathered();

  std::unique_ptr<OperationState> ownState_;
  std::unique_ptr<FirmwareImage> ownImage_;
  OperationState *state_ = nullptr;
  FirmwareImage *image_ = nullptr;
  TComm *comm_ = nullptr;
  TTimer *progressClock_ = nullptr;
  TTimer *elapsedClock_ = nullptr;
  ChipNumbers readOutChip_;
  std::vector<uint8_t> readOutPending_; // a block split across bursts, until whole
  bool fastReplies_ = false;
  std::vector<uint8_t> gathered_; // fast replies: bytes of a burst not yet ended
  QTimer *burstSilence_ = nullptr;
  bool online_ = false;
  uint32_t timeOutSeconds_ = 120;
  std::optional<BoxOperation> operation_;
  bool inProgress_ = false;
  bool portClosedAtStart_ = false;
  QDateTime startedAt_;
  uint64_t bytesSent_ = 0;
};
