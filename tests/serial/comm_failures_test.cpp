// Every failure the receive and transmit threads handle: which ones post a
// hang-up notice, and which thread ends.
#include "comm_fixture.h"

#include "serial/comm_threads.h"

#include <functional>

using namespace serial;

namespace {
using Stage = MemoryDevice::Stage;

struct FailureCase {
  const char *name;
  std::function<void(MemoryRig &)> before; // before OpenPort
  std::function<void(MemoryRig &)> after;  // after the threads started
  size_t hangups;
  bool receiveAlive;
  bool transmitAlive;
};

void ClearLayerFailures(MemoryRig &rig) {
  for (uint32_t code = NoticeReceiveData; code <= NoticeSendDataEmpty; ++code)
    rig.layer->FailNotice(code, false);
  rig.layer->FailBlocks(BlockUse::Receive, false);
  rig.layer->FailBlocks(BlockUse::Send, false);
}

void RunCase(const FailureCase &c) {
  SCOPED_TRACE(c.name);
  MemoryRig rig;
  rig.comm->SetReadIntervalTimeout(20); // short bursts keep the table quick
  if (c.before)
    c.before(rig);
  rig.comm->OpenPort();
  ASSERT_TRUE(rig.layer->Settle());
  if (c.after)
    c.after(rig);
  ASSERT_TRUE(rig.layer->Settle());
  ClearLayerFailures(rig);
  EXPECT_EQ(CountOf(rig.events, "hangup"), c.hangups);
  EXPECT_EQ(rig.ReceiveAlive(), c.receiveAlive);
  const size_t written = rig.device->WrittenSize();
  const bool queued = rig.Send(Bytes({0x42}));
  EXPECT_EQ(queued, c.transmitAlive);
  ASSERT_TRUE(rig.layer->Settle());
  EXPECT_EQ(rig.device->WrittenSize(), written + (c.transmitAlive ? 1 : 0));
  EXPECT_EQ(CountOf(rig.events, "hangup"), c.hangups); // nothing more was reported
  for (const CommEvent &e : rig.events)
    EXPECT_TRUE(e.onGuiThread);
  EXPECT_TRUE(rig.comm->IsOpen()); // the component never closes by itself
  rig.comm->ClosePort();
  EXPECT_FALSE(rig.device->IsOpen());
}
} // namespace

TEST(ThreadFailures, ReceiveThread) {
  const FailureCase cases[] = {
      {"read record cannot be made", [](MemoryRig &r) { r.layer->FailSignalCreation(SignalUse::ReadCompletion); },
       nullptr, 1, false, true},
      {"event record cannot be made", [](MemoryRig &r) { r.layer->FailSignalCreation(SignalUse::EventCompletion); },
       nullptr, 1, false, true},
      {"event mask refused", [](MemoryRig &r) { r.device->FailEventMask(SerialResult::Failed); }, nullptr, 1, false,
       true},
      {"event mask refused, invalid handle", [](MemoryRig &r) { r.device->FailEventMask(SerialResult::InvalidHandle); },
       nullptr, 1, false, true},
      {"event wait fails to start",
       [](MemoryRig &r) { r.device->FailNextEventWait(SerialResult::Failed, Stage::Start); }, nullptr, 1, false, true},
      {"event wait start, invalid handle",
       [](MemoryRig &r) { r.device->FailNextEventWait(SerialResult::InvalidHandle, Stage::Start); }, nullptr, 0, false,
       true},
      {"event wait completes failed", nullptr,
       [](MemoryRig &r) { r.device->FailNextEventWait(SerialResult::Failed, Stage::Result); }, 1, false, true},
      {"event wait completes, invalid handle", nullptr,
       [](MemoryRig &r) { r.device->FailNextEventWait(SerialResult::InvalidHandle, Stage::Result); }, 0, false, true},
      {"read fails to start", [](MemoryRig &r) { r.device->FailNextRead(SerialResult::Failed, Stage::Start); }, nullptr,
       1, false, true},
      {"read start, invalid handle",
       [](MemoryRig &r) { r.device->FailNextRead(SerialResult::InvalidHandle, Stage::Start); }, nullptr, 0, false,
       true},
      {"read completes failed", nullptr,
       [](MemoryRig &r) { r.device->FailNextRead(SerialResult::Failed, Stage::Result); }, 1, false, true},
      {"read completes, invalid handle", nullptr,
       [](MemoryRig &r) { r.device->FailNextRead(SerialResult::InvalidHandle, Stage::Result); }, 0, false, true},
      {"line errors cannot be read", nullptr,
       [](MemoryRig &r) {
         r.device->FailClearLineErrors(SerialResult::Failed);
         r.device->InjectLineError(kLineErrorFrame);
       },
       1, false, true},
      {"line errors, invalid handle", nullptr,
       [](MemoryRig &r) {
         r.device->FailClearLineErrors(SerialResult::InvalidHandle);
         r.device->InjectLineError(kLineErrorFrame);
       },
       0, false, true},
      {"data notice refused", nullptr,
       [](MemoryRig &r) {
         r.layer->FailNotice(NoticeReceiveData);
         r.device->Inject(Bytes({1, 2, 3}));
       },
       1, false, true},
      {"error notice refused", nullptr,
       [](MemoryRig &r) {
         r.layer->FailNotice(NoticeReceiveError);
         r.device->InjectLineError(kLineErrorParity);
       },
       1, false, true},
      {"modem notice refused", nullptr,
       [](MemoryRig &r) {
         r.layer->FailNotice(NoticeModemStateChange);
         r.device->InjectEvent(kEventRing);
       },
       1, false, true},
      {"receive block cannot be made", nullptr,
       [](MemoryRig &r) {
         r.layer->FailBlocks(BlockUse::Receive);
         r.device->Inject(Bytes({1, 2, 3}));
       },
       1, false, true},
      {"wait fails", nullptr, [](MemoryRig &r) { r.layer->FailNextWait(SignalUse::ReadCompletion); }, 1, false, true},
      {"event word with no watched event", nullptr, [](MemoryRig &r) { r.device->InjectEvent(0x0004); }, 1, false,
       true},
      {"empty event word", nullptr, [](MemoryRig &r) { r.device->InjectEvent(0); }, 1, false, true},
  };
  for (const FailureCase &c : cases)
    RunCase(c);
}

