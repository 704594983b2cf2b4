// The engine alone, with no widget: operations handed over as values, over the
// in-memory line with a test playing the box and moving the clock, and against
// the simulated box over a pseudo-terminal.
#include "image/firmware_image.h"
#include "image/image_blocks.h"
#include "protocol/clocks.h"
#include "serial/posix_serial.h"
#include "session/box_session.h"
#include "support/memory_serial.h"
#include "support/test_helpers.h"
#include "tools/boxsim_process.h"

#include <gtest/gtest.h>
#include <random>

using namespace session;

namespace {

using Bytes = std::vector<uint8_t>;
using Phase = BoxSession::Phase;

// Everything a session reported, in order.
struct Reports {
  std::vector<Attempt> attempts;
  std::vector<OperationEnd> late;
  std::vector<uint32_t> progress;
  QStringList lines;
  QStringList lost;
  int returned = 0;
  QStringList errors;

  void Watch(BoxSession &s) {
    QObject::connect(&s, &BoxSession::AttemptEnded, [this](const Attempt &a) { attempts.push_back(a); });
    QObject::connect(&s, &BoxSession::LateReply, [this](const OperationEnd &e) { late.push_back(e); });
    QObject::connect(&s, &BoxSession::Progress, [this](uint32_t p) { progress.push_back(p); });
    QObject::connect(&s, &BoxSession::ReadOutLines, [this](const QStringList &l) { lines += l; });
    QObject::connect(&s, &BoxSession::PortLost, [this](const QString &d) { lost << d; });
    QObject::connect(&s, &BoxSession::PortReturned, [this] { ++returned; });
    QObject::connect(&s, &BoxSession::Error, [this](const QString &e) { errors << e; });
  }
  const OperationEnd &End(size_t i) const { return attempts.at(i).end; }
};

std::vector<uint8_t> RandomBytes(uint32_t seed, size_t n = image::kLoadImageSize) {
  std::mt19937 gen(seed);
  std::vector<uint8_t> out(n);
  for (auto &b : out)
    b = uint8_t(gen());
  return out;
}

// An image whose bytes are `bytes`, packed as every load packs it.
std::shared_ptr<const LoadImage> Packed(const std::vector<uint8_t> &bytes) {
  return PackLoadImage(bytes, {QStringLiteral("fw.hex"), QStringLiteral("ab12")}, 999999, 0xFFFFFFFF);
}

chip::ChipRecord Chip(const char *start, const char *end, const char *sizeK, const char *dataflash = "0x00") {
  chip::ChipRecord r;
  r.ChipStart = QString::fromLatin1(start);
  r.ChipEnd = QString::fromLatin1(end);
  r.ChipSizeK = QString::fromLatin1(sizeK);
  r.DataflashCode = QString::fromLatin1(dataflash);
  return r;
}

OperationRequest Request(BoxOperation operation, chip::ChipRecord chip = Chip("0000", "7FFF", "32")) {
  OperationRequest q;
  q.operation = operation;
  q.chip = std::move(chip);
  q.imageSize = image::kLoadImageSize;
  return q;
}

OperationRequest LoadOf(std::shared_ptr<const LoadImage> image) {
  OperationRequest q = Request(BoxOperation::Load);
  q.image = std::move(image);
  return q;
}

struct OverMemory : ::testing::Test {
  base::ManualClock clock; // before the line and the session, which take their time from it
  std::shared_ptr<MemorySerialLayer> layer = std::make_shared<MemorySerialLayer>(clock);
  std::shared_ptr<MemoryDevice> box = layer->AddDevice(QStringLiteral("BOX"));
  BoxSession session{layer, clock};
  Reports got;

