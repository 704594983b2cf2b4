#include "support/memory_serial.h"

#include <QCoreApplication>
#include <cerrno>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <optional>
#include <set>
#include <utility>

class MemoryRecord;

// Moments on the layer's clock, in milliseconds.
using TimePoint = int64_t;

// The layer's one condition variable, which also tells the test's hook (a
// thread waiting for the line to do something) of every change.
struct ChangeSignal {
  std::condition_variable cv;
  std::function<void()> hook; // set before the line is used
  void notify_all() {
    cv.notify_all();
    if (hook)
      hook();
  }
  void wait(std::unique_lock<std::mutex> &lock) { cv.wait(lock); }
  template <class Duration> void wait_for(std::unique_lock<std::mutex> &lock, Duration d) { cv.wait_for(lock, d); }
};

struct MemoryCore {
  explicit MemoryCore(base::Clock &clock) : clock(clock) {}
  base::Clock &clock;
  // Set while the clock moves only when a test moves it: waits then wait for
  // its moves instead of a time-out.
  std::shared_ptr<void> clockWatch;
  std::mutex mutex;
  ChangeSignal changed;
  std::set<serial::SignalUse> failSignals;
  std::set<serial::ThreadRole> failThreads;
  std::set<serial::BlockUse> failBlocks;
  std::set<uint32_t> failNotices;
  std::set<serial::SignalUse> failNextWait;

  // What Settle watches: the layer's threads that run (made and not yet
  // ended), the signal lists they wait on, and a count of everything that can
  // give a thread or the GUI thread work (a change, a notice posted).
  int liveThreads = 0;
  std::vector<const std::span<serial::SerialSignal *const> *> waits;
  std::condition_variable settling; // a thread began to wait, or ended
  uint64_t activity = 0;

  // Brings the pending operation of `record` forward; completes it when its
  // rules say so, else lowers `deadline` to when it next may. Lock held.
  void Evaluate(MemoryRecord &record, TimePoint now, std::optional<TimePoint> &deadline);
  TimePoint Now() const { return clock.NowMs(); }
  // Wakes every waiter to look again. Lock held.
  void Changed() {
    ++activity;
    changed.notify_all();
  }
  // Waits on `list` for a change, or until `deadline` on the clock. Lock held.
  void Wait(std::unique_lock<std::mutex> &lock, const std::span<serial::SerialSignal *const> &list,
            const std::optional<TimePoint> &deadline) {
    waits.push_back(&list);
    settling.notify_all();
    if (deadline && !clockWatch)
      changed.wait_for(lock, std::chrono::milliseconds(std::max<TimePoint>(0, *deadline - Now())));
    else
      changed.wait(lock);
    std::erase(waits, &list);
  }
  // Whether every running thread waits for what only the test can cause. Lock held.
  bool Quiet();
};

struct MemoryDevice::State {
  bool open = false;
  int openCount = 0;
  bool openFails = false;
  bool characterDevice = true;
  bool queueSetupFails = false;
  bool invalid = false;
  bool unplugged = false;
  uint32_t inQueue = 0;
  uint32_t outQueue = 0;
  std::vector<uint8_t> received; // arrived, not yet read
  TimePoint lastArrival = 0;
  std::vector<uint8_t> written;
  serial::LineSettings line{};
  int lineWrites = 0;
  serial::CommTimeouts timeouts{};
  int timeoutWrites = 0;
  uint32_t eventMask = 0;
  std::deque<uint32_t> events;
  uint32_t lineErrors = 0;
  std::vector<uint32_t> purges;
  serial::SerialResult failEventMask = serial::SerialResult::Ok;
  serial::SerialResult failClear = serial::SerialResult::Ok;
  std::optional<std::pair<serial::SerialResult, Stage>> failRead, failWrite, failEvent;
  size_t writeChunk = 0;
  bool holdWrites = false;
  MemoryRecord *readOp = nullptr;
  MemoryRecord *eventOp = nullptr;
  MemoryRecord *writeOp = nullptr;
};

// ---- signals and records --------------------------------------------------

