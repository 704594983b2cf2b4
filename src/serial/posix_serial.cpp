#include "serial/posix_serial.h"

#include "serial/comm.h"

#include <QFile>
#include <QRegularExpression>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <chrono>
#include <fcntl.h>
#include <mutex>
#include <optional>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>
#include <vector>
#if __has_include(<linux/serial.h>)
#include <linux/serial.h>
#define KAVRIN_HAVE_ICOUNT 1
#endif

namespace serial {

using Clock = std::chrono::steady_clock;

// Where a layer takes its time from: the steady clock itself, or a clock that
// moves only when a test moves it. Every moment a layer compares comes from
// one source, so the two are never mixed.
class LineTime {
public:
  explicit LineTime(base::Clock &clock) : clock_(clock), manual_(clock.WatchMoves([] {}) != nullptr) {}
  Clock::time_point Now() const {
    return manual_ ? Clock::time_point(std::chrono::milliseconds(clock_.NowMs())) : Clock::now();
  }
  bool Manual() const { return manual_; }
  base::Clock &Source() const { return clock_; }

private:
  base::Clock &clock_;
  const bool manual_;
};

namespace {

// The one place where the platform's error codes become the layer's classes.
SerialResult ClassifyErrno(int error) {
  switch (error) {
  case EAGAIN:
#if EWOULDBLOCK != EAGAIN
  case EWOULDBLOCK:
#endif
  case EINPROGRESS:
    return SerialResult::Pending;
  case EBADF:
    return SerialResult::InvalidHandle;
  default:
    return SerialResult::Failed;
  }
}

constexpr auto kCounterCheckPeriod = std::chrono::milliseconds(500);

class PosixRecord;

class PosixSignal : public SerialSignal {
public:
  PosixSignal(int fd, PosixRecord *owner) : fd_(fd), owner_(owner) {}
  ~PosixSignal() override { close(fd_); }
  void Set() override {
    std::lock_guard lock(mutex_);
    if (set_.load())
      return;
    set_.store(true);
    const uint64_t one = 1;
    [[maybe_unused]] ssize_t n = write(fd_, &one, sizeof one);
  }
  void Reset() override {
    std::lock_guard lock(mutex_);
    if (!set_.load())
      return;
    set_.store(false);
    uint64_t value;
    [[maybe_unused]] ssize_t n = read(fd_, &value, sizeof value);
  }
  bool IsSet() const override { return set_.load(); }
  int Fd() const { return fd_; }
  PosixRecord *Owner() const { return owner_; }

private:
  // The eventfd is readable exactly while the flag is raised.
  std::mutex mutex_;
  std::atomic<bool> set_{false};
  int fd_;
  PosixRecord *owner_;
};

std::unique_ptr<PosixSignal> MakeSignal(PosixRecord *owner) {
  const int fd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (fd < 0)
    return nullptr;
  return std::make_unique<PosixSignal>(fd, owner);
}

class PosixPort;

class PosixRecord : public AsyncRecord {
public:
  enum class Kind { None, Read, Event, Write };
  ~PosixRecord() override;
  SerialSignal &Signal() override { return *signal_; }
  PosixSignal &Sig() { return *signal_; }

