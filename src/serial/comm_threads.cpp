#include "serial/comm_threads.h"

#include <algorithm>
#include <cstring>

namespace serial {

// ---- receive thread ---------------------------------------------------------

std::unique_ptr<TReadThread> TReadThread::Create(SerialLayer &layer) {
  std::unique_ptr<TReadThread> t(new TReadThread(layer));
  t->thread_ = layer.CreateThread(ThreadRole::Read, [self = t.get()] { self->Execute(); });
  if (!t->thread_)
    return nullptr;
  return t;
}

TReadThread::TReadThread(SerialLayer &layer) : layer_(layer) {}
TReadThread::~TReadThread() { thread_.reset(); }
void TReadThread::Start() { thread_->Start(); }
bool TReadThread::WaitFor(uint32_t ms) { return thread_->WaitFor(ms); }

void TReadThread::Execute() {
  layer_.SetCurrentThreadPriority(priority_);
  buffer_.reset(new uint8_t[kMaxReadSize + 1]);
  eventWord_ = 0;
  readRecord_ = layer_.CreateRecord(SignalUse::ReadCompletion);
  if (readRecord_)
    eventRecord_ = layer_.CreateRecord(SignalUse::EventCompletion);
  if (!readRecord_ || !eventRecord_) {
    PostHangup();
  } else if (PortHandle->SetEventMask(kWatchedEvents) != SerialResult::Ok) {
    PostHangup();
  } else if (ArmEventWait() && StartReading()) {
    SerialSignal *const waitList[] = {CloseEvent, &eventRecord_->Signal(), &readRecord_->Signal()};
    for (;;) {
      const int which = layer_.WaitAny(waitList);
      if (which == 0)
        break;
      if (which == 1) {
        if (!HandleLineEvent(true) || !ArmEventWait())
          break;
      } else if (which == 2) {
        if (!FinishRead() || !StartReading())
          break;
      } else {
        PostHangup();
        break;
      }
    }
  }
  PortHandle->Purge(kPurgeReceive);
  // The purge has ended any operation still under way on the records.
  readRecord_.reset();
  eventRecord_.reset();
}

bool TReadThread::ArmEventWait() {
  for (;;) {
    if (CloseEvent->IsSet())
      return false;
    const SerialResult r = PortHandle->StartEventWait(*eventRecord_, &eventWord_);
    if (r == SerialResult::Ok) {
      if (!HandleLineEvent(false))
        return false;
      continue;
    }
    if (r == SerialResult::Pending)
      return true;
    return StopAfter(r);
  }
}

bool TReadThread::StartReading() {
  for (;;) {
    if (CloseEvent->IsSet())
      return false;
    uint32_t count = 0;
    const SerialResult r = PortHandle->StartRead(*readRecord_, buffer_.get(), kMaxReadSize, &count);
    if (r == SerialResult::Ok) {
      if (!DeliverBlock(count))
        return false;
      continue;
    }
    if (r == SerialResult::Pending)
      return true;
    return StopAfter(r);
  }
}

bool TReadThread::HandleLineEvent(bool completedLater) {
  if (completedLater) {
    uint32_t unused = 0;
    const SerialResult r = PortHandle->GetResult(*eventRecord_, &unused, false);
    if (r != SerialResult::Ok)
      return StopAfter(r);
  }
  bool goOn = false;
  if (eventWord_ & kEventErr) {
    uint32_t flags = 0;
    const SerialResult r = PortHandle->ClearLineErrors(&flags);
    if (r != SerialResult::Ok)
      return StopAfter(r);
    if (!NotifyWindow->Post(Notice{NoticeReceiveError, 0, flags, nullptr})) {
      PostHangup();
      return false;
    }
    goOn = true;
  }
  uint32_t modem = 0;
  if (eventWord_ & kEventRlsd)
    modem |= ModemEventCarrier;
  if (eventWord_ & kEventRing)
    modem |= ModemEventRing;
  if (modem != 0) {
    if (!NotifyWindow->Post(Notice{NoticeModemStateChange, 0, modem, nullptr})) {
      PostHangup();
      return false;
    }
    goOn = true;
  }
  // An empty word (a cancelled wait) or one with none of the watched events.
  if (!(eventWord_ & kEventErr) && modem == 0)
    PostHangup();
  return goOn;
}

bool TReadThread::FinishRead() {
  uint32_t count = 0;
  const SerialResult r = PortHandle->GetResult(*readRecord_, &count, false);
  if (r != SerialResult::Ok)
    return StopAfter(r);
  return DeliverBlock(count);
}

bool TReadThread::DeliverBlock(uint32_t count) {
  // An empty completion (a read total time-out with nothing received) is not
  // a failure: reading simply goes on.
  if (count == 0)
    return true;
  Block block = layer_.AllocateBlock(count + 1, BlockUse::Receive);
  if (!block) {
    PostHangup();
    return false;
  }
  std::memcpy(block.get(), buffer_.get(), count);
  if (!NotifyWindow->Post(Notice{NoticeReceiveData, count, 0, std::move(block)})) {
    PostHangup();
    return false;
  }
  return true;
}

// ---- transmit queue ---------------------------------------------------------

bool WriteQueue::Post(Notice entry) {
  std::lock_guard lock(mutex_);
  if (closed_)
    return false;
  entries_.push_back(std::move(entry));
  sendDataEmpty_.store(false);
  signal_->Set();
  return true;
}

bool WriteQueue::TakeNext(Notice &entry) {
  std::lock_guard lock(mutex_);
  if (entries_.empty()) {
    sendDataEmpty_.store(true);
    signal_->Reset();
    return false;
  }
  entry = std::move(entries_.front());
  entries_.pop_front();
  return true;
}

void WriteQueue::Close() {
  std::deque<Notice> dropped;
  std::lock_guard lock(mutex_);
  closed_ = true;
  dropped.swap(entries_);
  sendDataEmpty_.store(true);
}

// ---- transmit thread --------------------------------------------------------

std::unique_ptr<TWriteThread> TWriteThread::Create(SerialLayer &layer, std::atomic<bool> &sendDataEmpty) {
  std::unique_ptr<SerialSignal> queueSignal = layer.CreateSignal(SignalUse::WriteQueue);
  if (!queueSignal)
    return nullptr;
  std::unique_ptr<TWriteThread> t(new TWriteThread(layer, std::move(queueSignal), sendDataEmpty));
  t->thread_ = layer.CreateThread(ThreadRole::Write, [self = t.get()] { self->Execute(); });
  if (!t->thread_)
    return nullptr;
  return t;
}

TWriteThread::TWriteThread(SerialLayer &layer, std::unique_ptr<SerialSignal> queueSignal,
                           std::atomic<bool> &sendDataEmpty)
    : layer_(layer), queue_(std::move(queueSignal), sendDataEmpty), sendDataEmpty_(sendDataEmpty) {}
TWriteThread::~TWriteThread() { thread_.reset(); }
void TWriteThread::Start() { thread_->Start(); }
bool TWriteThread::WaitFor(uint32_t ms) { return thread_->WaitFor(ms); }

void TWriteThread::Execute() {
  layer_.SetCurrentThreadPriority(priority_);
  writeRecord_ = layer_.CreateRecord(SignalUse::WriteCompletion);
  if (!writeRecord_) {
    PostHangup();
  } else {
    bool notifyPending = true;
    SerialSignal *const idleList[] = {CloseEvent, &queue_.Signal()};
    for (;;) {
      Notice entry;
      if (!queue_.TakeNext(entry)) {
        if (notifyPending) {
          if (!NotifyWindow->Post(Notice{NoticeSendDataEmpty, 0, 0, nullptr})) {
            PostHangup();
            break;
          }
          notifyPending = false;
        }
        const int which = layer_.WaitAny(idleList);
        if (which == 0)
          break;
        if (which == 1)
          continue;
        PostHangup();
        break;
      }
      if (CloseEvent->IsSet())
        break; // the taken request is dropped with its block
      if (entry.code != WriteRequest)
        continue;
      const bool written = WriteBlock(entry.block.get(), entry.word);
      entry.block.reset();
      if (!written)
        break;
      notifyPending = true;
    }
  }
  queue_.Close();
  PortHandle->Purge(kPurgeTransmit);
  sendDataEmpty_.store(true);
  writeRecord_.reset();
}

bool TWriteThread::WriteBlock(const uint8_t *data, uint32_t size) {
  SerialSignal *const waitList[] = {CloseEvent, &writeRecord_->Signal()};
  uint32_t remaining = size;
  uint32_t offset = 0;
  while (remaining > 0) {
    // Tested before every write, so a port that keeps taking nothing cannot
    // hold ClosePort up.
    if (CloseEvent->IsSet())
      return false;
    uint32_t written = 0;
    SerialResult r = PortHandle->StartWrite(*writeRecord_, data + offset, remaining, &written);
    if (r == SerialResult::Pending) {
      const int which = layer_.WaitAny(waitList);
      if (which == 0)
        return false;
      if (which != 1) {
        PostHangup();
        return false;
      }
      r = PortHandle->GetResult(*writeRecord_, &written, true);
    }
    if (r != SerialResult::Ok)
      return StopAfter(r);
    written = std::min(written, remaining);
    remaining -= written;
    offset += written;
  }
  return true;
}

} // namespace serial