class MemorySignal : public serial::SerialSignal {
public:
  MemorySignal(std::shared_ptr<MemoryCore> core, serial::SignalUse use, MemoryRecord *owner)
      : core_(std::move(core)), use_(use), owner_(owner) {}
  void Set() override {
    std::lock_guard lock(core_->mutex);
    set_ = true;
    core_->Changed();
  }
  void Reset() override {
    std::lock_guard lock(core_->mutex);
    set_ = false;
  }
  bool IsSet() const override {
    std::lock_guard lock(core_->mutex);
    return set_;
  }
  // Lock held.
  bool set_ = false;
  std::shared_ptr<MemoryCore> core_;
  serial::SignalUse use_;
  MemoryRecord *owner_;
};

class MemoryRecord : public serial::AsyncRecord {
public:
  enum class Kind { None, Read, Event, Write };
  MemoryRecord(std::shared_ptr<MemoryCore> core, serial::SignalUse use) : core_(core), signal_(core, use, this) {
    signal_.set_ = true;
  }
  ~MemoryRecord() override {
    std::lock_guard lock(core_->mutex);
    Detach();
  }
  serial::SerialSignal &Signal() override { return signal_; }

  // All below: lock held.
  void Begin(Kind kind, MemoryDevice::State *device) {
    Detach();
    kind_ = kind;
    device_ = device;
    pending_ = true;
    result_ = serial::SerialResult::Ok;
    count_ = 0;
    eventWord_ = 0;
    started_ = core_->Now();
    signal_.set_ = false;
  }
  void Complete(serial::SerialResult result, uint32_t count, uint32_t eventWord = 0) {
    Detach();
    pending_ = false;
    result_ = result;
    count_ = count;
    eventWord_ = eventWord;
    signal_.set_ = true;
    core_->Changed();
  }
  void Detach() {
    if (device_) {
      if (device_->readOp == this)
        device_->readOp = nullptr;
      if (device_->eventOp == this)
        device_->eventOp = nullptr;
      if (device_->writeOp == this)
        device_->writeOp = nullptr;
    }
    device_ = nullptr;
  }

  std::shared_ptr<MemoryCore> core_;
  MemorySignal signal_;
  Kind kind_ = Kind::None;
  MemoryDevice::State *device_ = nullptr;
  bool pending_ = false;
  serial::SerialResult result_ = serial::SerialResult::Ok;
  uint32_t count_ = 0;
  uint32_t eventWord_ = 0;
  TimePoint started_ = 0;
  uint8_t *readBuffer_ = nullptr;
  uint32_t readSize_ = 0;
  const uint8_t *writeData_ = nullptr;
  uint32_t writeSize_ = 0;
  uint32_t *eventWordOut_ = nullptr;
};

namespace {
uint32_t TakeReceived(MemoryDevice::State &device, uint8_t *buffer, uint32_t size) {
  const uint32_t n = static_cast<uint32_t>(std::min<size_t>(size, device.received.size()));
  if (n > 0)
    std::memcpy(buffer, device.received.data(), n);
  device.received.erase(device.received.begin(), device.received.begin() + n);
  return n;
}

uint32_t TakeWrite(MemoryDevice::State &device, const uint8_t *data, uint32_t size) {
  const uint32_t n = device.writeChunk == 0 ? size : static_cast<uint32_t>(std::min<size_t>(size, device.writeChunk));
  device.written.insert(device.written.end(), data, data + n);
  return n;
}

void Lower(std::optional<TimePoint> &deadline, TimePoint when) {
  if (!deadline || when < *deadline)
    deadline = when;
}
} // namespace

