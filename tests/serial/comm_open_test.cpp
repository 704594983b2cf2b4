// OpenPort's failures, ClosePort, and SendData at the edges.
#include "comm_fixture.h"

#include <QElapsedTimer>
#include <algorithm>
#include <functional>

using namespace serial;

namespace {
QString OpenError(TComm &comm) {
  try {
    comm.OpenPort();
  } catch (const ECommsError &e) {
    return e.Message();
  }
  return QStringLiteral("<opened>");
}
} // namespace

TEST(CommOpen, EachFailureRaisesItsMessageAndLeavesThePortClosed) {
  struct Case {
    const char *name;
    std::function<void(MemoryRig &)> arrange;
    const char *message;
  };
  const Case cases[] = {
      {"missing device", [](MemoryRig &r) { r.comm->SetCommName(QStringLiteral("COM9")); },
       "Error opening serial port"},
      {"device refuses", [](MemoryRig &r) { r.device->SetOpenFails(true); }, "Error opening serial port"},
      {"not a character device", [](MemoryRig &r) { r.device->SetCharacterDevice(false); },
       "File handle is not a comm handle "},
      {"queues", [](MemoryRig &r) { r.device->SetQueueSetupFails(true); }, "Cannot setup comm buffer"},
      {"close event", [](MemoryRig &r) { r.layer->FailSignalCreation(SignalUse::Close); }, "Unable to create event"},
      {"read thread", [](MemoryRig &r) { r.layer->FailThreadCreation(ThreadRole::Read); },
       "Unable to create read thread"},
      {"write thread", [](MemoryRig &r) { r.layer->FailThreadCreation(ThreadRole::Write); },
       "Unable to create write thread"},
      {"write queue", [](MemoryRig &r) { r.layer->FailSignalCreation(SignalUse::WriteQueue); },
       "Unable to create write thread"},
  };
  for (const Case &c : cases) {
    MemoryRig rig;
    c.arrange(rig);
    EXPECT_EQ(OpenError(*rig.comm), QString::fromUtf8(c.message)) << c.name;
    EXPECT_FALSE(rig.comm->IsOpen()) << c.name;
    EXPECT_FALSE(rig.device->IsOpen()) << c.name;
    EXPECT_FALSE(rig.Send(Bytes({1}))) << c.name;
    ASSERT_TRUE(rig.layer->Settle()) << c.name;
    EXPECT_TRUE(rig.events.empty()) << c.name; // no thread ran
    rig.comm->ClosePort();                     // harmless
  }
}

TEST(CommOpen, AFailedOpenCanBeFollowedByASuccessfulOne) {
  MemoryRig rig;
  rig.layer->FailThreadCreation(ThreadRole::Write);
  EXPECT_EQ(OpenError(*rig.comm), QStringLiteral("Unable to create write thread"));
  rig.layer->FailThreadCreation(ThreadRole::Write, false);
  rig.comm->SetCommName(QStringLiteral("COM5"));
  ASSERT_TRUE(rig.OpenIdle());
  EXPECT_TRUE(rig.comm->IsOpen());
  EXPECT_TRUE(rig.device->IsOpen());
  EXPECT_TRUE(rig.ReceiveAlive());
}

TEST(CommOpen, WriteThreadFailureDoesNotKeepTheCallerWaiting) {
  MemoryRig rig;
  rig.layer->FailThreadCreation(ThreadRole::Write);
  QElapsedTimer timer;
  timer.start();
  EXPECT_EQ(OpenError(*rig.comm), QStringLiteral("Unable to create write thread"));
  // The receive thread was never started; there is nothing to wait for.
  EXPECT_LT(timer.elapsed(), 2000);
}

TEST_F(MemoryCommTest, SecondOpenIsRefusedAndTheLinkKeepsWorking) {
  ASSERT_TRUE(rig.OpenIdle());
  EXPECT_EQ(OpenError(*comm), QStringLiteral("This serial port already opened"));
  EXPECT_TRUE(comm->IsOpen());
  EXPECT_EQ(device->OpenCount(), 1);
  ASSERT_TRUE(rig.Send(Bytes({0x68, 0x16})));
  EXPECT_TRUE(PumpUntil([&] { return device->WrittenSize() == 2; }));
  EXPECT_TRUE(rig.ReceiveAlive());
}

