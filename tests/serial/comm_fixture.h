#pragma once
// A TComm on the in-memory layer, set up as the main window sets up Comm1, with
// every event recorded in arrival order.

#include "serial/comm.h"
#include "serial/comm_threads.h"
#include "support/memory_serial.h"
#include "support/test_helpers.h"

#include <QCoreApplication>
#include <QThread>
#include <gtest/gtest.h>
#include <string>
#include <vector>

struct CommEvent {
  std::string kind; // "data", "error", "modem", "hangup", "empty"
  std::vector<uint8_t> bytes;
  uint32_t value = 0;
  bool zeroAfterData = false;
  bool onGuiThread = false;
};

inline void RecordEvents(serial::TComm &comm, std::vector<CommEvent> &events) {
  auto onGui = [] { return QThread::currentThread() == QCoreApplication::instance()->thread(); };
  comm.OnReceiveData = [&events, onGui](serial::TComm *, const uint8_t *buffer, uint16_t length) {
    events.push_back({"data", std::vector<uint8_t>(buffer, buffer + length), length, buffer[length] == 0, onGui()});
  };
  comm.OnReceiveError = [&events, onGui](serial::TComm *, uint32_t flags) {
    events.push_back({"error", {}, flags, false, onGui()});
  };
  comm.OnModemStateChange = [&events, onGui](serial::TComm *, uint32_t bits) {
    events.push_back({"modem", {}, bits, false, onGui()});
  };
  comm.OnRequestHangup = [&events, onGui](serial::TComm *) { events.push_back({"hangup", {}, 0, false, onGui()}); };
  comm.OnSendDataEmpty = [&events, onGui](serial::TComm *) { events.push_back({"empty", {}, 0, false, onGui()}); };
}

inline size_t CountOf(const std::vector<CommEvent> &events, const std::string &kind) {
  size_t n = 0;
  for (const CommEvent &e : events)
    n += e.kind == kind;
  return n;
}

inline std::vector<uint8_t> Bytes(std::initializer_list<int> values) {
  std::vector<uint8_t> v;
  for (int b : values)
    v.push_back(static_cast<uint8_t>(b));
  return v;
}

inline std::vector<uint8_t> Pattern(size_t n, uint8_t seed = 0) {
  std::vector<uint8_t> v(n);
  for (size_t i = 0; i < n; ++i)
    v[i] = static_cast<uint8_t>(i * 7 + seed + (i >> 8));
  return v;
}

inline void ConfigureAsComm1(serial::TComm &comm, const QString &name) {
  comm.SetCommName(name);
  comm.SetBaudRate(38400);
  comm.SetByteSize(serial::TByteSize::_8);
  comm.SetParity(serial::TParity::None);
  comm.SetStopBits(serial::TStopBits::_1);
  comm.SetDtrControl(serial::TDtrControl::DtrDisable);
  comm.SetRtsControl(serial::TRtsControl::RtsDisable);
  comm.SetOutx_XonXoffFlow(false);
  comm.SetInx_XonXoffFlow(false);
}

// One component on one in-memory device named "COM5"; the line's silences
// are measured on `clock`.
struct MemoryRig {
  explicit MemoryRig(base::Clock &clock = base::SystemClock()) : manual(dynamic_cast<base::ManualClock *>(&clock)) {
    layer = std::make_shared<MemorySerialLayer>(clock);
    device = layer->AddDevice(QStringLiteral("COM5"));
    comm = std::make_unique<serial::TComm>(nullptr, layer);
    ConfigureAsComm1(*comm, QStringLiteral("COM5"));
    RecordEvents(*comm, events);
  }
  ~MemoryRig() {
    comm->ClosePort();
    comm.reset();
  }
  bool WaitFor(const std::string &kind, size_t count, int ms = 3000) {
    return PumpUntil([&] { return CountOf(events, kind) >= count; }, ms);
  }
  // Opens and waits until both threads are at work: the transmit thread has
  // reported its empty queue, the receive thread has set the event mask.
  bool OpenIdle() {
    comm->OpenPort();
    return WaitFor("empty", 1) && PumpUntil([&] { return device->EventMask() == serial::kWatchedEvents; });
  }
  bool Send(const std::vector<uint8_t> &bytes) {
    return comm->SendData(bytes.data(), static_cast<uint16_t>(bytes.size()));
  }
  // Whether the receive thread still delivers: injects a probe and lets the
  // line settle (on the system clock its silence ends the burst by itself).
  bool ReceiveAlive() {
    const size_t before = CountOf(events, "data");
    device->Inject(Bytes({0xA5}));
    if (manual)
      manual->Advance(comm->ReadIntervalTimeout());
    EXPECT_TRUE(layer->Settle());
    return CountOf(events, "data") > before;
  }

  base::ManualClock *manual; // when the test moves the line's time
  std::shared_ptr<MemorySerialLayer> layer;
  std::shared_ptr<MemoryDevice> device;
  std::unique_ptr<serial::TComm> comm;
  std::vector<CommEvent> events;
};

class MemoryCommTest : public ::testing::Test {
protected:
  MemoryRig rig;
  std::shared_ptr<MemorySerialLayer> &layer = rig.layer;
  std::shared_ptr<MemoryDevice> &device = rig.device;
  std::unique_ptr<serial::TComm> &comm = rig.comm;
  std::vector<CommEvent> &events = rig.events;
};

// The same on a clock the test moves: a burst ends exactly when the test says.
class ClockedCommTest : public ::testing::Test {
protected:
  base::ManualClock clock; // before the rig, whose threads read it
  MemoryRig rig{clock};
  std::shared_ptr<MemorySerialLayer> &layer = rig.layer;
  std::shared_ptr<MemoryDevice> &device = rig.device;
  std::unique_ptr<serial::TComm> &comm = rig.comm;
  std::vector<CommEvent> &events = rig.events;
};