void MemoryCore::Evaluate(MemoryRecord &record, TimePoint now, std::optional<TimePoint> &deadline) {
  if (!record.pending_ || !record.device_)
    return;
  MemoryDevice::State &device = *record.device_;
  switch (record.kind_) {
  case MemoryRecord::Kind::Read: {
    const serial::CommTimeouts &t = device.timeouts;
    const uint64_t total = uint64_t(t.ReadTotalTimeoutMultiplier) * record.readSize_ + t.ReadTotalTimeoutConstant;
    const TimePoint totalEnd = record.started_ + TimePoint(total);
    const TimePoint silenceEnd = device.lastArrival + TimePoint(t.ReadIntervalTimeout);
    if (device.received.size() >= record.readSize_ ||
        (!device.received.empty() && t.ReadIntervalTimeout > 0 && now >= silenceEnd) ||
        (total > 0 && now >= totalEnd)) {
      record.Complete(serial::SerialResult::Ok, TakeReceived(device, record.readBuffer_, record.readSize_));
      return;
    }
    if (!device.received.empty() && t.ReadIntervalTimeout > 0)
      Lower(deadline, silenceEnd);
    if (total > 0)
      Lower(deadline, totalEnd);
    break;
  }
  case MemoryRecord::Kind::Event:
    if (!device.events.empty()) {
      const uint32_t word = device.events.front();
      device.events.pop_front();
      record.Complete(serial::SerialResult::Ok, 0, word);
    }
    break;
  case MemoryRecord::Kind::Write:
    if (!device.holdWrites)
      record.Complete(serial::SerialResult::Ok, TakeWrite(device, record.writeData_, record.writeSize_));
    break;
  case MemoryRecord::Kind::None:
    break;
  }
}

// ---- the port -------------------------------------------------------------

class MemoryPort : public serial::SerialPort {
public:
  MemoryPort(std::shared_ptr<MemoryCore> core, std::shared_ptr<MemoryDevice> device)
      : core_(std::move(core)), device_(std::move(device)), state_(*device_->state_) {}
  ~MemoryPort() override {
    std::lock_guard lock(core_->mutex);
    for (MemoryRecord *op : {state_.readOp, state_.writeOp})
      if (op)
        op->Complete(serial::SerialResult::Failed, 0);
    if (state_.eventOp)
      state_.eventOp->Complete(serial::SerialResult::Ok, 0, 0);
    state_.open = false;
    state_.received.clear();
    state_.events.clear();
    state_.eventMask = 0;
    core_->Changed();
  }