  std::unique_ptr<PosixSignal> signal_;
  // The fields below are guarded by the port's mutex while an operation is
  // bound to a port.
  // The port an operation was last started on; cleared when it completes.
  std::atomic<PosixPort *> port_{nullptr};
  Kind kind_ = Kind::None;
  bool pending_ = false;
  SerialResult result_ = SerialResult::Ok;
  uint32_t count_ = 0;
  uint32_t eventWord_ = 0;
  uint32_t *eventWordOut_ = nullptr;
  Clock::time_point started_{};
  Clock::time_point lastByte_{};
  Clock::time_point lastCheck_{};
  CommTimeouts timeouts_{};
  uint8_t *readBuffer_ = nullptr;
  const uint8_t *writeData_ = nullptr;
  uint32_t size_ = 0;
};

class PosixPort : public SerialPort {
public:
  PosixPort(int fd, bool tty, std::shared_ptr<const LineTime> time) : fd_(fd), tty_(tty), time_(std::move(time)) {
    // What the device was set to before us, given back when the port closes.
    haveOriginal_ = tty_ && tcgetattr(fd_, &original_) == 0;
    timeouts_ = CommTimeouts{};
#ifdef KAVRIN_HAVE_ICOUNT
    counters_ = ioctl(fd_, TIOCGICOUNT, &base_) == 0;
#endif
    LineSettings initial;
    termios t{};
    if (tcgetattr(fd_, &t) == 0) {
      initial.XonChar = t.c_cc[VSTART];
      initial.XoffChar = t.c_cc[VSTOP];
      initial.EofChar = t.c_cc[VEOF];
    }
    shadow_ = initial;
  }
  ~PosixPort() override {
    std::lock_guard lock(mutex_);
    for (PosixRecord *op : {readOp_, writeOp_})
      if (op)
        Complete(*op, SerialResult::Failed, 0);
    if (eventOp_)
      Complete(*eventOp_, SerialResult::Ok, 0);
    if (haveOriginal_)
      tcsetattr(fd_, TCSANOW, &original_);
    if (tty_)
      ioctl(fd_, TIOCNXCL);
    close(fd_);
  }

  bool IsCharacterDevice() override {
    struct stat st {};
    return fstat(fd_, &st) == 0 && S_ISCHR(st.st_mode);
  }
  // The driver's queues have a fixed size here; the handle only has to be valid.
  bool SetupQueues(uint32_t, uint32_t) override { return fcntl(fd_, F_GETFD) != -1; }

  bool Purge(uint32_t flags) override {
    std::lock_guard lock(mutex_);
    if ((flags & kPurgeRxAbort) && readOp_)
      Complete(*readOp_, SerialResult::Failed, 0);
    if ((flags & kPurgeTxAbort) && writeOp_)
      Complete(*writeOp_, SerialResult::Failed, 0);
    if (flags & (kPurgeRxClear | kPurgeTxClear)) {
      const int which = (flags & kPurgeRxClear) && (flags & kPurgeTxClear) ? TCIOFLUSH
                        : (flags & kPurgeRxClear)                          ? TCIFLUSH
                                                                           : TCOFLUSH;
      if (tty_)
        tcflush(fd_, which);
    }
    return fcntl(fd_, F_GETFD) != -1;
  }

  bool GetLineSettings(LineSettings &record) override {
    std::lock_guard lock(mutex_);
    termios t{};
    if (tcgetattr(fd_, &t) != 0)
      return false;
    record = shadow_;
    record.BaudRate = SpeedToBaud(cfgetospeed(&t));
    return true;
  }

