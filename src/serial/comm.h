#pragma once
// TComm: one serial port, its receive and transmit threads, and the events that
// report them on the GUI thread.
//
// OpenPort opens the port named by CommName through a SerialLayer, applies the
// time-outs and line settings, and starts a TReadThread and a TWriteThread
// (comm_threads.h). SendData copies a block and queues it for the transmit
// thread; it never blocks. The threads post notices (codes 0x401..0x405) to
// NotifyWindow, a QObject living on the thread that made the component (the
// GUI thread): each post appends to a queue under a mutex and posts one Qt
// event, and each such event takes the oldest notice and raises its event. So
// events run on the GUI thread in the order posted, also from inside nested
// event loops, and notices posted before ClosePort are still delivered after
// it. A received block carries one zero byte after its data and is released
// when the OnReceiveData handler returns.
//
// ClosePort raises the close signal, purges each direction and waits for each
// thread (up to 10000 ms, then until it ends). After a thread failure the port
// stays open until ClosePort. Properties that describe the line are written to
// the port again when changed while open; a write of the value a property
// already holds does nothing; CommName and Parity are plain stores.

#include "base/exception.h"
#include "serial/serial_layer.h"

#include <QObject>
#include <QString>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>

namespace serial {

class TReadThread;
class TWriteThread;
class NotifySink;

class ECommsError : public base::Exception {
public:
  using base::Exception::Exception;
};

enum class TByteSize : uint8_t { _5, _6, _7, _8 };
enum class TParity : uint8_t { None, Odd, Even, Mark, Space };
enum class TStopBits : uint8_t { _1, _1_5, _2 };
enum class TDtrControl : uint8_t { DtrEnable, DtrDisable, DtrHandshake };
enum class TRtsControl : uint8_t { RtsEnable, RtsDisable, RtsHandshake, RtsTransmissionAvailable };

class TComm : public QObject {
  Q_OBJECT
public:
  TComm(QObject *owner, std::shared_ptr<SerialLayer> layer);
  ~TComm() override;

  void OpenPort();
  void ClosePort();
  bool SendData(const void *buffer, uint16_t length);
  bool IsOpen() const { return PortHandle != nullptr; }
  // True when no write request is outstanding.
  bool SendDataEmpty() const { return sendDataEmpty_.load(); }

  QString CommName() const { return commName_; }
  void SetCommName(const QString &name) { commName_ = name; }
  uint32_t BaudRate() const { return baudRate_; }
  void SetBaudRate(uint32_t v) { SetLine(baudRate_, v); }
  bool ParityCheck() const { return parityCheck_; }
  void SetParityCheck(bool v) { SetLine(parityCheck_, v); }
  bool Outx_CtsFlow() const { return outxCtsFlow_; }
  void SetOutx_CtsFlow(bool v) { SetLine(outxCtsFlow_, v); }
  bool Outx_DsrFlow() const { return outxDsrFlow_; }
  void SetOutx_DsrFlow(bool v) { SetLine(outxDsrFlow_, v); }
  TDtrControl DtrControl() const { return dtrControl_; }
  void SetDtrControl(TDtrControl v) { SetLine(dtrControl_, v); }
  bool DsrSensitivity() const { return dsrSensitivity_; }
  void SetDsrSensitivity(bool v) { SetLine(dsrSensitivity_, v); }
  bool TxContinueOnXoff() const { return txContinueOnXoff_; }
  void SetTxContinueOnXoff(bool v) { SetLine(txContinueOnXoff_, v); }
  bool Outx_XonXoffFlow() const { return outxXonXoffFlow_; }
  void SetOutx_XonXoffFlow(bool v) { SetLine(outxXonXoffFlow_, v); }
  bool Inx_XonXoffFlow() const { return inxXonXoffFlow_; }
  void SetInx_XonXoffFlow(bool v) { SetLine(inxXonXoffFlow_, v); }
  bool ReplaceWhenParityError() const { return replaceWhenParityError_; }
  void SetReplaceWhenParityError(bool v) { SetLine(replaceWhenParityError_, v); }
  bool IgnoreNullChar() const { return ignoreNullChar_; }
  void SetIgnoreNullChar(bool v) { SetLine(ignoreNullChar_, v); }
  TRtsControl RtsControl() const { return rtsControl_; }
  void SetRtsControl(TRtsControl v) { SetLine(rtsControl_, v); }
  uint16_t XonLimit() const { return xonLimit_; }
  void SetXonLimit(uint16_t v) { SetLine(xonLimit_, v); }
  uint16_t XoffLimit() const { return xoffLimit_; }
  void SetXoffLimit(uint16_t v) { SetLine(xoffLimit_, v); }
  TByteSize ByteSize() const { return byteSize_; }
  void SetByteSize(TByteSize v) { SetLine(byteSize_, v); }
  TParity Parity() const { return parity_; }
  void SetParity(TParity v) { parity_ = v; }
  TStopBits StopBits() const { return stopBits_; }
  void SetStopBits(TStopBits v) { SetLine(stopBits_, v); }
  uint8_t XonChar() const { return xonChar_; }
  void SetXonChar(uint8_t v) { SetLine(xonChar_, v); }
  uint8_t XoffChar() const { return xoffChar_; }
  void SetXoffChar(uint8_t v) { SetLine(xoffChar_, v); }
  uint8_t ReplacedChar() const { return replacedChar_; }
  void SetReplacedChar(uint8_t v) { SetLine(replacedChar_, v); }
  uint32_t ReadIntervalTimeout() const { return readIntervalTimeout_; }
  void SetReadIntervalTimeout(uint32_t v) { SetTimeout(readIntervalTimeout_, v); }
  uint32_t ReadTotalTimeoutMultiplier() const { return readTotalTimeoutMultiplier_; }
  void SetReadTotalTimeoutMultiplier(uint32_t v) { SetTimeout(readTotalTimeoutMultiplier_, v); }
  uint32_t ReadTotalTimeoutConstant() const { return readTotalTimeoutConstant_; }
  void SetReadTotalTimeoutConstant(uint32_t v) { SetTimeout(readTotalTimeoutConstant_, v); }
  uint32_t WriteTotalTimeoutMultiplier() const { return writeTotalTimeoutMultiplier_; }
  void SetWriteTotalTimeoutMultiplier(uint32_t v) { SetTimeout(writeTotalTimeoutMultiplier_, v); }
  uint32_t WriteTotalTimeoutConstant() const { return writeTotalTimeoutConstant_; }
  void SetWriteTotalTimeoutConstant(uint32_t v) { SetTimeout(writeTotalTimeoutConstant_, v); }