  bool IsCharacterDevice() override {
    std::lock_guard lock(core_->mutex);
    return state_.characterDevice;
  }
  bool SetupQueues(uint32_t inBytes, uint32_t outBytes) override {
    std::lock_guard lock(core_->mutex);
    if (state_.queueSetupFails || Broken())
      return false;
    state_.inQueue = inBytes;
    state_.outQueue = outBytes;
    return true;
  }
  bool Purge(uint32_t flags) override {
    std::lock_guard lock(core_->mutex);
    if (Broken())
      return false;
    state_.purges.push_back(flags);
    if ((flags & serial::kPurgeRxAbort) && state_.readOp)
      state_.readOp->Complete(serial::SerialResult::Failed, 0);
    if (flags & serial::kPurgeRxClear)
      state_.received.clear();
    if ((flags & serial::kPurgeTxAbort) && state_.writeOp)
      state_.writeOp->Complete(serial::SerialResult::Failed, 0);
    return true;
  }
  bool GetLineSettings(serial::LineSettings &record) override {
    std::lock_guard lock(core_->mutex);
    if (Broken())
      return false;
    record = state_.line;
    return true;
  }
  bool SetLineSettings(const serial::LineSettings &record) override {
    std::lock_guard lock(core_->mutex);
    if (Broken())
      return false;
    state_.line = record;
    ++state_.lineWrites;
    return true;
  }
  bool GetTimeouts(serial::CommTimeouts &record) override {
    std::lock_guard lock(core_->mutex);
    if (Broken())
      return false;
    record = state_.timeouts;
    return true;
  }
  bool SetTimeouts(const serial::CommTimeouts &record) override {
    std::lock_guard lock(core_->mutex);
    if (Broken())
      return false;
    state_.timeouts = record;
    ++state_.timeoutWrites;
    core_->Changed();
    return true;
  }
  serial::SerialResult SetEventMask(uint32_t mask) override {
    std::lock_guard lock(core_->mutex);
    if (const serial::SerialResult broken = BrokenResult(); broken != serial::SerialResult::Ok)
      return broken;
    if (state_.failEventMask != serial::SerialResult::Ok)
      return state_.failEventMask;
    state_.eventMask = mask;
    if (state_.eventOp)
      state_.eventOp->Complete(serial::SerialResult::Ok, 0, 0);
    return serial::SerialResult::Ok;
  }
  serial::SerialResult StartEventWait(serial::AsyncRecord &record, uint32_t *eventWord) override {
    auto &rec = static_cast<MemoryRecord &>(record);
    std::lock_guard lock(core_->mutex);
    if (const serial::SerialResult broken = BrokenResult(); broken != serial::SerialResult::Ok)
      return broken;
    if (auto fail = TakeFailure(state_.failEvent, MemoryDevice::Stage::Start))
      return *fail;
    rec.Begin(MemoryRecord::Kind::Event, &state_);
    rec.eventWordOut_ = eventWord;
    if (auto fail = TakeFailure(state_.failEvent, MemoryDevice::Stage::Result)) {
      rec.Complete(*fail, 0);
      return serial::SerialResult::Pending;
    }
    return StartOrPend(rec, state_.eventOp, nullptr);
  }
  serial::SerialResult StartRead(serial::AsyncRecord &record, uint8_t *buffer, uint32_t size,
                                 uint32_t *count) override {
    auto &rec = static_cast<MemoryRecord &>(record);
    std::lock_guard lock(core_->mutex);
    if (const serial::SerialResult broken = BrokenResult(); broken != serial::SerialResult::Ok)
      return broken;
    if (auto fail = TakeFailure(state_.failRead, MemoryDevice::Stage::Start))
      return *fail;
    rec.Begin(MemoryRecord::Kind::Read, &state_);
    rec.readBuffer_ = buffer;
    rec.readSize_ = size;
    if (auto fail = TakeFailure(state_.failRead, MemoryDevice::Stage::Result)) {
      rec.Complete(*fail, 0);
      return serial::SerialResult::Pending;
    }
    return StartOrPend(rec, state_.readOp, count);
  }
  serial::SerialResult StartWrite(serial::AsyncRecord &record, const uint8_t *data, uint32_t size,
                                  uint32_t *count) override {
    auto &rec = static_cast<MemoryRecord &>(record);
    std::lock_guard lock(core_->mutex);
    if (const serial::SerialResult broken = BrokenResult(); broken != serial::SerialResult::Ok)
      return broken;
    if (auto fail = TakeFailure(state_.failWrite, MemoryDevice::Stage::Start))
      return *fail;
    rec.Begin(MemoryRecord::Kind::Write, &state_);
    rec.writeData_ = data;
    rec.writeSize_ = size;
    if (auto fail = TakeFailure(state_.failWrite, MemoryDevice::Stage::Result)) {
      rec.Complete(*fail, 0);
      return serial::SerialResult::Pending;
    }
    return StartOrPend(rec, state_.writeOp, count);
  }
  serial::SerialResult GetResult(serial::AsyncRecord &record, uint32_t *count, bool wait) override {
    auto &rec = static_cast<MemoryRecord &>(record);
    serial::SerialSignal *const own[] = {&rec.signal_};
    const std::span<serial::SerialSignal *const> waitList(own);
    std::unique_lock lock(core_->mutex);
    for (;;) {
      std::optional<TimePoint> deadline;
      core_->Evaluate(rec, core_->Now(), deadline);
      if (!rec.pending_)
        break;
      if (!wait)
        return serial::SerialResult::Failed;
      core_->Wait(lock, waitList, deadline);
    }
    if (rec.result_ != serial::SerialResult::Ok)
      return rec.result_;
    if (count)
      *count = rec.count_;
    if (rec.kind_ == MemoryRecord::Kind::Event && rec.eventWordOut_)
      *rec.eventWordOut_ = rec.eventWord_;
    return serial::SerialResult::Ok;
  }
  serial::SerialResult ClearLineErrors(uint32_t *flags) override {
    std::lock_guard lock(core_->mutex);
    if (const serial::SerialResult broken = BrokenResult(); broken != serial::SerialResult::Ok)
      return broken;
    if (state_.failClear != serial::SerialResult::Ok)
      return state_.failClear;
    *flags = state_.lineErrors;
    state_.lineErrors = 0;
    return serial::SerialResult::Ok;
  }

private:
  bool Broken() const { return state_.invalid || state_.unplugged; }
  serial::SerialResult BrokenResult() const {
    if (state_.invalid)
      return serial::SerialResult::InvalidHandle;
    if (state_.unplugged)
      return serial::SerialResult::Failed;
    return serial::SerialResult::Ok;
  }
  static std::optional<serial::SerialResult>
  TakeFailure(std::optional<std::pair<serial::SerialResult, MemoryDevice::Stage>> &failure, MemoryDevice::Stage stage) {
    if (!failure || failure->second != stage)
      return std::nullopt;
    const serial::SerialResult result = failure->first;
    failure.reset();
    return result;
  }
  // Completes the just-begun operation at once if its rules allow; otherwise
  // leaves it under way. Lock held.
  serial::SerialResult StartOrPend(MemoryRecord &rec, MemoryRecord *&slot, uint32_t *count) {
    std::optional<TimePoint> deadline;
    core_->Evaluate(rec, core_->Now(), deadline);
    if (rec.pending_) {
      slot = &rec;
      return serial::SerialResult::Pending;
    }
    if (rec.result_ != serial::SerialResult::Ok)
      return rec.result_;
    if (count)
      *count = rec.count_;
    if (rec.kind_ == MemoryRecord::Kind::Event && rec.eventWordOut_)
      *rec.eventWordOut_ = rec.eventWord_;
    return serial::SerialResult::Ok;
  }

