#pragma once
// TReadThread and TWriteThread: the receive and transmit threads of an open
// port. Both get the port, the close signal and the notice sink from OpenPort
// and keep them unchanged for their whole run; neither calls the owner nor
// waits for the main thread: they only post notices, which never blocks.
//
// The receive thread keeps one read (up to 65535 bytes) and one line-event
// wait under way and waits for the first of: close signal, event-wait
// completion, read completion. Each completed read is copied once into a fresh
// block (plus one zero byte) whose ownership moves with its notice.
//
// The transmit thread takes write requests from its own first-in first-out
// queue one at a time and writes each completely (short writes are continued)
// before the next. SendDataEmpty is cleared when a request is queued and set
// when the thread finds the queue empty, both under the queue's lock, so the
// flag is true only when no request is outstanding.
//
// Any failure ends a thread after posting NoticeRequestHangup (an invalid
// handle and the close signal end it silently); a thread is never restarted.

#include "serial/serial_layer.h"

#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>

namespace serial {

constexpr uint32_t kNoticeBase = 0x400;
constexpr uint32_t NoticeReceiveData = kNoticeBase + 1;
constexpr uint32_t NoticeReceiveError = kNoticeBase + 2;
constexpr uint32_t NoticeRequestHangup = kNoticeBase + 3;
constexpr uint32_t NoticeModemStateChange = kNoticeBase + 4;
constexpr uint32_t NoticeSendDataEmpty = kNoticeBase + 5;
constexpr uint32_t WriteRequest = kNoticeBase + 1;

constexpr uint32_t ModemEventCarrier = 8;
constexpr uint32_t ModemEventRing = 4;
constexpr uint32_t kWatchedEvents = kEventRlsd | kEventErr | kEventRing; // 0x01A0

constexpr uint32_t kMaxReadSize = 65535;

// A notice or a queue entry: a code, a word parameter, a long parameter, and
// the block it carries, if any.
struct Notice {
  uint32_t code = 0;
  uint32_t word = 0;
  uint32_t value = 0;
  Block block;
};

// Where the threads post notices; Post never blocks and reports failure.
class NoticeSink {
public:
  virtual ~NoticeSink() = default;
  virtual bool Post(Notice notice) = 0;
};

// What both threads share: the fields OpenPort gives them, and how a failure ends them.
class TCommThread {
public:
  SerialPort *PortHandle = nullptr;
  SerialSignal *CloseEvent = nullptr;
  NoticeSink *NotifyWindow = nullptr;

protected:
  // The hang-up notice; whether it could be posted is never tested.
  void PostHangup() { NotifyWindow->Post(Notice{NoticeRequestHangup, 0, 0, nullptr}); }
  // A failed platform call ends the thread: silently for an invalid handle,
  // with the hang-up notice for any other error. Always returns false (stop).
  bool StopAfter(SerialResult failure) {
    if (failure != SerialResult::InvalidHandle)
      PostHangup();
    return false;
  }
};

class TReadThread : public TCommThread {
public:
  // nullptr when the thread cannot be made.
  static std::unique_ptr<TReadThread> Create(SerialLayer &layer);
  ~TReadThread(); // waits for the end; an unstarted thread ends without running

  // The fields are given before the start.
  void SetPriority(int stepsAboveNormal) { priority_ = stepsAboveNormal; }

  void Start();
  bool WaitFor(uint32_t ms);

private:
  explicit TReadThread(SerialLayer &layer);
  void Execute();
  bool ArmEventWait();
  bool StartReading();
  bool HandleLineEvent(bool completedLater);
  bool FinishRead();
  bool DeliverBlock(uint32_t count);

  SerialLayer &layer_;
  int priority_ = 0;
  std::unique_ptr<WorkerThread> thread_;
  // State of one run, touched only by the thread itself.
  std::unique_ptr<uint8_t[]> buffer_;
  uint32_t eventWord_ = 0;
  std::unique_ptr<AsyncRecord> readRecord_;
  std::unique_ptr<AsyncRecord> eventRecord_;
};

// The transmit thread's queue; SendDataEmpty is changed only under its lock.
class WriteQueue {
public:
  WriteQueue(std::unique_ptr<SerialSignal> signal, std::atomic<bool> &sendDataEmpty)
      : signal_(std::move(signal)), sendDataEmpty_(sendDataEmpty) {}
  // Fails once the queue is closed; the entry (and its block) is dropped then.
  bool Post(Notice entry);
  // Takes the next entry; when there is none, sets SendDataEmpty, lowers the
  // signal and returns false.
  bool TakeNext(Notice &entry);
  // Drops every entry, refuses later posts and sets SendDataEmpty.
  void Close();
  SerialSignal &Signal() { return *signal_; }

private:
  std::mutex mutex_;
  std::deque<Notice> entries_;
  bool closed_ = false;
  std::unique_ptr<SerialSignal> signal_; // raised while entries may wait
  std::atomic<bool> &sendDataEmpty_;
};

class TWriteThread : public TCommThread {
public:
  static std::unique_ptr<TWriteThread> Create(SerialLayer &layer, std::atomic<bool> &sendDataEmpty);
  ~TWriteThread();

  void SetPriority(int stepsAboveNormal) { priority_ = stepsAboveNormal; }

  void Start();
  bool WaitFor(uint32_t ms);
  // Queues a WriteRequest; fails once the thread has ended.
  bool PostRequest(Notice request) { return queue_.Post(std::move(request)); }

private:
  TWriteThread(SerialLayer &layer, std::unique_ptr<SerialSignal> queueSignal, std::atomic<bool> &sendDataEmpty);
  void Execute();
  bool WriteBlock(const uint8_t *data, uint32_t size);

  SerialLayer &layer_;
  int priority_ = 0;
  WriteQueue queue_;
  std::atomic<bool> &sendDataEmpty_;
  std::unique_ptr<WorkerThread> thread_;
  std::unique_ptr<AsyncRecord> writeRecord_;
};

} // namespace serial
