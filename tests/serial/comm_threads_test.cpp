// The receive and transmit threads at work: bursts, line events, the send
// queue, and the hand-over of notices to the GUI thread.
#include "comm_fixture.h"

#include "serial/comm_threads.h"

#include <QElapsedTimer>
#include <atomic>
#include <future>

using namespace serial;

namespace {
std::vector<uint8_t> Concat(const std::vector<CommEvent> &events) {
  std::vector<uint8_t> all;
  for (const CommEvent &e : events)
    if (e.kind == "data")
      all.insert(all.end(), e.bytes.begin(), e.bytes.end());
  return all;
}
} // namespace

TEST_F(ClockedCommTest, BytesWithShortGapsFormOneBlockAndALongGapStartsAnother) {
  ASSERT_TRUE(rig.OpenIdle());
  device->Inject(Bytes({0x55, 0x01}));
  clock.Advance(99);
  device->Inject(Bytes({0x02}));
  clock.Advance(99);
  device->Inject(Bytes({0x03, 0x04}));
  clock.Advance(99);
  ASSERT_TRUE(layer->Settle());
  EXPECT_EQ(CountOf(events, "data"), 0u) << "no gap of 100 ms yet";
  clock.Advance(1);
  ASSERT_TRUE(rig.WaitFor("data", 1));
  clock.Advance(500);
  device->Inject(Bytes({0x99}));
  clock.Advance(100);
  ASSERT_TRUE(layer->Settle());
  ASSERT_EQ(CountOf(events, "data"), 2u);
  EXPECT_EQ(events[1].bytes, Bytes({0x55, 0x01, 0x02, 0x03, 0x04}));
  EXPECT_EQ(events[2].bytes, Bytes({0x99}));
}

TEST_F(MemoryCommTest, ReceivedBlockCarriesAZeroByteAndArrivesOnTheGuiThread) {
  ASSERT_TRUE(rig.OpenIdle());
  device->Inject(std::vector<uint8_t>(300, 0xFF));
  ASSERT_TRUE(rig.WaitFor("data", 1));
  EXPECT_EQ(events.back().value, 300u);
  EXPECT_TRUE(events.back().zeroAfterData);
  EXPECT_TRUE(events.back().onGuiThread);
}

TEST_F(MemoryCommTest, MoreThan65535BytesArriveAsSeveralBlocksInOrder) {
  ASSERT_TRUE(rig.OpenIdle());
  const std::vector<uint8_t> data = Pattern(65535 * 2 + 1000);
  device->Inject(data);
  ASSERT_TRUE(PumpUntil([&] { return Concat(events).size() == data.size(); }));
  ASSERT_EQ(CountOf(events, "data"), 3u);
  EXPECT_EQ(events[1].value, 65535u);
  EXPECT_EQ(events[2].value, 65535u);
  EXPECT_EQ(events[3].value, 1000u);
  EXPECT_EQ(Concat(events), data);
}

TEST_F(MemoryCommTest, LineErrorIsReportedAndReceptionGoesOn) {
  ASSERT_TRUE(rig.OpenIdle());
  device->InjectLineError(kLineErrorFrame | kLineErrorOverrun);
  ASSERT_TRUE(rig.WaitFor("error", 1));
  EXPECT_EQ(events.back().value, kLineErrorFrame | kLineErrorOverrun);
  // The flags were cleared by reading them: the next error carries only its own.
  device->InjectLineError(kLineErrorParity);
  ASSERT_TRUE(rig.WaitFor("error", 2));
  EXPECT_EQ(events.back().value, kLineErrorParity);
  EXPECT_TRUE(rig.ReceiveAlive());
  EXPECT_EQ(CountOf(events, "hangup"), 0u);
}