  std::shared_ptr<MemoryCore> core_;
  std::shared_ptr<MemoryDevice> device_;
  MemoryDevice::State &state_;
};

// ---- the layer ------------------------------------------------------------

MemorySerialLayer::MemorySerialLayer(base::Clock &clock) : core_(std::make_shared<MemoryCore>(clock)) {
  core_->clockWatch = clock.WatchMoves([core = std::weak_ptr<MemoryCore>(core_)] {
    if (auto c = core.lock()) {
      // Under the lock, so a waiter between its look at the time and its wait is not missed.
      std::lock_guard lock(c->mutex);
      c->Changed();
    }
  });
}
MemorySerialLayer::~MemorySerialLayer() = default;

std::shared_ptr<MemoryDevice> MemorySerialLayer::AddDevice(const QString &name) {
  auto device = std::make_shared<MemoryDevice>(core_);
  std::lock_guard lock(core_->mutex);
  devices_[name] = device;
  return device;
}

namespace {
template <typename T> void Toggle(std::set<T> &set, T value, bool on) {
  if (on)
    set.insert(value);
  else
    set.erase(value);
}
} // namespace

void MemorySerialLayer::FailSignalCreation(serial::SignalUse use, bool fail) {
  std::lock_guard lock(core_->mutex);
  Toggle(core_->failSignals, use, fail);
}
void MemorySerialLayer::FailThreadCreation(serial::ThreadRole role, bool fail) {
  std::lock_guard lock(core_->mutex);
  Toggle(core_->failThreads, role, fail);
}
void MemorySerialLayer::FailBlocks(serial::BlockUse use, bool fail) {
  std::lock_guard lock(core_->mutex);
  Toggle(core_->failBlocks, use, fail);
}
void MemorySerialLayer::FailNotice(uint32_t code, bool fail) {
  std::lock_guard lock(core_->mutex);
  Toggle(core_->failNotices, code, fail);
}
void MemorySerialLayer::OnChange(std::function<void()> hook) {
  std::lock_guard lock(core_->mutex);
  core_->changed.hook = std::move(hook);
}

void MemorySerialLayer::FailNextWait(serial::SignalUse use) {
  std::lock_guard lock(core_->mutex);
  core_->failNextWait.insert(use);
  core_->Changed();
}