  void SetUp() override {
    got.Watch(session);
    session.OpenPort(QStringLiteral("BOX"));
  }
  bool Written(size_t n) {
    return PumpUntil([&] { return box->WrittenSize() >= n; });
  }
  // The box sends `bytes` and falls silent: the burst ends once the silence has passed.
  void Answer(const Bytes &bytes) {
    box->Inject(bytes);
    clock.Advance(100);
  }
  bool Ends(size_t n) {
    return PumpUntil([&] { return got.attempts.size() >= n; });
  }
};

TEST_F(OverMemory, LoadSendsAnnounceBlockZeroAndEveryRequestedBlock) {
  const auto image = Packed(RandomBytes(1));
  OperationRequest load = LoadOf(image);
  load.mode = BoxMode::Online;
  session.Start(load);
  EXPECT_EQ(session.CurrentPhase(), Phase::Transferring);
  ASSERT_TRUE(Written(6 + 4120));
  const Bytes written = box->Written();
  EXPECT_EQ(Bytes(written.begin(), written.begin() + 6), (Bytes{0x68, 0x00, 0x02, 0x08, 0x00, 0x16}));
  const auto first = image::FirstBlockBytes(image->blocks);
  EXPECT_TRUE(std::equal(first.begin(), first.end(), written.begin() + 6));

  // Any order, a block twice, a slot the image leaves empty: each answered from its slot.
  const Bytes asked = {3, 1, 3, 2, 9, 4, 5, 6, 7};
  for (uint8_t n : asked) {
    box->ClearWritten();
    Answer({0x68, 0x00, 0x02, 0x55, n, 0x16});
    ASSERT_TRUE(Written(4102));
    const auto want = image::RequestedBlockBytes(image->blocks, n);
    EXPECT_EQ(box->Written(), Bytes(want.begin(), want.end())) << int(n);
  }
  Answer({0x68, 0x00, 0x01, 0x99, 0x16});
  ASSERT_TRUE(Ends(1));
  EXPECT_EQ(got.End(0).outcome, protocol::Outcome::Ok);
  EXPECT_EQ(got.End(0).message, QStringLiteral("文件烧写成功 "));
  EXPECT_EQ(got.progress.back(), 100u);
  EXPECT_EQ(session.CurrentPhase(), Phase::Ended);
  EXPECT_FALSE(session.ElapsedRunning());
  EXPECT_EQ(got.attempts[0].bytesSent, 6u + 4120u + asked.size() * 4102u);
  const records::Record r = MakeRecord(got.attempts[0], QStringLiteral("cli"));
  EXPECT_EQ(r.fileSha256, QStringLiteral("ab12"));
  EXPECT_EQ(r.imageChecksum, image->checksumCaption);
  EXPECT_EQ(r.sectors, QStringLiteral("FFFFFFFF"));
  EXPECT_EQ(r.count, 999999);
  EXPECT_EQ(r.mode, QStringLiteral("online"));
  EXPECT_EQ(r.station, QStringLiteral("BOX"));
}

TEST_F(OverMemory, AnnouncedLoadAnswersFromThePreviousImageUntilHandedTheNext) {
  const auto previous = Packed(RandomBytes(2)), next = Packed(RandomBytes(3));
  session.Start(LoadOf(previous));
  Answer({0x68, 0x00, 0x01, 0x99, 0x16});
  ASSERT_TRUE(Ends(1));
  session.Start(Request(BoxOperation::Load));
  EXPECT_EQ(session.CurrentPhase(), Phase::Announcing);
  EXPECT_FALSE(session.ElapsedRunning()) << "no clock runs before the firmware is there";
  ASSERT_TRUE(PumpUntil([&] { return box->WrittenSize() == 6 + 4120 + 6; }));
  box->ClearWritten();
  Answer({0x68, 0x00, 0x02, 0x55, 0x02, 0x16});
  ASSERT_TRUE(Written(4102));
  const auto old = image::RequestedBlockBytes(previous->blocks, 2);
  EXPECT_EQ(box->Written(), Bytes(old.begin(), old.end()));
  box->ClearWritten();
  session.HandOver(next);
  EXPECT_EQ(session.CurrentPhase(), Phase::Transferring);
  EXPECT_EQ(session.ProgressIntervalMs(), 142);
  ASSERT_TRUE(Written(4120));
  const auto first = image::FirstBlockBytes(next->blocks);
  EXPECT_EQ(box->Written(), Bytes(first.begin(), first.end()));
}

TEST_F(OverMemory, EachReplyEndsTheOperationWithItsClass) {
  struct Case {
    const char *name;
    OperationRequest request;
    Bytes reply;
    protocol::Outcome outcome;
    QString message;
  };
  OperationRequest set = Request(BoxOperation::Set);
  set.mode = BoxMode::Offline;
  set.supply = BoxSupply::FiveVolts;
  const std::vector<Case> cases = {
      {"verify ok",
       Request(BoxOperation::Verify),
       {0x68, 0x03, 0x01, 0x99, 0x16},
       protocol::Outcome::Ok,
       "校 验 成 功!"},
      {"verify mismatch",
       Request(BoxOperation::Verify),
       {0x68, 0x03, 0x05, 0xEE, 0x12, 0x34, 0xAB, 0xCD, 0x16},
       protocol::Outcome::VerifyMismatch,
       "校验没通过，错误地址：1234,  写入是 AB 读出是 CD"},
      {"erase-program-verify protected",
       Request(BoxOperation::EraseProgramVerify),
       {0x68, 0x05, 0x01, 0x11, 0x16},
       protocol::Outcome::ReadProtected,
       "目标芯片已加密，无法校验。"},
      {"read-out failed",
       Request(BoxOperation::ReadOut),
       {0x68, 0x04, 0x01, 0x00, 0x16},
       protocol::Outcome::BoxFailed,
       "读 出 失 败！"},
      {"set refused", set, {0x68, 0x06, 0x01, 0x00, 0x16}, protocol::Outcome::BoxFailed, ""},
      {"load failed",
       LoadOf(Packed(RandomBytes(4))),
       {0x68, 0x00, 0x01, 0x00, 0x16},
       protocol::Outcome::BoxFailed,
       "文 件 加 载 失 败"},
      {"load called successful after block 0 alone",
       LoadOf(Packed(RandomBytes(4))),
       {0x68, 0x00, 0x01, 0x99, 0x16},
       protocol::Outcome::BoxFailed,
       "编程器报告加载成功，但从未索取文件的这些数据块：1, 2, 3, 4, 5, 6, 7"},
      {"load answered with an unknown status",
       LoadOf(Packed(RandomBytes(4))),
       {0x68, 0x00, 0x01, 0x42, 0x16},
       protocol::Outcome::BoxFailed,
       "编程器应答了未知的状态 42：68 00 01 42 16"},
      {"set answered with an unknown status", set, {0x68, 0x06, 0x01, 0x42, 0x16}, protocol::Outcome::BoxFailed,
       "编程器应答了未知的状态 42：68 06 01 42 16"},
      {"verify answered twice in one burst",
       Request(BoxOperation::Verify),
       {0x68, 0x03, 0x01, 0x99, 0x16, 0x68, 0x03, 0x01, 0x00, 0x16},
       protocol::Outcome::BoxFailed,
       "编程器一次发来了多个应答：68 03 01 99 16 68 03 01 00 16"},
  };
  for (const auto &c : cases) {
    got.attempts.clear();
    session.Start(c.request);
    Answer(c.reply);
    ASSERT_TRUE(Ends(1)) << c.name;
    EXPECT_EQ(got.End(0).outcome, c.outcome) << c.name;
    EXPECT_EQ(got.End(0).message, c.message) << c.name;
    EXPECT_EQ(got.attempts[0].Operation(), c.request.operation) << c.name;
    EXPECT_FALSE(session.InProgress()) << c.name;
  }
  const Attempt &a = got.attempts[0];
  EXPECT_EQ(MakeRecord(a, QStringLiteral("window")).result, QStringLiteral("box-failed"));
}

TEST_F(OverMemory, SetFrameCarriesTheRequestsModeSupplyAndCount) {
  OperationRequest set = Request(BoxOperation::Set);
  set.mode = BoxMode::Online;
  set.supply = BoxSupply::NoOutput;
  set.count = 1234;
  session.Start(set);
  EXPECT_EQ(session.CurrentPhase(), Phase::Setting);
  ASSERT_TRUE(Written(8));
  EXPECT_EQ(box->Written(), (Bytes{0x68, 0x06, 0x04, 0x55, 0x33, 0x12, 0x34, 0x16}));
  EXPECT_FALSE(session.ElapsedRunning()) << "a set starts no clocks";
}

TEST_F(OverMemory, VerifyMismatchCarriesAddressAndBytes) {
  session.Start(Request(BoxOperation::Verify));
  Answer({0x68, 0x03, 0x05, 0xEE, 0x7F, 0xFE, 0x00, 0x01, 0x16});
  ASSERT_TRUE(Ends(1));
  ASSERT_TRUE(got.End(0).mismatch);
  EXPECT_EQ(got.End(0).mismatch->address, 0x7FFE);
  EXPECT_EQ(got.End(0).mismatch->written, 0x00);
  EXPECT_EQ(got.End(0).mismatch->read, 0x01);
}

TEST_F(OverMemory, ReadOutGathersItsBlocksAndEndsOnTheLast) {
  OperationRequest read = Request(BoxOperation::ReadOut, Chip("0000", "1FFF", "8"));
  session.Start(read);
  ASSERT_TRUE(Written(7));
  EXPECT_EQ(box->Written(), (Bytes{0x68, 0x04, 0x03, 0x00, 0x08, 0x00, 0x16}));
  Answer(RandomBytes(5, 4096));
  ASSERT_TRUE(PumpUntil([&] { return got.lines.size() == 256; }));
  EXPECT_TRUE(got.attempts.empty());
  Answer(RandomBytes(6, 4096));
  ASSERT_TRUE(Ends(1));
  EXPECT_EQ(got.End(0).outcome, protocol::Outcome::Ok);
  EXPECT_EQ(got.End(0).message, QString()) << "a completed read-out shows no message";
  ASSERT_EQ(got.lines.size(), 512);
  EXPECT_TRUE(got.lines[256].startsWith(QStringLiteral("1000:: ")));
}

TEST_F(OverMemory, TheTimeOutEndsTheAttemptOnItsTickAndALateReplyIsStillReported) {
  OperationRequest verify = Request(BoxOperation::Verify);
  verify.timeOutSeconds = 3;
  session.Start(verify);
  clock.Advance(2999);
  EXPECT_TRUE(got.attempts.empty());
  clock.Advance(1);
  ASSERT_EQ(got.attempts.size(), 1u);
  EXPECT_EQ(got.End(0).outcome, protocol::Outcome::NoAnswer);
  EXPECT_EQ(got.End(0).message, protocol::kTimeOutMessage);
  EXPECT_EQ(session.CurrentPhase(), Phase::Ended);
  EXPECT_FALSE(session.ElapsedRunning());
  EXPECT_TRUE(session.ProgressRunning()) << "the progress clock runs on to 98 %";
  clock.Advance(60000);
  EXPECT_EQ(got.attempts.size(), 1u);
  Answer({0x68, 0x03, 0x01, 0x99, 0x16});
  ASSERT_TRUE(PumpUntil([&] { return got.late.size() == 1; }));
  EXPECT_EQ(got.late[0].outcome, protocol::Outcome::Ok);
  EXPECT_EQ(got.attempts.size(), 1u);
}

TEST_F(OverMemory, ASetEndsOnItsTimeOutOnlyWhenTheRequestGivesOne) {
  for (const std::optional<uint32_t> seconds : {std::optional<uint32_t>(5), std::optional<uint32_t>()}) {
    session.Stop();
    got.attempts.clear();
    OperationRequest set = Request(BoxOperation::Set);
    set.timeOutSeconds = seconds;
    session.Start(set);
    clock.Advance(4999);
    EXPECT_TRUE(got.attempts.empty());
    clock.Advance(600000);
    if (!seconds) {
      EXPECT_TRUE(got.attempts.empty()) << "a set without a time-out waits for its answer";
      continue;
    }
    ASSERT_EQ(got.attempts.size(), 1u);
    EXPECT_EQ(got.End(0).outcome, protocol::Outcome::NoAnswer);
    EXPECT_EQ(got.End(0).message, protocol::kTimeOutMessage);
  }
}

TEST_F(OverMemory, StopIgnoresWhatTheBoxSendsLater) {
  session.Start(Request(BoxOperation::Verify));
  session.Stop();
  EXPECT_EQ(session.CurrentPhase(), Phase::Idle);
  ASSERT_EQ(got.attempts.size(), 1u);
  EXPECT_EQ(got.End(0).outcome, protocol::Outcome::Interrupted);
  EXPECT_FALSE(session.ElapsedRunning());
  Answer({0x68, 0x03, 0x01, 0x99, 0x16});
  ASSERT_TRUE(layer->Settle());
  EXPECT_EQ(box->UnreadSize(), 0u) << "the reply was read";
  EXPECT_EQ(got.attempts.size(), 1u);
  EXPECT_TRUE(got.late.empty());
}

TEST_F(OverMemory, PortGoingAwayEndsTheOperationAtOnceAndIsWatchedUntilItIsBack) {
  session.WatchForReturn(true);
  session.Start(LoadOf(Packed(RandomBytes(2))));
  ASSERT_TRUE(Written(6 + 4120));
  box->SetOpenFails(true); // gone for now
  box->Unplug();
  ASSERT_TRUE(Ends(1));
  EXPECT_EQ(got.End(0).outcome, protocol::Outcome::PortLost);
  EXPECT_EQ(got.End(0).message, kPortLostMessage);
  EXPECT_EQ(got.lost, QStringList{QStringLiteral("BOX: the serial port was lost")});
  EXPECT_FALSE(session.IsOpen());
  EXPECT_FALSE(session.ElapsedRunning());
  EXPECT_TRUE(session.WatchingForReturn());
  ASSERT_TRUE(layer->Settle());
  EXPECT_EQ(got.attempts.size(), 1u) << "the second thread's notice finds the port closed";
  clock.Advance(5000);
  EXPECT_FALSE(session.IsOpen());
  box->SetOpenFails(false); // back
  clock.Advance(999);
  EXPECT_FALSE(session.IsOpen()) << "tried once a second";
  clock.Advance(1);
  EXPECT_TRUE(session.IsOpen());
  EXPECT_EQ(got.returned, 1);
  EXPECT_FALSE(session.WatchingForReturn());
  EXPECT_EQ(got.attempts.size(), 1u) << "no operation is resumed";
  // Idle, a lost port is reported without an attempt ending; another port ends the watch.
  box->Unplug();
  ASSERT_TRUE(PumpUntil([&] { return got.lost.size() == 2; }));
  EXPECT_TRUE(session.WatchingForReturn());
  session.SetPortName(QStringLiteral("OTHER"));
  EXPECT_FALSE(session.WatchingForReturn());
  EXPECT_EQ(got.attempts.size(), 1u);
}

TEST(FastReplies, AWholeFrameIsABurstOfItsOwnAnythingElseWaitsForItsSilence) {
  // Two block requests 60 ms apart: with the silence they are one burst (the
  // first request alone is read), taken as whole frames each is answered.
  for (const bool fast : {false, true}) {
    base::ManualClock clock;
    auto layer = std::make_shared<MemorySerialLayer>(clock);
    auto box = layer->AddDevice(QStringLiteral("BOX"));
    BoxSession session(layer, clock);
    session.SetFastReplies(fast);
    session.OpenPort(QStringLiteral("BOX"));
    session.Start(LoadOf(Packed(RandomBytes(3))));
    ASSERT_TRUE(PumpUntil([&] { return box->WrittenSize() >= 6 + 4120; }));
    box->ClearWritten();
    box->Inject({0x68, 0x00, 0x02, 0x55, 0x01, 0x16});
    clock.Advance(fast ? 2 : 60);
    if (fast) {
      ASSERT_TRUE(PumpUntil([&] { return box->WrittenSize() == 4102; }));
    }
    box->Inject({0x68, 0x00, 0x02, 0x55, 0x02, 0x16});
    clock.Advance(100);
    ASSERT_TRUE(layer->Settle());
    EXPECT_EQ(box->UnreadSize(), 0u);
    EXPECT_EQ(box->WrittenSize(), (fast ? 2u : 1u) * 4102) << (fast ? "fast" : "with the silence");
  }
  // No frame: the silence ends it, and it is no answer, however its byte 3 reads.
  const Bytes fake = {0x13, 0x37, 0x00, 0x99, 0x42, 0x42, 0x42, 0x42};
  for (const bool fast : {false, true}) {
    base::ManualClock clock;
    auto layer = std::make_shared<MemorySerialLayer>(clock);
    auto box = layer->AddDevice(QStringLiteral("BOX"));
    BoxSession session(layer, clock);
    session.SetFastReplies(fast);
    Reports got;
    got.Watch(session);
    session.OpenPort(QStringLiteral("BOX"));
    session.Start(Request(BoxOperation::Verify));
    box->Inject(fake);
    clock.Advance(2);
    // Fast, the line hands it over and the session waits for the rest of the silence.
    ASSERT_TRUE(layer->Settle());
    EXPECT_EQ(box->UnreadSize(), fast ? 0u : fake.size());
    EXPECT_TRUE(got.attempts.empty()) << "before its silence has passed";
    clock.Advance(98);
    ASSERT_TRUE(PumpUntil([&] { return !got.attempts.empty(); }));
    EXPECT_EQ(got.End(0).outcome, protocol::Outcome::BoxFailed) << (fast ? "fast" : "with the silence");
    EXPECT_EQ(got.End(0).message, QStringLiteral("编程器发来的 8 个字节不是应答：13 37 00 99 42 42 42 42"));
    EXPECT_FALSE(session.ElapsedRunning());
    box->Inject(fake); // nothing waits for an answer any more: dropped
    clock.Advance(100);
    ASSERT_TRUE(layer->Settle());
    EXPECT_EQ(box->UnreadSize(), 0u);
    clock.Advance(100);
    ASSERT_TRUE(layer->Settle());
    EXPECT_EQ(got.attempts.size(), 1u);
    EXPECT_TRUE(got.late.empty());
  }
  base::ManualClock clock;
  auto layer = std::make_shared<MemorySerialLayer>(clock);
  auto box = layer->AddDevice(QStringLiteral("BOX"));
  BoxSession session(layer, clock);
  session.SetFastReplies(true);
  Reports got;
  got.Watch(session);
  session.OpenPort(QStringLiteral("BOX"));
  // Read-out data that begins like a status frame is not cut short.
  session.Start(Request(BoxOperation::ReadOut, Chip("0000", "0FFF", "4")));
  // The line hands each part over after its 2 ms; the session holds them until 98 ms more have passed.
  auto handOver = [&](const Bytes &bytes) {
    box->Inject(bytes);
    clock.Advance(2);
    ASSERT_TRUE(layer->Settle());
    ASSERT_EQ(box->UnreadSize(), 0u);
  };
  handOver({0x68, 0x04, 0x01, 0x00, 0x16}); // the block's first bytes, shaped like a failure
  clock.Advance(38);
  handOver(Bytes(4096 - 5, 0x11));
  clock.Advance(97);
  ASSERT_TRUE(layer->Settle());
  EXPECT_TRUE(got.attempts.empty());
  clock.Advance(1);
  ASSERT_TRUE(PumpUntil([&] { return !got.attempts.empty(); }));
  EXPECT_EQ(got.End(0).outcome, protocol::Outcome::Ok);
  EXPECT_EQ(got.lines.size(), 256);
}

TEST(SessionsSideBySide, EachKeepsItsOwnStateAndClocks) {
  base::ManualClock clock;
  auto layer = std::make_shared<MemorySerialLayer>(clock);
  auto a = layer->AddDevice(QStringLiteral("A")), b = layer->AddDevice(QStringLiteral("B"));
  BoxSession sa(layer, clock), sb(layer, clock);
  Reports ra, rb;
  ra.Watch(sa);
  rb.Watch(sb);
  sa.OpenPort(QStringLiteral("A"));
  sb.OpenPort(QStringLiteral("B"));
  sa.Start(Request(BoxOperation::Verify));
  sb.Start(Request(BoxOperation::EraseProgramVerify));
  b->Inject({0x68, 0x05, 0x01, 0x00, 0x16});
  clock.Advance(100);
  ASSERT_TRUE(PumpUntil([&] { return rb.attempts.size() == 1; }));
  EXPECT_TRUE(ra.attempts.empty());
  EXPECT_TRUE(sa.ElapsedRunning());
  EXPECT_EQ(sa.CurrentPhase(), Phase::Verifying);
  EXPECT_EQ(sb.CurrentPhase(), Phase::Ended);
  a->Inject({0x68, 0x03, 0x01, 0x99, 0x16});
  clock.Advance(100);
  ASSERT_TRUE(PumpUntil([&] { return ra.attempts.size() == 1; }));
  EXPECT_EQ(ra.End(0).outcome, protocol::Outcome::Ok);
  EXPECT_EQ(rb.End(0).outcome, protocol::Outcome::BoxFailed);
}

// --- Against the simulated box ------------------------------------------------------

TEST(SessionAgainstBox, LoadVerifyAndReadOutTheExactImage) {
  if (access(boxsim_test::SimulatorPath().c_str(), X_OK) != 0)
    GTEST_SKIP() << "no simulator at " << boxsim_test::SimulatorPath();
  ProgramFolder folder;
  const std::string log = folder.File(QStringLiteral("box.jsonl")).toStdString();
  boxsim_test::BoxSim sim({"--log", log, "--exit-with-parent"});
  ASSERT_TRUE(sim.Started());
  BoxSession session(serial::MakePlatformSerialLayer());
  Reports got;
  got.Watch(session);
  session.OpenPort(QString::fromStdString(sim.Device()));

  // What the box heard and said, for a step that gets no end.
  auto boxLog = [&] {
    std::string kinds;
    for (const auto &r : boxsim_test::ReadLog(log))
      kinds += r.value("dir").toString().toStdString() + ":" + r.value("kind").toString().toStdString() + " ";
    return kinds;
  };
  OperationRequest set = Request(BoxOperation::Set);
  set.mode = BoxMode::Online;
  set.supply = BoxSupply::FiveVolts;
  session.Start(set);
  ASSERT_TRUE(PumpUntil([&] { return got.attempts.size() == 1; }, 10000)) << "set; box: " << boxLog();
  EXPECT_EQ(got.attempts.back().end.outcome, protocol::Outcome::Ok);

  const auto bytes = RandomBytes(9);
  OperationRequest load = LoadOf(Packed(bytes));
  load.mode = BoxMode::Online;
  session.Start(load);
  ASSERT_TRUE(PumpUntil([&] { return got.attempts.size() == 2; }, 30000)) << "load; box: " << boxLog();
  EXPECT_EQ(got.attempts.back().end.outcome, protocol::Outcome::Ok);
  EXPECT_EQ(got.attempts.back().end.message, QStringLiteral("文件烧写成功 "));

  session.Start(Request(BoxOperation::Verify));
  ASSERT_TRUE(PumpUntil([&] { return got.attempts.size() == 3; }, 30000)) << "verify; box: " << boxLog();
  EXPECT_EQ(got.attempts.back().end.outcome, protocol::Outcome::Ok);

  session.Start(Request(BoxOperation::ReadOut));
  ASSERT_TRUE(PumpUntil([&] { return got.attempts.size() == 4; }, 30000)) << "read-out; box: " << boxLog();
  EXPECT_EQ(got.attempts.back().end.outcome, protocol::Outcome::Ok);
  ASSERT_EQ(got.lines.size(), 2048);
  for (int line = 0; line < 2048; line += 97) {
    QString want = QStringLiteral("%1:: ").arg(line * 16, 4, 16, QLatin1Char('0')).toUpper();
    for (int i = 0; i < 16; ++i)
      want += QStringLiteral("%1 ").arg(bytes[size_t(line * 16 + i)], 2, 16, QLatin1Char('0')).toUpper();
    ASSERT_EQ(got.lines[line], want) << "line " << line;
  }
  EXPECT_TRUE(got.errors.isEmpty());
}

} // namespace
