#pragma once
// PosixSerialLayer: serial ports (and pseudo-terminals) through termios.
//
// A port is opened O_RDWR | O_NOCTTY | O_NONBLOCK and held exclusively: an
// advisory flock(LOCK_EX | LOCK_NB) refuses a second opener, also one running
// as root, and TIOCEXCL refuses programs that do not take the lock. The
// program's own terminal, /dev/tty, the console and the virtual consoles are
// refused like a missing device. The terminal settings a port had before it
// was opened are given back when it closes. A failed open says why (errno). Signals are
// eventfds; a thread waiting in WaitAny sleeps in one ppoll on its signals and,
// for its own pending operations, on the port itself, with a time-out only
// where a read's silence (ReadIntervalTimeout) or a total time-out ends. The
// bytes of a pending read or write are moved by the waiting thread as poll
// reports the port ready. A port that goes away (POLLHUP/POLLERR, EIO, or a
// read of 0 bytes after poll said readable) completes the pending operations
// as failed, so the threads end and nothing spins.
//
// Line events: where the driver keeps interrupt counters (TIOCGICOUNT), carrier
// changes, rings and line errors are found by comparing them, at most twice a
// second while a line-event wait is under way. Pseudo-terminals keep none, so
// there line events never fire and the waits cost nothing.

#include "base/clock.h"
#include "serial/serial_layer.h"

#include <QString>
#include <memory>

namespace serial {

class LineTime;

class PosixSerialLayer : public SerialLayer {
public:
  // The silences and total time-outs of reads and writes are measured on `clock`.
  explicit PosixSerialLayer(base::Clock &clock = base::SystemClock());
  ~PosixSerialLayer() override;

  // The device a port name stands for: a name containing "/" as it stands,
  // "COMn" the n-th standard serial device (/dev/ttyS(n-1)), any other name
  // /dev/<name>.
  static QString DevicePath(const QString &name);

  std::unique_ptr<SerialPort> Open(const QString &name, OpenFailure &failure) override;
  std::unique_ptr<SerialSignal> CreateSignal(SignalUse use) override;
  std::unique_ptr<AsyncRecord> CreateRecord(SignalUse use) override;
  int WaitAny(std::span<SerialSignal *const> list) override;
  void SetCurrentThreadPriority(int stepsAboveNormal) override;

private:
  std::shared_ptr<const LineTime> time_; // shared with the ports it opens
};

} // namespace serial