std::unique_ptr<serial::SerialPort> MemorySerialLayer::Open(const QString &name, serial::OpenFailure &failure) {
  std::lock_guard lock(core_->mutex);
  failure.device = name;
  auto it = devices_.find(name);
  if (it == devices_.end()) {
    failure = {serial::OpenFailure::Kind::Missing, ENOENT, name, QStringLiteral("No such file or directory")};
    return nullptr;
  }
  MemoryDevice::State &state = *it->second->state_;
  if (state.openFails) {
    failure = {serial::OpenFailure::Kind::NoPermission, EACCES, name, QStringLiteral("Permission denied")};
    return nullptr;
  }
  if (state.open) {
    failure = {serial::OpenFailure::Kind::InUse, EBUSY, name, QStringLiteral("Device or resource busy")};
    return nullptr;
  }
  state.open = true;
  ++state.openCount;
  state.invalid = false;
  state.unplugged = false;
  return std::make_unique<MemoryPort>(core_, it->second);
}

std::unique_ptr<serial::SerialSignal> MemorySerialLayer::CreateSignal(serial::SignalUse use) {
  std::lock_guard lock(core_->mutex);
  if (core_->failSignals.count(use))
    return nullptr;
  return std::make_unique<MemorySignal>(core_, use, nullptr);
}

std::unique_ptr<serial::AsyncRecord> MemorySerialLayer::CreateRecord(serial::SignalUse use) {
  {
    std::lock_guard lock(core_->mutex);
    if (core_->failSignals.count(use))
      return nullptr;
  }
  return std::make_unique<MemoryRecord>(core_, use);
}

int MemorySerialLayer::WaitAny(std::span<serial::SerialSignal *const> list) {
  std::unique_lock lock(core_->mutex);
  for (;;) {
    for (serial::SerialSignal *s : list) {
      auto *signal = static_cast<MemorySignal *>(s);
      if (core_->failNextWait.erase(signal->use_))
        return -1;
    }
    const TimePoint now = core_->Now();
    std::optional<TimePoint> deadline;
    for (serial::SerialSignal *s : list)
      if (MemoryRecord *owner = static_cast<MemorySignal *>(s)->owner_)
        core_->Evaluate(*owner, now, deadline);
    for (size_t i = 0; i < list.size(); ++i)
      if (static_cast<MemorySignal *>(list[i])->set_)
        return static_cast<int>(i);
    core_->Wait(lock, list, deadline);
  }
}

std::unique_ptr<serial::WorkerThread> MemorySerialLayer::CreateThread(serial::ThreadRole role,
                                                                      std::function<void()> body) {
  {
    std::lock_guard lock(core_->mutex);
    if (core_->failThreads.count(role))
      return nullptr;
    ++core_->liveThreads;
  }
  // The thread counts as running from now until its body returns, or until
  // it goes without having run.
  struct Running {
    explicit Running(std::shared_ptr<MemoryCore> c) : core(std::move(c)) {}
    std::shared_ptr<MemoryCore> core;
    bool counted = true;
    void End() {
      std::lock_guard lock(core->mutex);
      if (!std::exchange(counted, false))
        return;
      --core->liveThreads;
      core->settling.notify_all();
    }
    ~Running() { End(); }
  };
  auto running = std::make_shared<Running>(core_);
  auto thread = serial::SerialLayer::CreateThread(role, [running, body = std::move(body)] {
    body();
    running->End();
  });
  if (!thread)
    running->End();
  return thread;
}

bool MemoryCore::Quiet() {
  if (waits.size() != size_t(liveThreads))
    return false;
  const TimePoint now = Now();
  for (const auto *list : waits) {
    std::optional<TimePoint> deadline;
    for (serial::SerialSignal *s : *list) {
      auto *signal = static_cast<MemorySignal *>(s);
      if (failNextWait.count(signal->use_))
        return false;
      if (signal->owner_)
        Evaluate(*signal->owner_, now, deadline);
      if (signal->set_)
        return false;
    }
    if (deadline && !clockWatch)
      return false; // the system clock ends this wait by itself
  }
  return true;
}