TEST_F(MemoryCommTest, ModemEventsGiveCarrier8Ring4AndBoth12) {
  ASSERT_TRUE(rig.OpenIdle());
  const std::pair<uint32_t, uint32_t> cases[] = {
      {kEventRlsd, 8}, {kEventRing, 4}, {kEventRlsd | kEventRing, 12}, {kEventRlsd | kEventRing | 0x0001, 12}};
  size_t expected = 0;
  for (auto [word, bits] : cases) {
    device->InjectEvent(word);
    ASSERT_TRUE(rig.WaitFor("modem", ++expected));
    EXPECT_EQ(events.back().value, bits) << word;
  }
  ASSERT_TRUE(layer->Settle());
  EXPECT_EQ(CountOf(events, "modem"), expected);
  EXPECT_EQ(CountOf(events, "hangup"), 0u);
  EXPECT_TRUE(rig.ReceiveAlive());
}

TEST_F(MemoryCommTest, LineErrorWithCarrierChangeGivesBothEventsErrorFirst) {
  ASSERT_TRUE(rig.OpenIdle());
  device->InjectLineError(kLineErrorBreak); // queues an EV_ERR word of its own
  device->InjectEvent(kEventErr | kEventRlsd);
  ASSERT_TRUE(rig.WaitFor("modem", 1));
  std::vector<std::string> kinds;
  for (const CommEvent &e : events)
    kinds.push_back(e.kind);
  EXPECT_EQ(kinds, (std::vector<std::string>{"empty", "error", "error", "modem"}));
  EXPECT_EQ(events[1].value, kLineErrorBreak);
  EXPECT_EQ(events[2].value, 0u); // already cleared
  EXPECT_EQ(events[3].value, 8u);
}

TEST_F(MemoryCommTest, EventsBeforeOpeningWaitCompleteAtOnce) {
  // A line event already waiting when the first event wait starts completes it
  // at once; the thread handles it and arms the next.
  comm->OpenPort();
  device->InjectEvent(kEventRing);
  ASSERT_TRUE(rig.WaitFor("modem", 1));
  device->InjectEvent(kEventRlsd);
  ASSERT_TRUE(rig.WaitFor("modem", 2));
  EXPECT_EQ(events.back().value, 8u);
}

TEST_F(ClockedCommTest, EmptyReadCompletionKeepsReading) {
  comm->SetReadTotalTimeoutConstant(30); // each read ends after 30 ms, empty
  ASSERT_TRUE(rig.OpenIdle());
  for (int i = 0; i < 3; ++i) {
    clock.Advance(30);
    ASSERT_TRUE(layer->Settle());
  }
  EXPECT_EQ(events.size(), 1u) << "an empty read delivers nothing";
  EXPECT_TRUE(rig.ReceiveAlive());
  EXPECT_EQ(CountOf(events, "hangup"), 0u);
}

TEST_F(MemoryCommTest, ShortWritesAreContinuedInOrderBeforeTheNextBlock) {
  ASSERT_TRUE(rig.OpenIdle());
  device->SetWriteChunk(3);
  const std::vector<uint8_t> first = Pattern(10, 1), second = Pattern(7, 50), third = Pattern(4102, 9);
  ASSERT_TRUE(rig.Send(first));
  ASSERT_TRUE(rig.Send(second));
  ASSERT_TRUE(rig.Send(third));
  std::vector<uint8_t> expected = first;
  expected.insert(expected.end(), second.begin(), second.end());
  expected.insert(expected.end(), third.begin(), third.end());
  ASSERT_TRUE(PumpUntil([&] { return device->WrittenSize() == expected.size(); }));
  EXPECT_EQ(device->Written(), expected);
}

TEST_F(MemoryCommTest, QueuedBlocksGiveASingleSendDataEmptyOnceDrained) {
  ASSERT_TRUE(rig.OpenIdle());
  EXPECT_TRUE(comm->SendDataEmpty());
  device->HoldWrites(true);
  ASSERT_TRUE(rig.Send(Bytes({1})));
  ASSERT_TRUE(rig.Send(Bytes({2, 2})));
  ASSERT_TRUE(rig.Send(Bytes({3, 3, 3})));
  ASSERT_TRUE(PumpUntil([&] { return device->WriteIsPending(); }));
  EXPECT_FALSE(comm->SendDataEmpty());
  ASSERT_TRUE(layer->Settle());
  EXPECT_EQ(CountOf(events, "empty"), 1u);
  device->HoldWrites(false);
  ASSERT_TRUE(layer->Settle());
  EXPECT_EQ(device->WrittenSize(), 6u);
  EXPECT_TRUE(comm->SendDataEmpty());
  EXPECT_EQ(CountOf(events, "empty"), 2u);
  EXPECT_EQ(device->Written(), Bytes({1, 2, 2, 3, 3, 3}));
}

