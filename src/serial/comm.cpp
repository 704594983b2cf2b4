#include "serial/comm.h"

#include "serial/comm_threads.h"

#include <QCoreApplication>
#include <QEvent>
#include <cstring>
#include <deque>
#include <mutex>

namespace serial {

namespace {
// Like the platform's own message queues, a sink holds a bounded number of
// notices; a post beyond that fails.
constexpr size_t kNoticeQueueLimit = 10000;
constexpr uint32_t kThreadWaitMs = 10000;
constexpr uint32_t kQueueSize = 4096;

QEvent::Type NoticeEventType() {
  static const QEvent::Type type = static_cast<QEvent::Type>(QEvent::registerEventType());
  return type;
}
} // namespace

// NotifyWindow: notices from any thread, events on the GUI thread, in order.
class NotifySink : public QObject, public NoticeSink {
public:
  NotifySink(TComm *comm, SerialLayer &layer) : QObject(comm), comm_(comm), layer_(layer) {}

  bool Post(Notice notice) override {
    {
      std::lock_guard lock(mutex_);
      if (queue_.size() >= kNoticeQueueLimit || !layer_.AcceptNotice(notice.code))
        return false;
      queue_.push_back(std::move(notice));
    }
    // One Qt event per notice, so that a nested event loop in a handler still
    // receives the notices that follow.
    QCoreApplication::postEvent(this, new QEvent(NoticeEventType()));
    return true;
  }

protected:
  bool event(QEvent *e) override {
    if (e->type() != NoticeEventType())
      return QObject::event(e);
    Notice notice;
    {
      std::lock_guard lock(mutex_);
      if (queue_.empty())
        return true;
      notice = std::move(queue_.front());
      queue_.pop_front();
    }
    comm_->Dispatch(notice.code, notice.word, notice.value, notice.block.get());
    return true; // the block is released here, after the handler returned
  }

private:
  TComm *comm_;
  SerialLayer &layer_;
  std::mutex mutex_;
  std::deque<Notice> queue_;
};

TComm::TComm(QObject *owner, std::shared_ptr<SerialLayer> layer) : QObject(owner), layer_(std::move(layer)) {
  NotifyWindow = new NotifySink(this, *layer_);
}

TComm::~TComm() {
  // The threads hold the port and the sink; they must not outlive them.
  ClosePort();
}

void TComm::Dispatch(uint32_t code, uint32_t word, uint32_t value, const uint8_t *block) {
  switch (code) {
  case NoticeReceiveData:
    if (OnReceiveData)
      OnReceiveData(this, block, static_cast<uint16_t>(word & 0xFFFF));
    break;
  case NoticeReceiveError:
    if (OnReceiveError)
      OnReceiveError(this, value);
    break;
  case NoticeRequestHangup:
    if (OnRequestHangup)
      OnRequestHangup(this);
    break;
  case NoticeModemStateChange:
    if (OnModemStateChange)
      OnModemStateChange(this, value);
    break;
  case NoticeSendDataEmpty:
    if (OnSendDataEmpty)
      OnSendDataEmpty(this);
    break;
  default:
    break;
  }
}

void TComm::CloseHandleOnly() { PortHandle.reset(); }

void TComm::OpenPort() {
  if (PortHandle)
    throw ECommsError(QStringLiteral("This serial port already opened"));
  OpenFailure failure;
  std::unique_ptr<SerialPort> port = layer_->Open(commName_, failure);
  if (!port)
    throw ECommsError(QStringLiteral("Error opening serial port"), failure.Text());
  if (!port->IsCharacterDevice())
    throw ECommsError(QStringLiteral("File handle is not a comm handle "),
                      commName_ + QStringLiteral(": not a character device"));
  if (!port->SetupQueues(kQueueSize, kQueueSize))
    throw ECommsError(QStringLiteral("Cannot setup comm buffer"));
  PortHandle = std::move(port);
  PortHandle->Purge(kPurgeBoth);
  sendDataEmpty_.store(true);
  ApplyTimeouts();
  ApplyLineSettings();

  CloseEvent = layer_->CreateSignal(SignalUse::Close);
  if (!CloseEvent) {
    CloseHandleOnly();
    throw ECommsError(QStringLiteral("Unable to create event"));
  }

  readThread_ = TReadThread::Create(*layer_);
  if (!readThread_) {
    CloseEvent.reset();
    CloseHandleOnly();
    throw ECommsError(QStringLiteral("Unable to create read thread"));
  }
  readThread_->PortHandle = PortHandle.get();
  readThread_->CloseEvent = CloseEvent.get();
  readThread_->NotifyWindow = NotifyWindow;
  readThread_->SetPriority(2);

  writeThread_ = TWriteThread::Create(*layer_, sendDataEmpty_);
  if (!writeThread_) {
    StopReadThread();
    CloseEvent.reset();
    CloseHandleOnly();
    throw ECommsError(QStringLiteral("Unable to create write thread"));
  }
  writeThread_->PortHandle = PortHandle.get();
  writeThread_->CloseEvent = CloseEvent.get();
  writeThread_->NotifyWindow = NotifyWindow;
  writeThread_->SetPriority(1);

  readThread_->Start();
  writeThread_->Start();
}

void TComm::StopReadThread() {
  if (!readThread_)
    return;
  CloseEvent->Set();
  PortHandle->Purge(kPurgeReceive);
  readThread_->WaitFor(kThreadWaitMs);
  readThread_.reset(); // waits for the end if the limit ran out
}

void TComm::StopWriteThread() {
  if (!writeThread_)
    return;
  CloseEvent->Set();
  PortHandle->Purge(kPurgeTransmit);
  sendDataEmpty_.store(true);
  writeThread_->WaitFor(kThreadWaitMs);
  writeThread_.reset();
}

void TComm::ClosePort() {
  if (!PortHandle)
    return;
  StopReadThread();
  StopWriteThread();
  CloseEvent.reset();
  CloseHandleOnly();
}

bool TComm::SendData(const void *buffer, uint16_t length) {
  if (!writeThread_ || length == 0)
    return false;
  Block block = layer_->AllocateBlock(size_t(length) + 1, BlockUse::Send);
  if (!block)
    return false;
  std::memcpy(block.get(), buffer, length);
  // The queue clears SendDataEmpty under its lock as it takes the request; a
  // refused request is released with the notice.
  return writeThread_->PostRequest(Notice{WriteRequest, length, 0, std::move(block)});
}

LineSettings TComm::BuildLineSettings(const LineSettings &read) const {
  LineSettings r = read;
  r.BaudRate = baudRate_;
  uint32_t flags = kFlagBinary;
  if (parityCheck_)
    flags |= kFlagParityCheck;
  if (outxCtsFlow_)
    flags |= kFlagOutxCtsFlow;
  if (outxDsrFlow_)
    flags |= kFlagOutxDsrFlow;
  static constexpr uint32_t kDtrBits[] = {1, 0, 2}; // enable, disable, handshake
  flags |= kDtrBits[static_cast<int>(dtrControl_)] << kFlagDtrShift;
  if (dsrSensitivity_)
    flags |= kFlagDsrSensitivity;
  if (txContinueOnXoff_)
    flags |= kFlagTxContinueOnXoff;
  if (outxXonXoffFlow_)
    flags |= kFlagOutX;
  if (inxXonXoffFlow_)
    flags |= kFlagInX;
  if (replaceWhenParityError_)
    flags |= kFlagErrorChar;
  if (ignoreNullChar_)
    flags |= kFlagNull;
  static constexpr uint32_t kRtsBits[] = {1, 0, 2, 3}; // enable, disable, handshake, toggle
  flags |= kRtsBits[static_cast<int>(rtsControl_)] << kFlagRtsShift;
  r.Flags = flags;
  r.XonLim = xonLimit_;
  r.XoffLim = xoffLimit_;
  r.ByteSize = static_cast<uint8_t>(static_cast<int>(byteSize_) + 5);
  r.Parity = static_cast<uint8_t>(parity_);
  r.StopBits = static_cast<uint8_t>(stopBits_);
  r.XonChar = xonChar_;
  r.XoffChar = xoffChar_;
  r.ErrorChar = replacedChar_;
  return r;
}

void TComm::ApplyLineSettings() {
  if (!PortHandle)
    return;
  LineSettings record;
  PortHandle->GetLineSettings(record);
  PortHandle->SetLineSettings(BuildLineSettings(record)); // a refused setting is not reported
}

void TComm::ApplyTimeouts() {
  if (!PortHandle)
    return;
  CommTimeouts t;
  PortHandle->GetTimeouts(t);
  t.ReadIntervalTimeout = readIntervalTimeout_;
  t.ReadTotalTimeoutMultiplier = readTotalTimeoutMultiplier_;
  t.ReadTotalTimeoutConstant = readTotalTimeoutConstant_;
  t.WriteTotalTimeoutMultiplier = writeTotalTimeoutMultiplier_;
  t.WriteTotalTimeoutConstant = writeTotalTimeoutConstant_;
  PortHandle->SetTimeouts(t);
}

} // namespace serial