namespace {
using Deadline = std::chrono::steady_clock::time_point;
Deadline After(int ms) { return std::chrono::steady_clock::now() + std::chrono::milliseconds(ms); }

// Lock held; false when `end` came first.
bool WaitForQuiet(MemoryCore &core, std::unique_lock<std::mutex> &lock, Deadline end) {
  while (!core.Quiet())
    if (core.settling.wait_until(lock, end) == std::cv_status::timeout && !core.Quiet())
      return false;
  return true;
}
} // namespace

bool MemorySerialLayer::WaitUntilQuiet(int boundMs) {
  std::unique_lock lock(core_->mutex);
  return WaitForQuiet(*core_, lock, After(boundMs));
}

bool MemorySerialLayer::Settle(int boundMs) {
  const Deadline end = After(boundMs);
  for (;;) {
    uint64_t seen;
    {
      std::unique_lock lock(core_->mutex);
      if (!WaitForQuiet(*core_, lock, end))
        return false;
      seen = core_->activity;
    }
    // The notices posted so far, and whatever their handlers do at once.
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
    std::unique_lock lock(core_->mutex);
    if (core_->activity == seen && core_->Quiet())
      return true;
    if (std::chrono::steady_clock::now() >= end)
      return false;
  }
}

serial::Block MemorySerialLayer::AllocateBlock(size_t size, serial::BlockUse use) {
  {
    std::lock_guard lock(core_->mutex);
    if (core_->failBlocks.count(use))
      return nullptr;
  }
  return serial::SerialLayer::AllocateBlock(size, use);
}

bool MemorySerialLayer::AcceptNotice(uint32_t code) {
  std::lock_guard lock(core_->mutex);
  ++core_->activity; // a notice for the GUI thread, whether the sink takes it or not
  return core_->failNotices.count(code) == 0;
}

// ---- the device -----------------------------------------------------------

MemoryDevice::MemoryDevice(std::shared_ptr<MemoryCore> core) : core_(std::move(core)), state_(new State) {}
MemoryDevice::~MemoryDevice() = default;