TEST_F(MemoryCommTest, SendDataEmptyIsFalseWhileAnyRequestIsOutstanding) {
  // Sends from the GUI thread while the transmit thread drains: whenever the
  // flag reads true, everything sent so far has been written.
  ASSERT_TRUE(rig.OpenIdle());
  size_t sent = 0;
  for (int i = 0; i < 300; ++i) {
    const bool empty = comm->SendDataEmpty();
    const size_t written = device->WrittenSize();
    if (empty) {
      ASSERT_EQ(written, sent) << i;
    }
    ASSERT_TRUE(rig.Send(Bytes({i & 0xFF})));
    ++sent;
    if (i % 7 == 0) { // now and then the queue drains, and the flag must say so only then
      ASSERT_TRUE(PumpUntil([&] { return comm->SendDataEmpty(); }));
      ASSERT_EQ(device->WrittenSize(), sent) << i;
    }
  }
  ASSERT_TRUE(PumpUntil([&] { return comm->SendDataEmpty(); }));
  EXPECT_EQ(device->WrittenSize(), sent);
}

TEST_F(MemoryCommTest, ClosePortWhileAWriteIsPendingAbandonsIt) {
  ASSERT_TRUE(rig.OpenIdle());
  device->HoldWrites(true);
  ASSERT_TRUE(rig.Send(Bytes({0xAA, 0xAA})));
  ASSERT_TRUE(rig.Send(Bytes({0xBB})));
  ASSERT_TRUE(PumpUntil([&] { return device->WriteIsPending(); }));
  QElapsedTimer timer;
  timer.start();
  comm->ClosePort();
  EXPECT_LT(timer.elapsed(), 2000);
  EXPECT_TRUE(comm->SendDataEmpty());
  EXPECT_FALSE(device->WriteIsPending());
  device->HoldWrites(false);
  ASSERT_TRUE(rig.OpenIdle());
  ASSERT_TRUE(rig.Send(Bytes({0xCC})));
  ASSERT_TRUE(layer->Settle());
  EXPECT_EQ(device->Written(), Bytes({0xCC}));
  EXPECT_EQ(CountOf(events, "hangup"), 0u);
}

TEST_F(MemoryCommTest, NoticesPostedBeforeClosePortAreDeliveredAfterIt) {
  ASSERT_TRUE(rig.OpenIdle());
  device->Inject(Bytes({0x55, 0x07}));
  // The receive thread reads and posts; the GUI thread's events do not run.
  ASSERT_TRUE(layer->WaitUntilQuiet());
  ASSERT_EQ(device->UnreadSize(), 0u);
  EXPECT_EQ(CountOf(events, "data"), 0u);
  comm->ClosePort();
  ASSERT_TRUE(rig.WaitFor("data", 1));
  EXPECT_EQ(events.back().bytes, Bytes({0x55, 0x07}));
  EXPECT_TRUE(events.back().zeroAfterData);
}

TEST_F(MemoryCommTest, OneSendDataEmptyFollowsOpeningEvenWithNothingSent) {
  comm->OpenPort();
  ASSERT_TRUE(layer->Settle());
  EXPECT_EQ(CountOf(events, "empty"), 1u);
  EXPECT_EQ(events.size(), 1u);
}

TEST_F(MemoryCommTest, HandlerMayAnswerWithSendData) {
  comm->OnReceiveData = [&](TComm *sender, const uint8_t *buffer, uint16_t length) {
    EXPECT_EQ(sender, comm.get());
    std::vector<uint8_t> answer(buffer, buffer + length);
    answer.push_back(0x16);
    EXPECT_TRUE(sender->SendData(answer.data(), static_cast<uint16_t>(answer.size())));
  };
  ASSERT_TRUE(rig.OpenIdle());
  device->Inject(Bytes({0x55, 0x03}));
  ASSERT_TRUE(PumpUntil([&] { return device->WrittenSize() == 3; }));
  EXPECT_EQ(device->Written(), Bytes({0x55, 0x03, 0x16}));
}