TEST(ThreadFailures, TransmitThread) {
  const FailureCase cases[] = {
      {"write record cannot be made", [](MemoryRig &r) { r.layer->FailSignalCreation(SignalUse::WriteCompletion); },
       nullptr, 1, true, false},
      {"write fails to start", nullptr,
       [](MemoryRig &r) {
         r.device->FailNextWrite(SerialResult::Failed, Stage::Start);
         r.Send(Bytes({1, 2}));
       },
       1, true, false},
      {"write start, invalid handle", nullptr,
       [](MemoryRig &r) {
         r.device->FailNextWrite(SerialResult::InvalidHandle, Stage::Start);
         r.Send(Bytes({1, 2}));
       },
       0, true, false},
      {"write completes failed", nullptr,
       [](MemoryRig &r) {
         r.device->FailNextWrite(SerialResult::Failed, Stage::Result);
         r.Send(Bytes({1, 2}));
       },
       1, true, false},
      {"write completes, invalid handle", nullptr,
       [](MemoryRig &r) {
         r.device->FailNextWrite(SerialResult::InvalidHandle, Stage::Result);
         r.Send(Bytes({1, 2}));
       },
       0, true, false},
      {"send-empty notice refused", [](MemoryRig &r) { r.layer->FailNotice(NoticeSendDataEmpty); }, nullptr, 1, true,
       false},
      {"idle wait fails", [](MemoryRig &r) { r.layer->FailNextWait(SignalUse::WriteQueue); }, nullptr, 1, true, false},
      {"wait for a pending write fails", nullptr,
       [](MemoryRig &r) {
         r.layer->FailNextWait(SignalUse::WriteCompletion);
         r.device->HoldWrites(true);
         r.Send(Bytes({1, 2}));
       },
       1, true, false},
  };
  for (const FailureCase &c : cases)
    RunCase(c);
}

TEST(ThreadFailures, TransmitFailureLeavesSendDataEmptyTrueAndReceptionGoingOn) {
  MemoryRig rig;
  ASSERT_TRUE(rig.OpenIdle());
  rig.device->FailNextWrite(SerialResult::Failed, Stage::Start);
  ASSERT_TRUE(rig.Send(Bytes({1, 2, 3})));
  ASSERT_TRUE(rig.WaitFor("hangup", 1));
  EXPECT_TRUE(PumpUntil([&] { return rig.comm->SendDataEmpty(); }));
  for (int i = 0; i < 3; ++i)
    EXPECT_FALSE(rig.Send(Bytes({4})));
  EXPECT_TRUE(rig.comm->SendDataEmpty());
  EXPECT_TRUE(rig.ReceiveAlive());
  EXPECT_EQ(rig.device->WrittenSize(), 0u);
  // Closing and opening again gives a working transmit thread.
  rig.comm->ClosePort();
  rig.events.clear();
  ASSERT_TRUE(rig.OpenIdle());
  ASSERT_TRUE(rig.Send(Bytes({5, 6})));
  ASSERT_TRUE(PumpUntil([&] { return rig.device->WrittenSize() == 2; }));
  EXPECT_EQ(rig.device->Written(), Bytes({5, 6}));
}

TEST(ThreadFailures, UnpluggedDeviceReportsOneHangupAndStaysOpenUntilClosed) {
  MemoryRig rig;
  ASSERT_TRUE(rig.OpenIdle());
  rig.device->Unplug();
  ASSERT_TRUE(rig.layer->Settle());
  EXPECT_EQ(CountOf(rig.events, "hangup"), 1u);
  EXPECT_TRUE(rig.comm->IsOpen());
  rig.comm->ClosePort();
  EXPECT_FALSE(rig.comm->IsOpen());
  EXPECT_FALSE(rig.device->IsOpen());
}

TEST(ThreadFailures, InvalidHandleEndsBothThreadsSilently) {
  MemoryRig rig;
  ASSERT_TRUE(rig.OpenIdle());
  rig.device->InvalidateHandle();
  EXPECT_FALSE(rig.ReceiveAlive());
  EXPECT_TRUE(rig.Send(Bytes({1}))); // the idle transmit thread takes it, and its write ends the thread
  ASSERT_TRUE(rig.layer->Settle());
  EXPECT_FALSE(rig.Send(Bytes({2})));
  EXPECT_EQ(CountOf(rig.events, "hangup"), 0u);
  EXPECT_EQ(rig.device->WrittenSize(), 0u);
  EXPECT_TRUE(rig.comm->SendDataEmpty());
}