  bool SetLineSettings(const LineSettings &record) override {
    std::lock_guard lock(mutex_);
    termios t{};
    if (tcgetattr(fd_, &t) != 0)
      return false;
    cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD;
    t.c_cflag &= ~(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
#ifdef CMSPAR
    t.c_cflag &= ~CMSPAR;
#endif
    switch (record.ByteSize) {
    case 5:
      t.c_cflag |= CS5;
      break;
    case 6:
      t.c_cflag |= CS6;
      break;
    case 7:
      t.c_cflag |= CS7;
      break;
    default:
      t.c_cflag |= CS8;
      break;
    }
    switch (record.Parity) {
    case 1:
      t.c_cflag |= PARENB | PARODD;
      break;
    case 2:
      t.c_cflag |= PARENB;
      break;
#ifdef CMSPAR
    case 3:
      t.c_cflag |= PARENB | PARODD | CMSPAR;
      break;
    case 4:
      t.c_cflag |= PARENB | CMSPAR;
      break;
#endif
    default:
      break;
    }
    if (record.StopBits != 0)
      t.c_cflag |= CSTOPB;
    const uint32_t dtr = (record.Flags >> kFlagDtrShift) & 3;
    const uint32_t rts = (record.Flags >> kFlagRtsShift) & 3;
    if ((record.Flags & kFlagParityCheck) && (t.c_cflag & PARENB))
      t.c_iflag |= INPCK;
    if ((record.Flags & kFlagOutxCtsFlow) || rts == 2)
      t.c_cflag |= CRTSCTS;
    if (record.Flags & kFlagOutX)
      t.c_iflag |= IXON;
    if (record.Flags & kFlagInX)
      t.c_iflag |= IXOFF;
    t.c_cc[VSTART] = record.XonChar;
    t.c_cc[VSTOP] = record.XoffChar;
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    if (const std::optional<speed_t> speed = BaudToSpeed(record.BaudRate)) {
      cfsetispeed(&t, *speed);
      cfsetospeed(&t, *speed);
    }
    const bool ok = tcsetattr(fd_, TCSANOW, &t) == 0;
    // Modem lines: held off unless enabled; drivers without them refuse, which is fine.
    int dtrBit = TIOCM_DTR;
    ioctl(fd_, dtr == 0 ? TIOCMBIC : TIOCMBIS, &dtrBit);
    if (rts != 2) {
      int rtsBit = TIOCM_RTS;
      ioctl(fd_, rts == 1 ? TIOCMBIS : TIOCMBIC, &rtsBit);
    }
    if (ok)
      shadow_ = record;
    return ok;
  }

  bool GetTimeouts(CommTimeouts &record) override {
    std::lock_guard lock(mutex_);
    record = timeouts_;
    return true;
  }
  bool SetTimeouts(const CommTimeouts &record) override {
    std::lock_guard lock(mutex_);
    timeouts_ = record;
    return true;
  }

  SerialResult SetEventMask(uint32_t mask) override {
    std::lock_guard lock(mutex_);
    if (fcntl(fd_, F_GETFD) == -1)
      return ClassifyErrno(errno);
    mask_ = mask;
    CheckCounters();
    if (eventOp_)
      Complete(*eventOp_, SerialResult::Ok, 0);
    return SerialResult::Ok;
  }

  SerialResult StartEventWait(AsyncRecord &record, uint32_t *eventWord) override {
    auto &rec = static_cast<PosixRecord &>(record);
    std::lock_guard lock(mutex_);
    if (fcntl(fd_, F_GETFD) == -1)
      return ClassifyErrno(errno);
    if (mask_ == 0)
      return SerialResult::Failed;
    Begin(rec, PosixRecord::Kind::Event);
    rec.eventWordOut_ = eventWord;
    rec.lastCheck_ = time_->Now();
    if (const uint32_t word = CheckCounters(); word != 0) {
      Complete(rec, SerialResult::Ok, 0, word);
      *eventWord = word;
      return SerialResult::Ok;
    }
    eventOp_ = &rec;
    return SerialResult::Pending;
  }

  SerialResult StartRead(AsyncRecord &record, uint8_t *buffer, uint32_t size, uint32_t *) override {
    auto &rec = static_cast<PosixRecord &>(record);
    std::lock_guard lock(mutex_);
    if (fcntl(fd_, F_GETFD) == -1)
      return ClassifyErrno(errno);
    Begin(rec, PosixRecord::Kind::Read);
    rec.readBuffer_ = buffer;
    rec.size_ = size;
    readOp_ = &rec;
    return SerialResult::Pending;
  }

  SerialResult StartWrite(AsyncRecord &record, const uint8_t *data, uint32_t size, uint32_t *count) override {
    auto &rec = static_cast<PosixRecord &>(record);
    std::lock_guard lock(mutex_);
    Begin(rec, PosixRecord::Kind::Write);
    rec.writeData_ = data;
    rec.size_ = size;
    uint32_t done = 0;
    while (done < size) {
      const ssize_t n = write(fd_, data + done, size - done);
      if (n > 0) {
        done += static_cast<uint32_t>(n);
        continue;
      }
      if (n < 0 && errno == EINTR)
        continue;
      const SerialResult cls = n < 0 ? ClassifyErrno(errno) : SerialResult::Pending;
      if (cls == SerialResult::Pending)
        break;
      if (done > 0) { // what was taken counts; the next write meets the failure
        Complete(rec, SerialResult::Ok, done);
        *count = done;
        return SerialResult::Ok;
      }
      Complete(rec, cls, 0);
      return cls;
    }
    if (done == size) {
      Complete(rec, SerialResult::Ok, done);
      *count = done;
      return SerialResult::Ok;
    }
    rec.count_ = done;
    writeOp_ = &rec;
    return SerialResult::Pending;
  }

  SerialResult GetResult(AsyncRecord &record, uint32_t *count, bool wait) override;

  SerialResult ClearLineErrors(uint32_t *flags) override {
    std::lock_guard lock(mutex_);
    if (fcntl(fd_, F_GETFD) == -1)
      return ClassifyErrno(errno);
    CheckCounters();
    *flags = lineErrors_;
    lineErrors_ = 0;
    return SerialResult::Ok;
  }

  // Called by WaitAny: what to poll for the record's operation, and until when.
  // Returns false when the record has nothing under way on this port.
  bool Prepare(PosixRecord &rec, pollfd &pfd, std::optional<Clock::time_point> &deadline) {
    std::lock_guard lock(mutex_);
    if (!rec.pending_ || rec.port_ != this)
      return false;
    pfd.fd = fd_;
    pfd.events = 0;
    pfd.revents = 0;
    auto lower = [&](Clock::time_point when) {
      if (!deadline || when < *deadline)
        deadline = when;
    };
    switch (rec.kind_) {
    case PosixRecord::Kind::Read:
      pfd.events = POLLIN;
      if (rec.count_ > 0 && rec.timeouts_.ReadIntervalTimeout > 0)
        lower(rec.lastByte_ + std::chrono::milliseconds(rec.timeouts_.ReadIntervalTimeout));
      if (const uint64_t total = ReadTotal(rec))
        lower(rec.started_ + std::chrono::milliseconds(total));
      break;
    case PosixRecord::Kind::Write:
      pfd.events = POLLOUT;
      if (const uint64_t total = WriteTotal(rec))
        lower(rec.started_ + std::chrono::milliseconds(total));
      break;
    case PosixRecord::Kind::Event:
      if (counters_)
        lower(rec.lastCheck_ + kCounterCheckPeriod);
      break;
    case PosixRecord::Kind::None:
      return false;
    }
    return true;
  }

  // Called by WaitAny after the poll: moves bytes and completes the operation
  // when its rules say so.
  void Progress(PosixRecord &rec, short revents, Clock::time_point now) {
    std::lock_guard lock(mutex_);
    if (!rec.pending_ || rec.port_ != this)
      return;
    const bool gone = revents & (POLLHUP | POLLERR);
    if (revents & POLLNVAL) {
      Complete(rec, SerialResult::InvalidHandle, 0);
      return;
    }
    switch (rec.kind_) {
    case PosixRecord::Kind::Read:
      ProgressRead(rec, revents, gone, now);
      break;
    case PosixRecord::Kind::Write:
      ProgressWrite(rec, revents, gone, now);
      break;
    case PosixRecord::Kind::Event:
      if (gone) {
        Complete(rec, SerialResult::Ok, 0, 0); // a cancelled wait: empty word
      } else if (counters_ && now >= rec.lastCheck_ + kCounterCheckPeriod) {
        rec.lastCheck_ = now;
        if (const uint32_t word = CheckCounters())
          Complete(rec, SerialResult::Ok, 0, word);
      }
      break;
    case PosixRecord::Kind::None:
      break;
    }
  }

  void Detach(PosixRecord &rec) {
    std::lock_guard lock(mutex_);
    Unbind(rec);
  }

private:
  static uint64_t ReadTotal(const PosixRecord &rec) {
    return uint64_t(rec.timeouts_.ReadTotalTimeoutMultiplier) * rec.size_ + rec.timeouts_.ReadTotalTimeoutConstant;
  }
  static uint64_t WriteTotal(const PosixRecord &rec) {
    return uint64_t(rec.timeouts_.WriteTotalTimeoutMultiplier) * rec.size_ + rec.timeouts_.WriteTotalTimeoutConstant;
  }

  void ProgressRead(PosixRecord &rec, short revents, bool gone, Clock::time_point now) {
    bool failed = false;
    int error = 0;
    if (revents & (POLLIN | POLLHUP | POLLERR)) {
      while (rec.count_ < rec.size_) {
        const ssize_t n = read(fd_, rec.readBuffer_ + rec.count_, rec.size_ - rec.count_);
        if (n > 0) {
          rec.count_ += static_cast<uint32_t>(n);
          rec.lastByte_ = now;
          continue;
        }
        if (n < 0 && errno == EINTR)
          continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
          failed = gone; // hung up with nothing left to read
          break;
        }
        failed = true; // a read of 0 after readable, or an error such as EIO
        error = n < 0 ? errno : 0;
        break;
      }
    }
    if (rec.count_ == rec.size_) {
      Complete(rec, SerialResult::Ok, rec.count_);
    } else if (failed) {
      // Bytes that arrived before the failure are delivered; the next read meets it.
      if (rec.count_ > 0)
        Complete(rec, SerialResult::Ok, rec.count_);
      else
        Complete(rec, error != 0 ? ClassifyErrno(error) : SerialResult::Failed, 0);
    } else if (rec.count_ > 0 && rec.timeouts_.ReadIntervalTimeout > 0 &&
               now >= rec.lastByte_ + std::chrono::milliseconds(rec.timeouts_.ReadIntervalTimeout)) {
      Complete(rec, SerialResult::Ok, rec.count_);
    } else if (const uint64_t total = ReadTotal(rec);
               total > 0 && now >= rec.started_ + std::chrono::milliseconds(total)) {
      Complete(rec, SerialResult::Ok, rec.count_);
    }
  }