  std::function<void(TComm *sender, const uint8_t *buffer, uint16_t length)> OnReceiveData;
  std::function<void(TComm *sender, uint32_t eventMask)> OnReceiveError;
  std::function<void(TComm *sender, uint32_t modemEvent)> OnModemStateChange;
  std::function<void(TComm *sender)> OnRequestHangup;
  std::function<void(TComm *sender)> OnSendDataEmpty;

  // The line-settings record as ApplyLineSettings writes it over `read`.
  LineSettings BuildLineSettings(const LineSettings &read) const;

private:
  friend class NotifySink;
  template <typename T> void SetLine(T &field, T v) {
    if (field == v)
      return;
    field = v;
    if (IsOpen())
      ApplyLineSettings();
  }
  template <typename T> void SetTimeout(T &field, T v) {
    if (field == v)
      return;
    field = v;
    if (IsOpen())
      ApplyTimeouts();
  }
  void ApplyLineSettings();
  void ApplyTimeouts();
  void StopReadThread();
  void StopWriteThread();
  void CloseHandleOnly();
  void Dispatch(uint32_t code, uint32_t word, uint32_t value, const uint8_t *block);

  std::shared_ptr<SerialLayer> layer_;
  std::unique_ptr<TReadThread> readThread_;
  std::unique_ptr<TWriteThread> writeThread_;
  std::unique_ptr<SerialPort> PortHandle;
  std::unique_ptr<SerialSignal> CloseEvent;
  NotifySink *NotifyWindow = nullptr; // a child object, on the GUI thread
  std::atomic<bool> sendDataEmpty_{true};

  QString commName_ = QStringLiteral("COM2");
  uint32_t baudRate_ = 9600;
  bool parityCheck_ = false;
  bool outxCtsFlow_ = false;
  bool outxDsrFlow_ = false;
  TDtrControl dtrControl_ = TDtrControl::DtrEnable;
  bool dsrSensitivity_ = false;
  bool txContinueOnXoff_ = true;
  bool outxXonXoffFlow_ = true;
  bool inxXonXoffFlow_ = true;
  bool replaceWhenParityError_ = false;
  bool ignoreNullChar_ = false;
  TRtsControl rtsControl_ = TRtsControl::RtsEnable;
  uint16_t xonLimit_ = 500;
  uint16_t xoffLimit_ = 500;
  TByteSize byteSize_ = TByteSize::_8;
  TParity parity_ = TParity::None;
  TStopBits stopBits_ = TStopBits::_1;
  uint8_t xonChar_ = 0x11;
  uint8_t xoffChar_ = 0x13;
  uint8_t replacedChar_ = 0x00;
  uint32_t readIntervalTimeout_ = 100;
  uint32_t readTotalTimeoutMultiplier_ = 0;
  uint32_t readTotalTimeoutConstant_ = 0;
  uint32_t writeTotalTimeoutMultiplier_ = 0;
  uint32_t writeTotalTimeoutConstant_ = 0;
};

} // namespace serial
