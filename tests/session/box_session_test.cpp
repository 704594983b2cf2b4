// The engine alone, with no widget: operations over the in-memory line with a
// test playing the box, and against the simulated box over a pseudo-terminal.
#include "image/image_blocks.h"
#include "protocol/clocks.h"
#include "serial/comm.h"
#include "serial/posix_serial.h"
#include "session/box_session.h"
#include "support/memory_serial.h"
#include "support/test_helpers.h"
#include "tools/boxsim_process.h"

#include <gtest/gtest.h>
#include <random>

namespace {

using Bytes = std::vector<uint8_t>;

// Everything a session reported, in order.
struct Reports {
  std::vector<OperationEnd> ends;
  std::vector<uint32_t> progress;
  QStringList lines;
  QStringList lost;
  QStringList errors;

  void Watch(BoxSession &s) {
    QObject::connect(&s, &BoxSession::Ended, [this](const OperationEnd &e) { ends.push_back(e); });
    QObject::connect(&s, &BoxSession::Progress, [this](uint32_t p) { progress.push_back(p); });
    QObject::connect(&s, &BoxSession::ReadOutLines, [this](const QStringList &l) { lines += l; });
    QObject::connect(&s, &BoxSession::PortLost, [this](const QString &d) { lost << d; });
    QObject::connect(&s, &BoxSession::Error, [this](const QString &e) { errors << e; });
  }
};

// An image whose bytes tell their address, packed as a load packs it.
void PackImage(FirmwareImage &image, const std::vector<uint8_t> &bytes) {
  image.ImageSize = kLoadImageSize;
  for (uint32_t a = 0; a < kLoadImageSize; ++a)
    image.ImageText[a] = "$" + QStringLiteral("%1").arg(bytes[a], 2, 16, QLatin1Char('0')).toUpper().toStdString();
  BuildBlocks(image.ImageText, image.ImageSize, QStringLiteral("0000"),
              {MakeNameField(QStringLiteral("fw.hex")), MakeCountField(QStringLiteral("999999")), 0xFFFFFFFF},
              image.ImageBlocks);
}

std::vector<uint8_t> RandomBytes(uint32_t seed, size_t n = kLoadImageSize) {
  std::mt19937 gen(seed);
  std::vector<uint8_t> out(n);
  for (auto &b : out)
    b = uint8_t(gen());
  return out;
}

ChipNumbers Chip(const char *start, const char *end, const char *sizeK, const char *dataflash = "0x00") {
  ChipRecord r;
  r.ChipStart = QString::fromLatin1(start);
  r.ChipEnd = QString::fromLatin1(end);
  r.ChipSizeK = QString::fromLatin1(sizeK);
  r.DataflashCode = QString::fromLatin1(dataflash);
  return ParseChipNumbers(r);
}

struct OverMemory : ::testing::Test {
  std::shared_ptr<MemorySerialLayer> layer = std::make_shared<MemorySerialLayer>();
  std::shared_ptr<MemoryDevice> box = layer->AddDevice(QStringLiteral("BOX"));
  BoxSession session{layer};
  Reports got;