  void ProgressWrite(PosixRecord &rec, short revents, bool gone, Clock::time_point now) {
    if (revents & (POLLOUT | POLLHUP | POLLERR)) {
      while (rec.count_ < rec.size_) {
        const ssize_t n = write(fd_, rec.writeData_ + rec.count_, rec.size_ - rec.count_);
        if (n > 0) {
          rec.count_ += static_cast<uint32_t>(n);
          continue;
        }
        if (n < 0 && errno == EINTR)
          continue;
        const SerialResult cls = n < 0 ? ClassifyErrno(errno) : SerialResult::Failed;
        if (cls == SerialResult::Pending && !gone)
          break;
        Complete(rec, cls == SerialResult::Pending ? SerialResult::Failed : cls, 0);
        return;
      }
    }
    if (rec.count_ == rec.size_)
      Complete(rec, SerialResult::Ok, rec.count_);
    else if (const uint64_t total = WriteTotal(rec);
             total > 0 && now >= rec.started_ + std::chrono::milliseconds(total))
      Complete(rec, SerialResult::Ok, rec.count_); // short, at the total time-out
  }

  // Compares the driver's interrupt counters with the last look; returns the
  // watched events that happened and gathers line errors. Lock held.
  uint32_t CheckCounters() {
#ifdef KAVRIN_HAVE_ICOUNT
    if (!counters_)
      return 0;
    serial_icounter_struct now{};
    if (ioctl(fd_, TIOCGICOUNT, &now) != 0)
      return 0;
    uint32_t errors = 0;
    if (now.buf_overrun != base_.buf_overrun)
      errors |= kLineErrorRxOver;
    if (now.overrun != base_.overrun)
      errors |= kLineErrorOverrun;
    if (now.parity != base_.parity)
      errors |= kLineErrorParity;
    if (now.frame != base_.frame)
      errors |= kLineErrorFrame;
    if (now.brk != base_.brk)
      errors |= kLineErrorBreak;
    uint32_t word = 0;
    if (errors) {
      lineErrors_ |= errors;
      word |= kEventErr;
    }
    if (now.dcd != base_.dcd)
      word |= kEventRlsd;
    if (now.rng != base_.rng)
      word |= kEventRing;
    base_ = now;
    return word & mask_;
#else
    return 0;
#endif
  }