std::vector<uint8_t> MemoryDevice::Written() const {
  std::lock_guard lock(core_->mutex);
  return state_->written;
}
size_t MemoryDevice::WrittenSize() const {
  std::lock_guard lock(core_->mutex);
  return state_->written.size();
}
void MemoryDevice::ClearWritten() {
  std::lock_guard lock(core_->mutex);
  state_->written.clear();
}
void MemoryDevice::Inject(const std::vector<uint8_t> &bytes) {
  std::lock_guard lock(core_->mutex);
  if (!state_->open || bytes.empty())
    return;
  state_->received.insert(state_->received.end(), bytes.begin(), bytes.end());
  state_->lastArrival = core_->Now();
  core_->Changed();
}
size_t MemoryDevice::UnreadSize() const {
  std::lock_guard lock(core_->mutex);
  return state_->received.size();
}
bool MemoryDevice::IsOpen() const {
  std::lock_guard lock(core_->mutex);
  return state_->open;
}
int MemoryDevice::OpenCount() const {
  std::lock_guard lock(core_->mutex);
  return state_->openCount;
}
serial::LineSettings MemoryDevice::LineSettingsRecord() const {
  std::lock_guard lock(core_->mutex);
  return state_->line;
}
void MemoryDevice::SetLineSettingsRecord(const serial::LineSettings &record) {
  std::lock_guard lock(core_->mutex);
  state_->line = record;
}
int MemoryDevice::LineSettingsWrites() const {
  std::lock_guard lock(core_->mutex);
  return state_->lineWrites;
}
serial::CommTimeouts MemoryDevice::TimeoutsRecord() const {
  std::lock_guard lock(core_->mutex);
  return state_->timeouts;
}
int MemoryDevice::TimeoutsWrites() const {
  std::lock_guard lock(core_->mutex);
  return state_->timeoutWrites;
}
uint32_t MemoryDevice::EventMask() const {
  std::lock_guard lock(core_->mutex);
  return state_->eventMask;
}
std::vector<uint32_t> MemoryDevice::Purges() const {
  std::lock_guard lock(core_->mutex);
  return state_->purges;
}
uint32_t MemoryDevice::InQueueSize() const {
  std::lock_guard lock(core_->mutex);
  return state_->inQueue;
}
uint32_t MemoryDevice::OutQueueSize() const {
  std::lock_guard lock(core_->mutex);
  return state_->outQueue;
}
void MemoryDevice::InjectEvent(uint32_t eventWord) {
  std::lock_guard lock(core_->mutex);
  state_->events.push_back(eventWord);
  core_->Changed();
}
void MemoryDevice::InjectLineError(uint32_t flags) {
  std::lock_guard lock(core_->mutex);
  state_->lineErrors |= flags;
  state_->events.push_back(serial::kEventErr);
  core_->Changed();
}
void MemoryDevice::SetOpenFails(bool fails) {
  std::lock_guard lock(core_->mutex);
  state_->openFails = fails;
}
void MemoryDevice::SetCharacterDevice(bool isCharacterDevice) {
  std::lock_guard lock(core_->mutex);
  state_->characterDevice = isCharacterDevice;
}
void MemoryDevice::SetQueueSetupFails(bool fails) {
  std::lock_guard lock(core_->mutex);
  state_->queueSetupFails = fails;
}
void MemoryDevice::FailEventMask(serial::SerialResult result) {
  std::lock_guard lock(core_->mutex);
  state_->failEventMask = result;
}
void MemoryDevice::FailNextRead(serial::SerialResult result, Stage stage) {
  std::lock_guard lock(core_->mutex);
  state_->failRead = std::make_pair(result, stage);
  // A read already under way meets the failure when it completes.
  if (stage == Stage::Result && state_->readOp) {
    state_->readOp->Complete(result, 0);
    state_->failRead.reset();
  }
}
void MemoryDevice::FailNextWrite(serial::SerialResult result, Stage stage) {
  std::lock_guard lock(core_->mutex);
  state_->failWrite = std::make_pair(result, stage);
  if (stage == Stage::Result && state_->writeOp) {
    state_->writeOp->Complete(result, 0);
    state_->failWrite.reset();
  }
}
void MemoryDevice::FailNextEventWait(serial::SerialResult result, Stage stage) {
  std::lock_guard lock(core_->mutex);
  state_->failEvent = std::make_pair(result, stage);
  if (stage == Stage::Result && state_->eventOp) {
    state_->eventOp->Complete(result, 0);
    state_->failEvent.reset();
  }
}
void MemoryDevice::FailClearLineErrors(serial::SerialResult result) {
  std::lock_guard lock(core_->mutex);
  state_->failClear = result;
}
void MemoryDevice::SetWriteChunk(size_t maxBytes) {
  std::lock_guard lock(core_->mutex);
  state_->writeChunk = maxBytes;
}
void MemoryDevice::HoldWrites(bool hold) {
  std::lock_guard lock(core_->mutex);
  state_->holdWrites = hold;
  core_->Changed();
}
bool MemoryDevice::WriteIsPending() const {
  std::lock_guard lock(core_->mutex);
  return state_->writeOp != nullptr;
}
void MemoryDevice::InvalidateHandle() {
  std::lock_guard lock(core_->mutex);
  if (!state_->open)
    return;
  state_->invalid = true;
  for (MemoryRecord *op : {state_->readOp, state_->eventOp, state_->writeOp})
    if (op)
      op->Complete(serial::SerialResult::InvalidHandle, 0);
}
void MemoryDevice::Unplug() {
  std::lock_guard lock(core_->mutex);
  if (!state_->open)
    return;
  state_->unplugged = true;
  for (MemoryRecord *op : {state_->readOp, state_->writeOp})
    if (op)
      op->Complete(serial::SerialResult::Failed, 0);
  if (state_->eventOp)
    state_->eventOp->Complete(serial::SerialResult::Ok, 0, 0);
}