TEST_F(MemoryCommTest, ADeviceInUseIsRefused) {
  ASSERT_TRUE(rig.OpenIdle());
  TComm second(nullptr, layer);
  second.SetCommName(QStringLiteral("COM5"));
  EXPECT_EQ(OpenError(second), QStringLiteral("Error opening serial port"));
  EXPECT_FALSE(second.IsOpen());
}

TEST_F(MemoryCommTest, ClosePortStopsBothThreadsAndPurgesEachDirection) {
  ASSERT_TRUE(rig.OpenIdle());
  comm->ClosePort();
  EXPECT_FALSE(comm->IsOpen());
  EXPECT_FALSE(device->IsOpen());
  EXPECT_TRUE(comm->SendDataEmpty());
  std::vector<uint32_t> purges = device->Purges();
  // Open purges both directions; closing purges each direction, and each
  // thread its own on the way out (the two threads in either order).
  ASSERT_FALSE(purges.empty());
  EXPECT_EQ(purges.front(), 0x0Fu);
  std::sort(purges.begin(), purges.end());
  EXPECT_EQ(purges, (std::vector<uint32_t>{0x05, 0x05, 0x0A, 0x0A, 0x0F}));
  EXPECT_FALSE(rig.Send(Bytes({1})));
  comm->ClosePort();
  comm->ClosePort();
  EXPECT_FALSE(comm->IsOpen());
}

TEST_F(MemoryCommTest, ClosedPortIgnoresSendData) {
  const auto bytes = Bytes({1, 2, 3});
  EXPECT_FALSE(comm->SendData(bytes.data(), 3));
  EXPECT_TRUE(comm->SendDataEmpty());
}

TEST_F(MemoryCommTest, ZeroLengthSendQueuesNothing) {
  ASSERT_TRUE(rig.OpenIdle());
  device->HoldWrites(true);
  const auto bytes = Bytes({1, 2, 3});
  ASSERT_TRUE(comm->SendData(bytes.data(), 3));
  EXPECT_FALSE(comm->SendDataEmpty());
  EXPECT_FALSE(comm->SendData(bytes.data(), 0));
  EXPECT_FALSE(comm->SendDataEmpty());
  device->HoldWrites(false);
  ASSERT_TRUE(PumpUntil([&] { return comm->SendDataEmpty(); }));
  EXPECT_FALSE(comm->SendData(bytes.data(), 0));
  EXPECT_TRUE(comm->SendDataEmpty()); // unchanged by the refused call
  EXPECT_EQ(device->Written(), bytes);
}

TEST_F(MemoryCommTest, SendBlockThatCannotBeMadeIsRefused) {
  ASSERT_TRUE(rig.OpenIdle());
  layer->FailBlocks(BlockUse::Send);
  EXPECT_FALSE(rig.Send(Bytes({1, 2})));
  EXPECT_TRUE(comm->SendDataEmpty());
  layer->FailBlocks(BlockUse::Send, false);
  EXPECT_TRUE(rig.Send(Bytes({3})));
  ASSERT_TRUE(PumpUntil([&] { return device->WrittenSize() == 1; }));
  EXPECT_EQ(device->Written(), Bytes({3}));
}

TEST_F(MemoryCommTest, CallerMayReuseItsBufferAtOnce) {
  ASSERT_TRUE(rig.OpenIdle());
  device->HoldWrites(true);
  std::vector<uint8_t> buffer = Bytes({1, 2, 3, 4});
  ASSERT_TRUE(rig.Send(buffer));
  std::fill(buffer.begin(), buffer.end(), 0xEE);
  device->HoldWrites(false);
  ASSERT_TRUE(PumpUntil([&] { return device->WrittenSize() == 4; }));
  EXPECT_EQ(device->Written(), Bytes({1, 2, 3, 4}));
}

TEST_F(MemoryCommTest, DestroyingAnOpenComponentStopsItsThreads) {
  ASSERT_TRUE(rig.OpenIdle());
  comm.reset();
  EXPECT_FALSE(device->IsOpen());
  comm = std::make_unique<TComm>(nullptr, layer); // for the fixture's tear-down
}