  void Begin(PosixRecord &rec, PosixRecord::Kind kind) {
    Unbind(rec);
    rec.port_.store(this);
    rec.kind_ = kind;
    rec.pending_ = true;
    rec.result_ = SerialResult::Ok;
    rec.count_ = 0;
    rec.eventWord_ = 0;
    rec.started_ = time_->Now();
    rec.timeouts_ = timeouts_;
    rec.Sig().Reset();
  }
  void Complete(PosixRecord &rec, SerialResult result, uint32_t count, uint32_t eventWord = 0) {
    Unbind(rec);
    rec.pending_ = false;
    rec.result_ = result;
    rec.count_ = count;
    rec.eventWord_ = eventWord;
    rec.Sig().Set();
  }
  void Unbind(PosixRecord &rec) {
    rec.port_.store(nullptr);
    if (readOp_ == &rec)
      readOp_ = nullptr;
    if (eventOp_ == &rec)
      eventOp_ = nullptr;
    if (writeOp_ == &rec)
      writeOp_ = nullptr;
  }

  static std::optional<speed_t> BaudToSpeed(uint32_t baud);
  static uint32_t SpeedToBaud(speed_t speed);

  std::mutex mutex_;
  const int fd_;
  const bool tty_;
  const std::shared_ptr<const LineTime> time_;
  bool haveOriginal_ = false;
  termios original_{};
  bool counters_ = false;
#ifdef KAVRIN_HAVE_ICOUNT
  serial_icounter_struct base_{};
#endif
  uint32_t mask_ = 0;
  uint32_t lineErrors_ = 0;
  LineSettings shadow_;
  CommTimeouts timeouts_;
  PosixRecord *readOp_ = nullptr;
  PosixRecord *eventOp_ = nullptr;
  PosixRecord *writeOp_ = nullptr;
};

const struct {
  uint32_t baud;
  speed_t speed;
} kSpeeds[] = {
    {50, B50},         {75, B75},       {110, B110},     {134, B134},     {150, B150},       {200, B200},
    {300, B300},       {600, B600},     {1200, B1200},   {1800, B1800},   {2400, B2400},     {4800, B4800},
    {9600, B9600},     {19200, B19200}, {38400, B38400}, {57600, B57600}, {115200, B115200},
#ifdef B230400
    {230400, B230400},
#endif
#ifdef B460800
    {460800, B460800},
#endif
#ifdef B921600
    {921600, B921600},
#endif
};

std::optional<speed_t> PosixPort::BaudToSpeed(uint32_t baud) {
  for (const auto &s : kSpeeds)
    if (s.baud == baud)
      return s.speed;
  return std::nullopt; // an unsupported rate leaves the speed as it is
}

uint32_t PosixPort::SpeedToBaud(speed_t speed) {
  for (const auto &s : kSpeeds)
    if (s.speed == speed)
      return s.baud;
  return 0;
}

PosixRecord::~PosixRecord() {
  if (PosixPort *port = port_.load())
    port->Detach(*this);
}

// An eventfd raised when a clock that moves only when told has moved; it
// closes when the last holder lets go (a move may still be calling it).
class MoveSignal {
public:
  MoveSignal() : fd_(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}
  ~MoveSignal() {
    if (fd_ >= 0)
      close(fd_);
  }
  void Raise() const {
    const uint64_t one = 1;
    [[maybe_unused]] ssize_t n = write(fd_, &one, sizeof one);
  }
  int Fd() const { return fd_; }

private:
  const int fd_;
};

// Waits for the first raised signal, moving the bytes of the listed records'
// operations meanwhile. On a clock that moves only when told, the wait wakes
// at each move instead of at a time-out.
int WaitSignals(std::span<SerialSignal *const> list, const LineTime &time) {
  std::vector<pollfd> fds;
  std::vector<std::pair<PosixRecord *, size_t>> ops;
  for (;;) {
    for (size_t i = 0; i < list.size(); ++i)
      if (list[i]->IsSet())
        return static_cast<int>(i);
    fds.clear();
    ops.clear();
    // Watched before the moments are read, so a move in between still wakes the wait.
    std::shared_ptr<void> watch;
    if (time.Manual()) {
      auto moved = std::make_shared<MoveSignal>();
      watch = time.Source().WatchMoves([moved] { moved->Raise(); });
      fds.push_back(pollfd{moved->Fd(), POLLIN, 0});
    }
    std::optional<Clock::time_point> deadline;
    for (SerialSignal *s : list) {
      auto *signal = static_cast<PosixSignal *>(s);
      fds.push_back(pollfd{signal->Fd(), POLLIN, 0});
      PosixRecord *rec = signal->Owner();
      if (PosixPort *port = rec ? rec->port_.load() : nullptr) {
        pollfd pfd{};
        if (port->Prepare(*rec, pfd, deadline)) {
          ops.emplace_back(rec, fds.size());
          fds.push_back(pfd);
        }
      }
    }
    timespec timeout{};
    timespec *timeoutPtr = nullptr;
    if (deadline && !time.Manual()) {
      const auto left = std::max(Clock::duration::zero(), *deadline - Clock::now());
      const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
      timeout.tv_sec = static_cast<time_t>(ns / 1000000000);
      timeout.tv_nsec = static_cast<long>(ns % 1000000000);
      timeoutPtr = &timeout;
    }
    if (ppoll(fds.data(), fds.size(), timeoutPtr, nullptr) < 0) {
      if (errno == EINTR)
        continue;
      return -1;
    }
    const auto now = time.Now();
    for (const auto &[rec, index] : ops)
      if (PosixPort *port = rec->port_.load())
        port->Progress(*rec, fds[index].revents, now);
  }
}

SerialResult PosixPort::GetResult(AsyncRecord &record, uint32_t *count, bool wait) {
  auto &rec = static_cast<PosixRecord &>(record);
  for (;;) {
    {
      std::lock_guard lock(mutex_);
      if (!rec.pending_) {
        if (rec.result_ != SerialResult::Ok)
          return rec.result_;
        if (count)
          *count = rec.count_;
        if (rec.kind_ == PosixRecord::Kind::Event && rec.eventWordOut_)
          *rec.eventWordOut_ = rec.eventWord_;
        return SerialResult::Ok;
      }
    }
    if (!wait)
      return SerialResult::Failed; // still under way
    SerialSignal *const own[] = {&rec.Signal()};
    if (WaitSignals(own, *time_) < 0)
      return SerialResult::Failed;
  }
}

} // namespace

QString PosixSerialLayer::DevicePath(const QString &name) {
  if (name.contains(QLatin1Char('/')))
    return name;
  static const QRegularExpression com(QStringLiteral("^COM([1-9][0-9]{0,5})$"),
                                      QRegularExpression::CaseInsensitiveOption);
  if (const QRegularExpressionMatch m = com.match(name); m.hasMatch())
    return QStringLiteral("/dev/ttyS%1").arg(m.captured(1).toInt() - 1);
  return QStringLiteral("/dev/") + name;
}

namespace {

OpenFailure FailureOf(int error, const QString &device) {
  return {OpenFailureKindOf(error), error, device, QString::fromLocal8Bit(strerror(error))};
}

// The controlling terminal from /proc/self/stat (field 7, the kernel's
// encoding of its device number); nullopt when the process has none.
std::optional<std::pair<unsigned, unsigned>> ControllingTerminal() {
  QFile stat(QStringLiteral("/proc/self/stat"));
  if (!stat.open(QIODevice::ReadOnly))
    return std::nullopt;
  const QByteArray text = stat.readAll();
  // The command name in parentheses may hold blanks: count fields after it.
  const qsizetype close = text.lastIndexOf(')');
  const QList<QByteArray> fields = text.mid(close + 2).split(' ');
  if (close < 0 || fields.size() < 5)
    return std::nullopt;
  const unsigned long ttyNr = fields[4].toULong();
  if (ttyNr == 0)
    return std::nullopt;
  return std::pair{unsigned((ttyNr >> 8) & 0xFFF), unsigned((ttyNr & 0xFF) | ((ttyNr >> 12) & 0xFFF00))};
}

bool IsCharacterDevice(int fd) {
  struct stat st {};
  return fstat(fd, &st) == 0 && S_ISCHR(st.st_mode);
}

// Terminals that are no serial port of a box: /dev/tty, the console, the
// pseudo-terminal multiplexer, the virtual consoles, the terminal the program
// runs in. Making one of them raw at 38400 would take the operator's own
// terminal away.
bool IsOwnTerminalOrConsole(int fd) {
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode))
    return false;
  const unsigned maj = major(st.st_rdev), min = minor(st.st_rdev);
  if (maj == 5 && min <= 2)
    return true; // tty, console, ptmx
  if (maj == 4 && min < 64)
    return true; // tty0 .. tty63
  if (const auto ctty = ControllingTerminal(); ctty && ctty->first == maj && ctty->second == min)
    return true;
  for (int own : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
    struct stat o {};
    if (isatty(own) && fstat(own, &o) == 0 && S_ISCHR(o.st_mode) && o.st_rdev == st.st_rdev)
      return true;
  }
  return false;
}

} // namespace