  void SetUp() override {
    got.Watch(session);
    session.OpenPort(QStringLiteral("BOX"));
  }
  bool Written(size_t n) {
    return PumpUntil([&] { return box->WrittenSize() >= n; });
  }
  bool Ends(size_t n, int ms = 3000) {
    return PumpUntil([&] { return got.ends.size() >= n; }, ms);
  }
};

TEST_F(OverMemory, LoadSendsAnnounceBlockZeroAndEveryRequestedBlock) {
  const auto bytes = RandomBytes(1);
  PackImage(session.Image(), bytes);
  session.Load();
  EXPECT_TRUE(session.InProgress());
  ASSERT_TRUE(Written(6 + 4120));
  const Bytes written = box->Written();
  EXPECT_EQ(Bytes(written.begin(), written.begin() + 6), (Bytes{0x68, 0x00, 0x02, 0x08, 0x00, 0x16}));
  const auto first = FirstBlockBytes(session.Image().ImageBlocks);
  EXPECT_TRUE(std::equal(first.begin(), first.end(), written.begin() + 6));

  for (uint8_t n : {uint8_t(3), uint8_t(1)}) {
    box->ClearWritten();
    box->Inject({0x68, 0x00, 0x02, 0x55, n, 0x16});
    ASSERT_TRUE(Written(4102));
    const auto want = RequestedBlockBytes(session.Image().ImageBlocks, n);
    EXPECT_EQ(box->Written(), Bytes(want.begin(), want.end())) << int(n);
  }
  session.SetOnline(true);
  box->Inject({0x68, 0x00, 0x01, 0x99, 0x16});
  ASSERT_TRUE(Ends(1));
  EXPECT_EQ(got.ends[0].outcome, Outcome::Ok);
  EXPECT_EQ(got.ends[0].message, QStringLiteral("文件烧写成功 "));
  EXPECT_EQ(got.progress.back(), 100u);
  EXPECT_FALSE(session.InProgress());
  EXPECT_FALSE(session.ElapsedClock()->Enabled());
  EXPECT_EQ(session.BytesSent(), 6u + 4120u + 2 * 4102u);
}

TEST_F(OverMemory, EachReplyEndsTheOperationWithItsClass) {
  struct Case {
    const char *name;
    std::function<void()> start;
    Bytes reply;
    Outcome outcome;
    QString message;
  };
  const ChipNumbers chip = Chip("0000", "7FFF", "32");
  const std::vector<Case> cases = {
      {"verify ok", [&] { session.Verify(chip); }, {0x68, 0x03, 0x01, 0x99, 0x16}, Outcome::Ok, "校 验 成 功!"},
      {"verify mismatch", [&] { session.Verify(chip); }, {0x68, 0x03, 0x05, 0xEE, 0x12, 0x34, 0xAB, 0xCD, 0x16},
       Outcome::VerifyMismatch, "校验没通过，错误地址：1234,  写入是 AB 读出是 CD"},
      {"erase-program-verify protected", [&] { session.EraseProgramVerify(chip); }, {0x68, 0x05, 0x01, 0x11, 0x16},
       Outcome::ReadProtected, "目标芯片已加密，无法校验。"},
      {"read-out failed", [&] { session.ReadOut(chip, 32768); }, {0x68, 0x04, 0x01, 0x00, 0x16}, Outcome::BoxFailed,
       "读 出 失 败！"},
      {"set refused", [&] { session.Set(1, 0, QStringLiteral("0000")); }, {0x68, 0x06, 0x01, 0x00, 0x16},
       Outcome::BoxFailed, ""},
      {"load failed", [&] { session.Load(); }, {0x68, 0x00, 0x01, 0x00, 0x16}, Outcome::BoxFailed,
       "文 件 加 载 失 败"},
  };
  for (const auto &c : cases) {
    got.ends.clear();
    c.start();
    PumpFor(20);
    box->Inject(c.reply);
    ASSERT_TRUE(Ends(1)) << c.name;
    EXPECT_EQ(got.ends[0].outcome, c.outcome) << c.name;
    EXPECT_EQ(got.ends[0].message, c.message) << c.name;
    EXPECT_FALSE(session.InProgress()) << c.name;
  }
}

TEST_F(OverMemory, VerifyMismatchCarriesAddressAndBytes) {
  session.Verify(Chip("0000", "7FFF", "32"));
  box->Inject({0x68, 0x03, 0x05, 0xEE, 0x7F, 0xFE, 0x00, 0x01, 0x16});
  ASSERT_TRUE(Ends(1));
  ASSERT_TRUE(got.ends[0].mismatch);
  EXPECT_EQ(got.ends[0].mismatch->address, 0x7FFE);
  EXPECT_EQ(got.ends[0].mismatch->written, 0x00);
  EXPECT_EQ(got.ends[0].mismatch->read, 0x01);
}

TEST_F(OverMemory, ReadOutGathersItsBlocksAndEndsOnTheLast) {
  session.ReadOut(Chip("0000", "1FFF", "8"), 8192);
  ASSERT_TRUE(Written(7));
  EXPECT_EQ(box->Written(), (Bytes{0x68, 0x04, 0x03, 0x00, 0x08, 0x00, 0x16}));
  const auto first = RandomBytes(5, 4096), second = RandomBytes(6, 4096);
  box->Inject(first);
  ASSERT_TRUE(PumpUntil([&] { return got.lines.size() == 256; }));
  EXPECT_TRUE(got.ends.empty());
  box->Inject(second);
  ASSERT_TRUE(Ends(1));
  EXPECT_EQ(got.ends[0].outcome, Outcome::Ok);
  EXPECT_EQ(got.ends[0].message, QString()) << "a completed read-out shows no message";
  ASSERT_EQ(got.lines.size(), 512);
  EXPECT_TRUE(got.lines[256].startsWith(QStringLiteral("1000:: ")));
}

TEST_F(OverMemory, SilenceEndsInTheTimeOutOnceAndALateReplyIsStillReported) {
  session.SetTimeOutSeconds(3);
  session.Verify(Chip("0000", "7FFF", "32"));
  for (int tick = 0; tick < 40; ++tick)
    session.ElapsedTick();
  ASSERT_EQ(got.ends.size(), 1u);
  EXPECT_EQ(got.ends[0].outcome, Outcome::NoAnswer);
  EXPECT_EQ(got.ends[0].message, kTimeOutMessage);
  EXPECT_FALSE(session.ElapsedClock()->Enabled());
  EXPECT_TRUE(session.ProgressClock()->Enabled()) << "the progress clock runs on to 98 %";
  box->Inject({0x68, 0x03, 0x01, 0x99, 0x16});
  ASSERT_TRUE(Ends(2));
  EXPECT_EQ(got.ends[1].outcome, Outcome::Ok);
}

TEST_F(OverMemory, StopIgnoresWhatTheBoxSendsLater) {
  session.Verify(Chip("0000", "7FFF", "32"));
  session.Stop();
  EXPECT_FALSE(session.ElapsedClock()->Enabled());
  box->Inject({0x68, 0x03, 0x01, 0x99, 0x16});
  PumpFor(300);
  EXPECT_TRUE(got.ends.empty());
}

TEST_F(OverMemory, PortGoingAwayEndsTheOperationAtOnce) {
  PackImage(session.Image(), RandomBytes(2));
  session.Load();
  ASSERT_TRUE(Written(6 + 4120));
  box->Unplug();
  ASSERT_TRUE(Ends(1, 2000));
  EXPECT_EQ(got.ends[0].outcome, Outcome::PortLost);
  EXPECT_EQ(got.ends[0].message, kPortLostMessage);
  EXPECT_EQ(got.lost, QStringList{QStringLiteral("BOX: the serial port was lost")});
  EXPECT_FALSE(session.IsOpen());
  EXPECT_FALSE(session.ElapsedClock()->Enabled());
  PumpFor(200);
  EXPECT_EQ(got.ends.size(), 1u) << "the second thread's notice finds the port closed";
  // Idle, a lost port is reported without an operation ending.
  box = layer->AddDevice(QStringLiteral("BOX2"));
  session.OpenPort(QStringLiteral("BOX2"));
  box->Unplug();
  ASSERT_TRUE(PumpUntil([&] { return got.lost.size() == 2; }));
  EXPECT_EQ(got.ends.size(), 1u);
}

TEST(FastReplies, AWholeFrameIsABurstOfItsOwnAnythingElseWaitsForItsSilence) {
  // Two block requests 60 ms apart: with the silence they are one burst (the
  // first request alone is read), taken as whole frames each is answered.
  for (const bool fast : {false, true}) {
    auto layer = std::make_shared<MemorySerialLayer>();
    auto box = layer->AddDevice(QStringLiteral("BOX"));
    BoxSession session(layer);
    session.SetFastReplies(fast);
    session.OpenPort(QStringLiteral("BOX"));
    PackImage(session.Image(), RandomBytes(3));
    session.Load();
    ASSERT_TRUE(PumpUntil([&] { return box->WrittenSize() >= 6 + 4120; }));
    box->ClearWritten();
    box->Inject({0x68, 0x00, 0x02, 0x55, 0x01, 0x16});
    PumpFor(60);
    box->Inject({0x68, 0x00, 0x02, 0x55, 0x02, 0x16});
    PumpFor(400);
    EXPECT_EQ(box->WrittenSize(), (fast ? 2u : 1u) * 4102) << (fast ? "fast" : "with the silence");
  }
  // No frame: the silence ends it, and it is no answer, however its byte 3 reads.
  const Bytes fake = {0x13, 0x37, 0x00, 0x99, 0x42, 0x42, 0x42, 0x42};
  for (const bool fast : {false, true}) {
    auto layer = std::make_shared<MemorySerialLayer>();
    auto box = layer->AddDevice(QStringLiteral("BOX"));
    BoxSession session(layer);
    session.SetFastReplies(fast);
    Reports got;
    got.Watch(session);
    session.OpenPort(QStringLiteral("BOX"));
    session.Verify(Chip("0000", "7FFF", "32"));
    box->Inject(fake);
    ASSERT_TRUE(PumpUntil([&] { return !got.ends.empty(); }, 2000));
    EXPECT_EQ(got.ends[0].outcome, Outcome::BoxFailed) << (fast ? "fast" : "with the silence");
    EXPECT_EQ(got.ends[0].message, QStringLiteral("The box sent 8 bytes that are not a reply: 13 37 00 99 42 42 42 42"));
    EXPECT_FALSE(session.ElapsedClock()->Enabled());
    box->Inject(fake); // nothing waits for an answer any more: dropped
    PumpFor(250);
    EXPECT_EQ(got.ends.size(), 1u);
  }
  auto layer = std::make_shared<MemorySerialLayer>();
  auto box = layer->AddDevice(QStringLiteral("BOX"));
  BoxSession session(layer);
  session.SetFastReplies(true);
  Reports got;
  got.Watch(session);
  session.OpenPort(QStringLiteral("BOX"));
  // Read-out data that begins like a status frame is not cut short.
  session.ReadOut(Chip("0000", "0FFF", "4"), 4096);
  box->Inject({0x68, 0x04, 0x01, 0x00, 0x16}); // the block's first bytes, shaped like a failure
  PumpFor(40);
  box->Inject(Bytes(4096 - 5, 0x11));
  ASSERT_TRUE(PumpUntil([&] { return !got.ends.empty(); }, 2000));
  EXPECT_EQ(got.ends[0].outcome, Outcome::Ok);
  EXPECT_EQ(got.lines.size(), 256);
}

TEST(SessionsSideBySide, EachKeepsItsOwnStateAndClocks) {
  auto layer = std::make_shared<MemorySerialLayer>();
  auto a = layer->AddDevice(QStringLiteral("A")), b = layer->AddDevice(QStringLiteral("B"));
  BoxSession sa(layer), sb(layer);
  Reports ra, rb;
  ra.Watch(sa);
  rb.Watch(sb);
  sa.OpenPort(QStringLiteral("A"));
  sb.OpenPort(QStringLiteral("B"));
  const ChipNumbers chip = Chip("0000", "7FFF", "32");
  sa.Verify(chip);
  sb.EraseProgramVerify(chip);
  b->Inject({0x68, 0x05, 0x01, 0x00, 0x16});
  ASSERT_TRUE(PumpUntil([&] { return rb.ends.size() == 1; }));
  EXPECT_TRUE(ra.ends.empty());
  EXPECT_TRUE(sa.ElapsedClock()->Enabled());
  EXPECT_EQ(sa.State().CurrentCommand, 4);
  EXPECT_EQ(sb.State().CurrentCommand, 6);
  a->Inject({0x68, 0x03, 0x01, 0x99, 0x16});
  ASSERT_TRUE(PumpUntil([&] { return ra.ends.size() == 1; }));
  EXPECT_EQ(ra.ends[0].outcome, Outcome::Ok);
  EXPECT_EQ(rb.ends[0].outcome, Outcome::BoxFailed);
}

// --- Against the simulated box ------------------------------------------------------

TEST(SessionAgainstBox, LoadVerifyAndReadOutTheExactImage) {
  if (access(boxsim_test::SimulatorPath().c_str(), X_OK) != 0)
    GTEST_SKIP() << "no simulator at " << boxsim_test::SimulatorPath();
  ProgramFolder folder;
  const std::string log = folder.File(QStringLiteral("box.jsonl")).toStdString();
  boxsim_test::BoxSim sim({"--log", log, "--exit-with-parent"});
  ASSERT_TRUE(sim.Started());
  BoxSession session(MakePlatformSerialLayer());
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
  session.Set(0, 0, QStringLiteral("0000"));
  ASSERT_TRUE(PumpUntil([&] { return got.ends.size() == 1; }, 10000)) << "set; box: " << boxLog();
  EXPECT_EQ(got.ends.back().outcome, Outcome::Ok);

  const auto bytes = RandomBytes(9);
  PackImage(session.Image(), bytes);
  session.SetOnline(true);
  session.Load();
  ASSERT_TRUE(PumpUntil([&] { return got.ends.size() == 2; }, 30000)) << "load; box: " << boxLog();
  EXPECT_EQ(got.ends.back().outcome, Outcome::Ok);
  EXPECT_EQ(got.ends.back().message, QStringLiteral("文件烧写成功 "));

  session.Verify(Chip("0000", "7FFF", "32"));
  ASSERT_TRUE(PumpUntil([&] { return got.ends.size() == 3; }, 30000)) << "verify; box: " << boxLog();
  EXPECT_EQ(got.ends.back().outcome, Outcome::Ok);

  session.ReadOut(Chip("0000", "7FFF", "32"), 32768);
  ASSERT_TRUE(PumpUntil([&] { return got.ends.size() == 4; }, 30000)) << "read-out; box: " << boxLog();
  EXPECT_EQ(got.ends.back().outcome, Outcome::Ok);
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
