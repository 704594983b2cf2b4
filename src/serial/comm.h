#pragma once
// TComm: one serial port, its receive and transmit threads, and the events that
// report them on the GUI thread.
//
// (Placeholder public interface; the component, its threads and the serial
// layers are built out behind it.)

#include "app/exception.h"

#include <QObject>
#include <QString>
#include <cstdint>
#include <functional>
#include <memory>

class SerialLayer;

class ECommsError : public Exception {
public:
  using Exception::Exception;
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
  bool IsOpen() const;

  QString CommName() const { return commName_; }
  void SetCommName(const QString &name) { commName_ = name; }
  uint32_t BaudRate() const { return baudRate_; }
  void SetBaudRate(uint32_t v) { baudRate_ = v; }
  TByteSize ByteSize() const { return byteSize_; }
  void SetByteSize(TByteSize v) { byteSize_ = v; }
  TParity Parity() const { return parity_; }
  void SetParity(TParity v) { parity_ = v; }
  TStopBits StopBits() const { return stopBits_; }
  void SetStopBits(TStopBits v) { stopBits_ = v; }
  TDtrControl DtrControl() const { return dtr_; }
  void SetDtrControl(TDtrControl v) { dtr_ = v; }
  TRtsControl RtsControl() const { return rts_; }
  void SetRtsControl(TRtsControl v) { rts_ = v; }
  bool Outx_XonXoffFlow() const { return outXon_; }
  void SetOutx_XonXoffFlow(bool v) { outXon_ = v; }
  bool Inx_XonXoffFlow() const { return inXon_; }
  void SetInx_XonXoffFlow(bool v) { inXon_ = v; }
  uint32_t ReadIntervalTimeout() const { return readInterval_; }
  void SetReadIntervalTimeout(uint32_t v) { readInterval_ = v; }

  std::function<void(TComm *sender, const uint8_t *buffer, uint16_t length)> OnReceiveData;
  std::function<void(TComm *sender, uint32_t eventMask)> OnReceiveError;
  std::function<void(TComm *sender, uint32_t modemEvent)> OnModemStateChange;
  std::function<void(TComm *sender)> OnRequestHangup;
  std::function<void(TComm *sender)> OnSendDataEmpty;

private:
  std::shared_ptr<SerialLayer> layer_;
  QString commName_ = QStringLiteral("COM2");
  uint32_t baudRate_ = 9600;
  TByteSize byteSize_ = TByteSize::_8;
  TParity parity_ = TParity::None;
  TStopBits stopBits_ = TStopBits::_1;
  TDtrControl dtr_ = TDtrControl::DtrEnable;
  TRtsControl rts_ = TRtsControl::RtsEnable;
  bool outXon_ = true;
  bool inXon_ = true;
  uint32_t readInterval_ = 100;
};

// The serial layer for real ports and pseudo-terminals on this platform.
std::shared_ptr<SerialLayer> MakePlatformSerialLayer();