PosixSerialLayer::PosixSerialLayer(base::Clock &clock) : time_(std::make_shared<const LineTime>(clock)) {}
PosixSerialLayer::~PosixSerialLayer() = default;

std::unique_ptr<SerialPort> PosixSerialLayer::Open(const QString &name, OpenFailure &failure) {
  const QString device = DevicePath(name);
  const QByteArray path = QFile::encodeName(device);
  const int fd = open(path.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    failure = FailureOf(errno, device);
    return nullptr;
  }
  if (IsOwnTerminalOrConsole(fd)) {
    close(fd);
    failure = {OpenFailure::Kind::NotASerialPort, 0, device,
               QStringLiteral("a terminal or console of this computer, not a serial port")};
    return nullptr;
  }
  // Only a terminal takes the line settings; other character devices
  // (/dev/zero, /dev/null, ...) would be read as a box that never stops
  // talking. Files that are no character device are refused by the caller.
  if (termios t{}; IsCharacterDevice(fd) && tcgetattr(fd, &t) != 0) {
    const int error = errno;
    close(fd);
    failure = FailureOf(error, device);
    failure.kind = OpenFailure::Kind::NotASerialPort;
    failure.detail = QStringLiteral("not a serial port (%1)").arg(failure.detail);
    return nullptr;
  }
  // The lock refuses a second opener, root included; TIOCEXCL also refuses
  // programs that do not take it.
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int error = errno;
    close(fd);
    failure = FailureOf(error, device);
    failure.detail = QStringLiteral("locked by another program");
    return nullptr;
  }
  const bool tty = isatty(fd);
  if (tty)
    ioctl(fd, TIOCEXCL);
  return std::make_unique<PosixPort>(fd, tty, time_);
}

std::unique_ptr<SerialSignal> PosixSerialLayer::CreateSignal(SignalUse) { return MakeSignal(nullptr); }

std::unique_ptr<AsyncRecord> PosixSerialLayer::CreateRecord(SignalUse) {
  auto rec = std::make_unique<PosixRecord>();
  rec->signal_ = MakeSignal(rec.get());
  if (!rec->signal_)
    return nullptr;
  rec->signal_->Set();
  return rec;
}

int PosixSerialLayer::WaitAny(std::span<SerialSignal *const> list) { return WaitSignals(list, *time_); }

void PosixSerialLayer::SetCurrentThreadPriority(int stepsAboveNormal) {
  // A lower nice value needs privileges; without them the thread stays at normal.
  setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), -stepsAboveNormal);
}

std::shared_ptr<SerialLayer> MakePlatformSerialLayer() { return std::make_shared<PosixSerialLayer>(); }

} // namespace serial
