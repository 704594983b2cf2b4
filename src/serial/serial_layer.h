#pragma once
// SerialLayer: what the serial component needs from the platform, and nothing
// more. A layer opens ports by name, makes signals (manual-reset flags that a
// wait can watch), asynchronous-operation records, worker threads and the
// zero-filled blocks that carry bytes between threads.
//
// Operations on a port follow the start / under way / fetch-the-outcome model:
// StartRead, StartWrite and StartEventWait either complete at once (Ok) or
// report Pending; a pending operation later raises its record's signal, and
// GetResult fetches its outcome. Progress of pending operations happens inside
// WaitAny (and GetResult with waiting) of the thread that owns the record, so a
// waiting thread is woken only by the events it waits for; nothing polls.
//
// Read rules (set through SetTimeouts): a read of N bytes completes when N bytes
// have arrived; once at least one byte has arrived, when ReadIntervalTimeout ms
// pass without a further byte; with a non-zero read total, also when
// multiplier * N + constant ms have passed since it began (possibly empty). A
// write completes when all its bytes are taken; with a non-zero write total it
// may complete short at that time.
//
// Failures are reported in three classes only: under way (Pending), the port
// handle is no longer valid (InvalidHandle), and everything else (Failed).
// All members are safe to call from any thread; a record belongs to one thread.

#include <QString>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>