TEST_F(MemoryCommTest, UnboundEventsAreHarmless) {
  comm->OnReceiveData = nullptr;
  comm->OnSendDataEmpty = nullptr;
  comm->OnReceiveError = nullptr;
  comm->OnModemStateChange = nullptr;
  ASSERT_NO_THROW(comm->OpenPort());
  device->Inject(Bytes({1, 2, 3}));
  device->InjectLineError(kLineErrorFrame);
  device->InjectEvent(kEventRing);
  ASSERT_TRUE(layer->Settle());
  EXPECT_EQ(device->UnreadSize(), 0u) << "the bytes were read";
  EXPECT_TRUE(events.empty());
  device->InjectEvent(0); // the one bound event still arrives
  EXPECT_TRUE(rig.WaitFor("hangup", 1));
}

TEST_F(ClockedCommTest, BlocksFromManyBurstsKeepTheirOrder) {
  comm->SetReadIntervalTimeout(5);
  ASSERT_TRUE(rig.OpenIdle());
  std::vector<uint8_t> all;
  for (int i = 0; i < 20; ++i) {
    const std::vector<uint8_t> burst = Pattern(10 + i, static_cast<uint8_t>(i));
    all.insert(all.end(), burst.begin(), burst.end());
    device->Inject(burst);
    clock.Advance(5);
    ASSERT_TRUE(rig.WaitFor("data", size_t(i + 1))) << i;
    EXPECT_EQ(events.back().bytes, burst) << i;
  }
  EXPECT_EQ(Concat(events), all);
}

TEST(ThreadWorker, UnstartedThreadEndsWithoutRunningItsBody) {
  std::atomic<bool> ran{false};
  {
    WorkerThread thread([&] { ran = true; });
    QElapsedTimer timer;
    timer.start();
    EXPECT_FALSE(thread.WaitFor(10000)); // cannot end before it starts
    EXPECT_LT(timer.elapsed(), 1000);
  }
  EXPECT_FALSE(ran.load());
}

TEST(ThreadWorker, StartedThreadRunsAndIsWaitedFor) {
  std::atomic<int> runs{0};
  std::promise<void> release;
  WorkerThread thread([&, gate = release.get_future().share()] {
    ++runs;
    gate.wait_for(std::chrono::seconds(10));
  });
  thread.Start();
  EXPECT_FALSE(thread.WaitFor(1)) << "it ended while held";
  release.set_value();
  EXPECT_TRUE(thread.WaitFor(5000));
  EXPECT_EQ(runs.load(), 1);
}

TEST(ThreadWriteQueue, FlagFollowsTheQueueAndAClosedQueueRefuses) {
  MemorySerialLayer layer;
  std::atomic<bool> empty{true};
  WriteQueue queue(layer.CreateSignal(SignalUse::WriteQueue), empty);
  EXPECT_TRUE(queue.Post(Notice{WriteRequest, 1, 0, Block(new uint8_t[2]())}));
  EXPECT_FALSE(empty.load());
  EXPECT_TRUE(queue.Signal().IsSet());
  EXPECT_TRUE(queue.Post(Notice{WriteRequest, 2, 0, Block(new uint8_t[3]())}));
  Notice entry;
  ASSERT_TRUE(queue.TakeNext(entry));
  EXPECT_EQ(entry.word, 1u);
  EXPECT_FALSE(empty.load()); // taken, not yet done: still outstanding
  ASSERT_TRUE(queue.TakeNext(entry));
  EXPECT_EQ(entry.word, 2u);
  EXPECT_FALSE(queue.TakeNext(entry));
  EXPECT_TRUE(empty.load());
  EXPECT_FALSE(queue.Signal().IsSet());
  EXPECT_TRUE(queue.Post(Notice{WriteRequest, 3, 0, Block(new uint8_t[4]())}));
  queue.Close();
  EXPECT_TRUE(empty.load());
  EXPECT_FALSE(queue.Post(Notice{WriteRequest, 4, 0, Block(new uint8_t[5]())}));
  EXPECT_FALSE(queue.TakeNext(entry));
}
