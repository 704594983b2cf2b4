#include "comm_fixture.h"
#include "pty_pair.h"
#include "serial/posix_serial.h"

class PtyCommTest : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_TRUE(pty.Ok());
    comm = std::make_unique<TComm>(nullptr, std::make_shared<PosixSerialLayer>());
    comm->SetCommName(pty.SlavePath());
    comm->SetBaudRate(38400);
    comm->SetDtrControl(TDtrControl::DtrDisable);
    comm->SetRtsControl(TRtsControl::RtsDisable);
    comm->SetOutx_XonXoffFlow(false);
    comm->SetInx_XonXoffFlow(false);
    RecordEvents(*comm, events);
  }
  void TearDown() override {
    if (comm)
      comm->ClosePort();
  }
  bool WaitFor(const std::string &kind, size_t count, int ms = 3000) {
    return PumpUntil([&] { return CountOf(events, kind) >= count; }, ms);
  }
  PtyPair pty;
  std::unique_ptr<TComm> comm;
  std::vector<CommEvent> events;
};

TEST_F(PtyCommTest, BytesBothWays) {
  comm->OpenPort();
  ASSERT_TRUE(WaitFor("empty", 1));
  const auto frame = Bytes({0x68, 0x00, 0x11, 0x13, 0x16, 0x0A, 0x0D});
  ASSERT_TRUE(comm->SendData(frame.data(), static_cast<uint16_t>(frame.size())));
  EXPECT_EQ(pty.Read(frame.size()), frame);
  ASSERT_TRUE(pty.Write(Bytes({0x55, 0x01, 0x0D, 0x0A, 0x00, 0x11})));
  ASSERT_TRUE(WaitFor("data", 1));
  EXPECT_EQ(events.back().bytes, Bytes({0x55, 0x01, 0x0D, 0x0A, 0x00, 0x11}));
}
