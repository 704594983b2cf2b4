#pragma once
// BoxSession: one programmer box on one serial port, with no widget. The
// window and the command line both hand it their operations as values
// (session/operation_request.h) and show what it reports.
//
// Threads: a session lives on the thread that made it, which must run a Qt
// event loop (a QCoreApplication is enough); every call, signal and callback
// happens on that thread. Its port adds a receive and a transmit thread while
// open (serial/comm.h). Nothing here waits: an operation sends its frame,
// starts its clocks and returns; everything after that is driven by the box's
// replies and by the clock. Sessions share nothing but a load's packed image,
// which is read-only, so several run side by side in one process.
//
// Ownership: the port, the clocks, the operation state and the packed image
// are the session's own. Its time comes from the base::Clock it is given (the
// system's unless a test gives a manual one): the progress and elapsed clocks,
// the set's deadline, the end of a burst with fast replies, the watch for a
// lost port.
//
// Phase: one value, changed only as follows.
//   Idle         no operation: every burst is dropped. At creation and after Stop.
//   Setting      the set frame went out; its status ends the attempt.
//   Announcing   a load was announced; waits for HandOver (or EndAttempt).
//                Block requests are answered from the image handed over last.
//   Transferring block 0 went out; block requests are answered until a status.
//   Verifying, ReadingOut, ErasingProgrammingVerifying
//                the frame went out and the clocks run until an ending reply.
//   Ended        the attempt ended (a reply, the time-out, the port lost,
//                EndAttempt, a burst that is no reply). Replies to its
//                operation are still acted upon and reported as LateReply,
//                block requests answered: a box may answer after the time-out.
// Start leaves any phase for the operation's own (an attempt still open ends
// first, as NoAnswer); HandOver leads from Announcing to Transferring; Stop
// leads from any phase to Idle.
//
// Units and time-outs: progress in percent (the clock alone stops at 98; only
// a reply shows 100), elapsed time in 100 ms ticks. A timed operation with no
// ending reply ends as NoAnswer on the tick that reaches its time-out; the
// progress clock runs on. A set with a time-out ends so when it passes.
//
// Errors: OpenPort and Reopen raise ECommsError with the reason. A read-out block while
// the chip size is no number is reported through Error; everything else
// arrives through the signals.

#include "base/clock.h"
#include "session/operation_request.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <memory>
#include <optional>

namespace serial {
class SerialLayer;
}

namespace session {

class BoxSessionCore;

// The text shown when the port goes away during an operation.
inline const base::Message kPortLostMessage{
    "Operation", QT_TRANSLATE_NOOP("Operation", "串口已断开，本次操作失败！请检查连接后重新选择串口。")};

class BoxSession : public QObject {
  Q_OBJECT
public:
  enum class Phase : uint8_t {
    Idle,
    Setting,
    Announcing,
    Transferring,
    Verifying,
    ReadingOut,
    ErasingProgrammingVerifying,
    Ended,
  };

  explicit BoxSession(std::shared_ptr<serial::SerialLayer> layer, base::Clock &clock = base::SystemClock(),
                      QObject *parent = nullptr);
  ~BoxSession() override; // closes the port

  // --- The port ---------------------------------------------------------------
  // Closes any open port, sets the name and the line (38400 8N1, no flow
  // control, DTR and RTS off, 100 ms of silence ends a burst) and opens it.
  // Raises ECommsError (message and reason) when it cannot be opened.
  void OpenPort(const QString &name);
  // Sets the name and the line settings without opening; another name ends
  // the watch for a lost port.
  void SetPortName(const QString &name);
  // Opens the port named last (raises as OpenPort).
  void Reopen();
  void ClosePort();
  bool IsOpen() const;
  QString PortName() const;
  // While on, a port lost to a device going away is tried once a second and
  // opened again once it is back (PortReturned); no operation is resumed.
  void WatchForReturn(bool on);
  bool WatchingForReturn() const;

  // --- Operations ---------------------------------------------------------------
  // Starts what `request` asks for. A set whose count is no number 0..9999
  // is refused by the front end before; here the count is taken as it is.
  void Start(const OperationRequest &request);
  // The second step of a load started without an image: block 0 and the clocks.
  void HandOver(std::shared_ptr<const LoadImage> image);
  // The same from the firmware read: packs its image (PackLoadImage) with
  // the count N and the sector mask, and hands it over. Returns the packed
  // image, for its checksum caption, also when no load waits for it.
  std::shared_ptr<const LoadImage> HandOver(const image::FirmwareFile &firmware, const LoadSource &source,
                                            uint32_t count, uint32_t sectors);
  // Ends the operation in progress (clocks stopped), as when the operator
  // stops a script: nothing the box sends later is acted upon or reported.
  // A transfer stopped while the box is taking in a block leaves its answer
  // owed (AnswerOwed) until the answer comes or kOwedAnswerMs pass; then
  // Settled. A front end closes the port only then: closing earlier would cut
  // the block short (the box would take the next frame for the rest of it)
  // and leave the answer for whoever opens the port next.
  void Stop(protocol::Outcome outcome = protocol::Outcome::Interrupted);
  // Ends the attempt in progress for a reason of the front end's own (a
  // cancelled file dialog, a refused file, whose source it names), leaving
  // the phase's operation and the clocks as they are.
  void EndAttempt(const OperationEnd &end, const LoadSource &file = {});

  // --- State ----------------------------------------------------------------------
  Phase CurrentPhase() const;
  bool InProgress() const;                       // an attempt is open
  bool AnswerOwed() const;                       // see Stop
  std::optional<BoxOperation> Operation() const; // the operation started last
  // The clocks, for a front end that shows them: the progress clock's period
  // (0: it never ticks) and whether each runs.
  int ProgressIntervalMs() const;
  bool ProgressRunning() const;
  bool ElapsedRunning() const;
  // Whether the box was set online, for a transfer's success text ("burned");
  // the window follows its mode control as the operator changes it.
  void SetOnline(bool online);
  // Takes a whole reply frame (protocol/reply.h) as soon as its last byte is
  // in, instead of after the 100 ms of silence that end a burst; everything
  // else (read-out data among it) still waits for the silence. Set before the
  // port opens. The window keeps the silence.
  void SetFastReplies(bool on);
  // One burst as the line delivers it, read as a reply to the operation: what
  // the port's receive event runs (a test may hand one in directly).
  void ReceiveData(const uint8_t *buffer, uint16_t length);

signals:
  void Progress(uint32_t percent);
  void Elapsed(uint32_t seconds, uint32_t tenths);
  void ReadOutLines(const QStringList &lines);
  // The same block as bytes: 4096 read from `address` on.
  void ReadOutBlock(uint32_t address, const QByteArray &bytes);
  // Once per attempt, whatever the way it ended. An attempt started while
  // the port was closed that gets no answer ends as PortUnavailable.
  void AttemptEnded(const Attempt &attempt);
  // A reply that ended nothing because its attempt had ended already.
  void LateReply(const OperationEnd &end);
  // The port closed because its device went away; `detail` says which.
  void PortLost(const QString &detail);
  // The watched port is back and open again.
  void PortReturned();
  // The answer owed after Stop came, did not come in time, or the port was lost.
  void Settled();
  // What the session could not do while handling its events.
  void Error(const QString &message);

private:
  friend class BoxSessionCore;
  std::unique_ptr<BoxSessionCore> core_;
};

} // namespace session