namespace serial {

enum class SerialResult : uint8_t { Ok, Pending, InvalidHandle, Failed };

// Why a port could not be opened: a class the operator can act on, the
// system's own words (errno text) and the device it concerned.
struct OpenFailure {
  enum class Kind : uint8_t { Missing, NoPermission, InUse, NotASerialPort, Other };
  Kind kind = Kind::Other;
  int code = 0;   // errno, 0 when the refusal is ours
  QString device; // the path that was tried
  QString detail; // e.g. "Permission denied"
  // "<device>: <detail>" followed by what the operator can do about it.
  QString Text() const;
};

// What the operator can do about a failure of this kind; empty when nothing.
QString OpenFailureHint(OpenFailure::Kind kind);
// The class of a failed open by its errno value.
OpenFailure::Kind OpenFailureKindOf(int error);

// Purge flags: abort pending transfers and discard queued bytes, per direction.
constexpr uint32_t kPurgeTxAbort = 0x01;
constexpr uint32_t kPurgeRxAbort = 0x02;
constexpr uint32_t kPurgeTxClear = 0x04;
constexpr uint32_t kPurgeRxClear = 0x08;
constexpr uint32_t kPurgeReceive = kPurgeRxAbort | kPurgeRxClear;  // 0x0A
constexpr uint32_t kPurgeTransmit = kPurgeTxAbort | kPurgeTxClear; // 0x05
constexpr uint32_t kPurgeBoth = kPurgeReceive | kPurgeTransmit;    // 0x0F

// Line events (event word bits).
constexpr uint32_t kEventRlsd = 0x0020; // carrier-detect changed
constexpr uint32_t kEventErr = 0x0080;  // line error
constexpr uint32_t kEventRing = 0x0100; // ring indicator

// Line-error flags as reported by ClearLineErrors.
constexpr uint32_t kLineErrorRxOver = 0x0001;
constexpr uint32_t kLineErrorOverrun = 0x0002;
constexpr uint32_t kLineErrorParity = 0x0004;
constexpr uint32_t kLineErrorFrame = 0x0008;
constexpr uint32_t kLineErrorBreak = 0x0010;

// Flag word of the line-settings record.
constexpr uint32_t kFlagBinary = 1u << 0;
constexpr uint32_t kFlagParityCheck = 1u << 1;
constexpr uint32_t kFlagOutxCtsFlow = 1u << 2;
constexpr uint32_t kFlagOutxDsrFlow = 1u << 3;
constexpr uint32_t kFlagDtrShift = 4; // two bits: 0 off, 1 on, 2 handshake
constexpr uint32_t kFlagDsrSensitivity = 1u << 6;
constexpr uint32_t kFlagTxContinueOnXoff = 1u << 7;
constexpr uint32_t kFlagOutX = 1u << 8;
constexpr uint32_t kFlagInX = 1u << 9;
constexpr uint32_t kFlagErrorChar = 1u << 10;
constexpr uint32_t kFlagNull = 1u << 11;
constexpr uint32_t kFlagRtsShift = 12; // two bits: 0 off, 1 on, 2 handshake, 3 toggle
constexpr uint32_t kFlagAbortOnError = 1u << 14;

// The line-settings record. Fields a writer does not set keep what was read.
struct LineSettings {
  uint32_t BaudRate = 0;
  uint32_t Flags = 0;
  uint16_t XonLim = 0;
  uint16_t XoffLim = 0;
  uint8_t ByteSize = 8; // data bits
  uint8_t Parity = 0;   // 0 none, 1 odd, 2 even, 3 mark, 4 space
  uint8_t StopBits = 0; // 0 one, 1 one and a half, 2 two
  uint8_t XonChar = 0;
  uint8_t XoffChar = 0;
  uint8_t ErrorChar = 0;
  uint8_t EofChar = 0;
  uint8_t EvtChar = 0;
  friend bool operator==(const LineSettings &, const LineSettings &) = default;
};

// The time-outs record, all in milliseconds.
struct CommTimeouts {
  uint32_t ReadIntervalTimeout = 0;
  uint32_t ReadTotalTimeoutMultiplier = 0;
  uint32_t ReadTotalTimeoutConstant = 0;
  uint32_t WriteTotalTimeoutMultiplier = 0;
  uint32_t WriteTotalTimeoutConstant = 0;
  friend bool operator==(const CommTimeouts &, const CommTimeouts &) = default;
};

// What a signal or record is made for; lets a layer tell them apart.
enum class SignalUse : uint8_t { Close, ReadCompletion, EventCompletion, WriteCompletion, WriteQueue };
enum class ThreadRole : uint8_t { Read, Write };
enum class BlockUse : uint8_t { Send, Receive };

// A manual-reset flag: once raised it stays raised until reset, and wakes
// every waiter.
class SerialSignal {
public:
  virtual ~SerialSignal() = default;
  virtual void Set() = 0;
  virtual void Reset() = 0;
  virtual bool IsSet() const = 0;
};

// The record of one asynchronous operation at a time; its signal is created
// raised and is lowered when an operation starts.
class AsyncRecord {
public:
  virtual ~AsyncRecord() = default;
  virtual SerialSignal &Signal() = 0;
};

// A worker thread, created suspended. Destroying it waits for its end; one
// that was never started ends without running its body.
class WorkerThread {
public:
  explicit WorkerThread(std::function<void()> body); // throws std::system_error
  ~WorkerThread();
  WorkerThread(const WorkerThread &) = delete;
  WorkerThread &operator=(const WorkerThread &) = delete;
  void Start();
  // Waits up to `ms` for the end; false when the limit ran out. A thread that
  // was never started cannot end, so that wait returns false at once.
  bool WaitFor(uint32_t ms);

private:
  struct State;
  std::shared_ptr<State> state_;
};

// An open port. Closing is destruction.
class SerialPort {
public:
  virtual ~SerialPort() = default;
  virtual bool IsCharacterDevice() = 0;
  virtual bool SetupQueues(uint32_t inBytes, uint32_t outBytes) = 0;
  virtual bool Purge(uint32_t flags) = 0;
  virtual bool GetLineSettings(LineSettings &record) = 0;
  virtual bool SetLineSettings(const LineSettings &record) = 0;
  virtual bool GetTimeouts(CommTimeouts &record) = 0;
  virtual bool SetTimeouts(const CommTimeouts &record) = 0;
  // Changing the mask completes a pending event wait with an empty word.
  virtual SerialResult SetEventMask(uint32_t mask) = 0;
  // `eventWord` is written when the wait completes at once, or by GetResult.
  virtual SerialResult StartEventWait(AsyncRecord &record, uint32_t *eventWord) = 0;
  // `buffer` must stay valid until the read has completed or been purged.
  virtual SerialResult StartRead(AsyncRecord &record, uint8_t *buffer, uint32_t size, uint32_t *count) = 0;
  virtual SerialResult StartWrite(AsyncRecord &record, const uint8_t *data, uint32_t size, uint32_t *count) = 0;
  // Outcome of the record's operation; without `wait`, an operation still
  // under way is a failure.
  virtual SerialResult GetResult(AsyncRecord &record, uint32_t *count, bool wait) = 0;
  // Reads and clears the line-error flags.
  virtual SerialResult ClearLineErrors(uint32_t *flags) = 0;
};

using Block = std::unique_ptr<uint8_t[]>;

class SerialLayer {
public:
  virtual ~SerialLayer() = default;
  // Exclusive open of an existing device, read and write; nullptr on failure,
  // with the reason in `failure`.
  virtual std::unique_ptr<SerialPort> Open(const QString &name, OpenFailure &failure) = 0;
  // nullptr on failure.
  virtual std::unique_ptr<SerialSignal> CreateSignal(SignalUse use) = 0;
  virtual std::unique_ptr<AsyncRecord> CreateRecord(SignalUse use) = 0;
  // Waits without limit for the first raised signal of the list and returns its
  // position (the lowest raised one); -1 when the wait fails. Signals and
  // records must come from this layer.
  virtual int WaitAny(std::span<SerialSignal *const> list) = 0;

  // A suspended worker thread, or nullptr when none can be made.
  virtual std::unique_ptr<WorkerThread> CreateThread(ThreadRole role, std::function<void()> body);
  // Runs on the worker itself as its first act; steps above normal. Failure is ignored.
  virtual void SetCurrentThreadPriority(int stepsAboveNormal);
  // A zero-filled block of `size` bytes, or nullptr.
  virtual Block AllocateBlock(size_t size, BlockUse use);
  // Whether a notice with this code may be posted (a platform may refuse, for
  // example when the queue is full).
  virtual bool AcceptNotice(uint32_t code);
};

// The serial layer for real ports and pseudo-terminals on this platform.
std::shared_ptr<SerialLayer> MakePlatformSerialLayer();

} // namespace serial
