// The simulated box's protocol engine: decoding of frames and block records,
// and the replies it makes, without a terminal.
#include "box_engine.h"
#include "boxsim_wire.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <functional>
#include <gtest/gtest.h>

using namespace boxsim;
using namespace boxsim_test;

namespace {

std::vector<Bytes> ReplyBytes(const std::vector<Reply> &replies) {
  std::vector<Bytes> out;
  for (const auto &r : replies)
    out.push_back(r.bytes);
  return out;
}

std::vector<QJsonObject> Parsed(const std::vector<std::string> &lines) {
  std::vector<QJsonObject> out;
  for (const auto &l : lines) {
    QJsonParseError err{};
    const auto doc = QJsonDocument::fromJson(QByteArray::fromStdString(l), &err);
    EXPECT_EQ(err.error, QJsonParseError::NoError) << l;
    out.push_back(doc.object());
  }
  return out;
}

std::vector<QJsonObject> OfKind(const std::vector<QJsonObject> &records, const char *kind) {
  std::vector<QJsonObject> out;
  for (const auto &o : records)
    if (o.value("kind").toString() == QLatin1String(kind))
      out.push_back(o);
  return out;
}

struct Box {
  explicit Box(BoxOptions o = {}) : engine(std::move(o)) {}
  std::vector<Bytes> Feed(const Bytes &b) {
    t += 1000;
    return ReplyBytes(engine.Feed(b, t));
  }
  // Announces a load and sends block 0 and every block the box asks for; returns all replies.
  std::vector<Bytes> Load(const std::function<Bytes(uint8_t)> &record = [](uint8_t n) { return Record(n); }) {
    std::vector<Bytes> all;
    EXPECT_TRUE(Feed(LoadFrame()).empty());
    auto replies = Feed(record(0));
    while (!replies.empty()) {
      all.insert(all.end(), replies.begin(), replies.end());
      const Bytes &last = replies.back();
      if (last.size() != 6 || last[3] != 0x55)
        break;
      replies = Feed(record(last[4]));
    }
    return all;
  }
  BoxEngine engine;
  int64_t t = 0;
};

std::vector<Bytes> NormalLoadReplies() {
  std::vector<Bytes> expected;
  for (uint8_t n = 1; n <= 7; ++n)
    expected.push_back(Request(n));
  expected.push_back(Status(0x00, 0x99));
  return expected;
}

} // namespace

TEST(BoxEngineLoad, RequestsBlocksOneToSevenThenKeepsTheImage) {
  Box box;
  EXPECT_TRUE(box.Feed(LoadFrame()).empty());
  EXPECT_EQ(box.engine.AwaitedBlock(), 0);
  EXPECT_EQ(box.Load(), NormalLoadReplies());
  EXPECT_EQ(box.engine.AwaitedBlock(), -1);

  const Image &img = box.engine.LastImage();
  for (size_t a = 0; a < 0x8000; ++a)
    ASSERT_EQ(img.bytes[a], ImageByte(a)) << a;
  for (size_t b = 0; b < 16; ++b)
    EXPECT_EQ(img.present[b], b < 8) << b;
  // Offline (the mode before any set): the chip is not touched.
  for (size_t a = 0; a < kChipSize; ++a)
    ASSERT_EQ(box.engine.Chip().Read(static_cast<uint16_t>(a)), 0xFF) << a;
}

TEST(BoxEngineLoad, OnlineLoadProgramsTheChip) {
  Box box;
  ASSERT_EQ(box.Feed(SetFrame(0x55, 0x50, 0x00, 0x00)), std::vector<Bytes>{Status(0x06, 0x99)});
  EXPECT_EQ(box.Load(), NormalLoadReplies());
  for (size_t a = 0; a < 0x8000; ++a)
    ASSERT_EQ(box.engine.Chip().Read(static_cast<uint16_t>(a)), ImageByte(a)) << a;
  EXPECT_EQ(box.engine.Chip().Read(0x8000), 0xFF);
  EXPECT_EQ(box.engine.Chip().Read(0xFFFF), 0xFF);
}

TEST(BoxEngineLoad, LogsEveryBlockWithItsFullData) {
  Box box;
  box.Load();
  const auto records = Parsed(box.engine.TakeLog());
  ASSERT_EQ(OfKind(records, "load").size(), 1u);
  const auto blocks = OfKind(records, "block");
  ASSERT_EQ(blocks.size(), 8u);
  for (int n = 0; n < 8; ++n) {
    const auto &b = blocks[n];
    EXPECT_EQ(b.value("dir").toString(), "rx");
    EXPECT_EQ(b.value("n").toInt(), n);
    EXPECT_EQ(b.value("addr").toInt(), 16 * n);
    EXPECT_TRUE(b.value("ok").toBool());
    const Bytes data = BlockData(n);
    uint32_t sum = 0;
    for (uint8_t x : data)
      sum += x;
    EXPECT_EQ(static_cast<uint32_t>(b.value("sum").toDouble()), sum);
    EXPECT_EQ(b.value("data").toString().toStdString(), Hex(data)) << n;
  }
  // Only block 0 carries name, count N and sector mask.
  EXPECT_EQ(blocks[0].value("name").toString(), "fw");
  EXPECT_EQ(blocks[0].value("count").toString(), "001234");
  EXPECT_EQ(blocks[0].value("sectors").toString(), "FFFFFFFF");
  EXPECT_FALSE(blocks[1].contains("name"));
}

TEST(BoxEngineLoad, BadRecordsAreAnsweredWithFailure) {
  struct Case {
    const char *name;
    uint8_t failing; // block whose record is spoilt
    std::function<Bytes(uint8_t)> spoil;
    const char *reason;
  };
  const Case cases[] = {
      {"sum of block 0", 0,
       [](uint8_t n) {
         Bytes r = Record(n);
         r[4101] ^= 0x01;
         return r;
       },
       "sum"},
      {"sum of block 3", 3,
       [](uint8_t n) {
         Bytes r = Record(n);
         r[2 + 100] ^= 0x40; // data changed, sum kept
         return r;
       },
       "sum"},
      {"number of block 2", 2, [](uint8_t) { return Record(3, BlockData(2)); }, "number"},
      {"address of block 5", 5, [](uint8_t n) { return Record(n, BlockData(n), false, 0x00); }, "address"},
      {"number of block 0", 0, [](uint8_t) { return Record(1, BlockData(0), true, 0x00); }, "number"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    Box box;
    const auto replies = box.Load([&](uint8_t n) { return n == c.failing ? c.spoil(n) : Record(n); });
    std::vector<Bytes> expected;
    for (uint8_t n = 1; n <= c.failing; ++n)
      expected.push_back(Request(n));
    expected.push_back(Status(0x00, 0x00));
    EXPECT_EQ(replies, expected);
    EXPECT_EQ(box.engine.AwaitedBlock(), -1);
    EXPECT_FALSE(box.engine.LastImage().Any()); // a failed load keeps nothing
    const auto blocks = OfKind(Parsed(box.engine.TakeLog()), "block");
    ASSERT_FALSE(blocks.empty());
    EXPECT_FALSE(blocks.back().value("ok").toBool());
    EXPECT_EQ(blocks.back().value("reason").toString(), c.reason);
    // The box is ready for the next command.
    EXPECT_EQ(box.Feed(SetFrame(0xAA, 0x50, 0, 0)), std::vector<Bytes>{Status(0x06, 0x99)});
  }
}

TEST(BoxEngineLoad, FailedLoadKeepsThePreviousImage) {
  Box box;
  box.Load();
  box.Load([](uint8_t n) { return n == 4 ? Record(5, Bytes(4096, 0x00)) : Record(n, Bytes(4096, 0x11), n == 0); });
  for (size_t a = 0; a < 0x8000; a += 997)
    EXPECT_EQ(box.engine.LastImage().bytes[a], ImageByte(a));
}

TEST(BoxEngineLoad, FailAtBlockAnswersFailureWhenThatBlockArrives) {
  for (int k : {0, 3, 7}) {
    SCOPED_TRACE(k);
    BoxOptions o;
    o.failAtBlock = k;
    Box box(o);
    std::vector<Bytes> expected;
    for (int n = 1; n <= k; ++n)
      expected.push_back(Request(static_cast<uint8_t>(n)));
    expected.push_back(Status(0x00, 0x00));
    EXPECT_EQ(box.Load(), expected);
  }
}

TEST(BoxEngineLoad, FailTimesFailsOnlyTheFirstLoads) {
  BoxOptions o;
  o.failAtBlock = 2;
  o.failTimes = 2;
  Box box(o);
  const std::vector<Bytes> failed{Request(1), Request(2), Status(0x00, 0x00)};
  EXPECT_EQ(box.Load(), failed);
  EXPECT_EQ(box.Load(), failed);
  EXPECT_EQ(box.Load().back(), Status(0x00, 0x99));
}

TEST(BoxEngineLoad, OrderWithRepeatsIsRequestedAsGiven) {
  BoxOptions o;
  o.order = {3, 1, 1, 2, 4, 5, 6, 7, 3};
  Box box(o);
  std::vector<uint8_t> asked;
  int seenOne = 0;
  const auto replies = box.Load([&](uint8_t n) {
    if (n != 0)
      asked.push_back(n);
    // The first copy of block 1 differs; the repeat must replace it.
    if (n == 1 && seenOne++ == 0)
      return Record(1, Bytes(4096, 0x42));
    return Record(n);
  });
  EXPECT_EQ(asked, (std::vector<uint8_t>{3, 1, 1, 2, 4, 5, 6, 7, 3}));
  EXPECT_EQ(replies.back(), Status(0x00, 0x99));
  for (size_t a = 0; a < 0x8000; ++a)
    ASSERT_EQ(box.engine.LastImage().bytes[a], ImageByte(a)) << a;
}

TEST(BoxEngineLoad, ShortOrderKeepsOnlyTheBlocksReceived) {
  BoxOptions o;
  o.order = {2};
  Box box(o);
  EXPECT_EQ(box.Load(), (std::vector<Bytes>{Request(2), Status(0x00, 0x99)}));
  const Image &img = box.engine.LastImage();
  EXPECT_TRUE(img.present[0]);
  EXPECT_FALSE(img.present[1]);
  EXPECT_TRUE(img.present[2]);
  EXPECT_FALSE(img.present[3]);
}

TEST(BoxEngineReceive, FrameSplitAcrossReadsIsAnsweredOnceComplete) {
  Box box;
  const Bytes set = SetFrame(0xAA, 0x33, 0x12, 0x34);
  for (size_t i = 0; i + 1 < set.size(); ++i)
    EXPECT_TRUE(box.Feed({set[i]}).empty()) << i;
  EXPECT_EQ(box.Feed({set.back()}), std::vector<Bytes>{Status(0x06, 0x99)});
}

TEST(BoxEngineReceive, BlockSplitAcrossReadsIsJudgedOnceComplete) {
  Box box;
  box.Feed(LoadFrame());
  const Bytes b0 = Record(0);
  EXPECT_TRUE(box.Feed(Bytes(b0.begin(), b0.begin() + 1)).empty());
  EXPECT_TRUE(box.Feed(Bytes(b0.begin() + 1, b0.begin() + 4000)).empty());
  EXPECT_TRUE(box.Feed(Bytes(b0.begin() + 4000, b0.end() - 1)).empty());
  EXPECT_EQ(box.Feed(Bytes(b0.end() - 1, b0.end())), std::vector<Bytes>{Request(1)});
}

TEST(BoxEngineReceive, SeveralFramesInOneReadAreAnsweredInOrder) {
  Box box;
  Bytes both = SetFrame(0x55, 0x50, 0, 1);
  const Bytes check = CheckFrame();
  both.insert(both.end(), check.begin(), check.end());
  const Bytes set2 = SetFrame(0xAA, 0x50, 0, 2);
  both.insert(both.end(), set2.begin(), set2.end());
  EXPECT_EQ(box.Feed(both), (std::vector<Bytes>{Status(0x06, 0x99), Status(0x03, 0x00), Status(0x06, 0x99)}));
  EXPECT_FALSE(box.engine.Online());
  EXPECT_EQ(box.engine.CountBytes(), 0x0002);
}

TEST(BoxEngineReceive, BlockAndFollowingFrameInOneRead) {
  Box box;
  box.Feed(LoadFrame());
  Bytes run = Record(0);
  const Bytes set = SetFrame(0xAA, 0x50, 0, 0);
  run.insert(run.end(), set.begin(), set.end());
  // The frame abandons the load the block request started.
  EXPECT_EQ(box.Feed(run), (std::vector<Bytes>{Request(1), Status(0x06, 0x99)}));
  EXPECT_EQ(box.engine.AwaitedBlock(), -1);
}

TEST(BoxEngineReceive, ResynchronisesOnTheStartByte) {
  Box box;
  // Noise, then a false start (wrong end byte), then a frame of an unknown
  // code, then a good frame.
  Bytes run{0x00, 0x12, 0x16};
  const Bytes falseStart{0x68, 0x06, 0x04, 0x55, 0x50, 0x00, 0x00, 0x00};
  run.insert(run.end(), falseStart.begin(), falseStart.end());
  const Bytes unknown{0x68, 0x07, 0x01, 0x00, 0x16};
  run.insert(run.end(), unknown.begin(), unknown.end());
  const Bytes set = SetFrame(0x55, 0x50, 0x00, 0x09);
  run.insert(run.end(), set.begin(), set.end());
  EXPECT_EQ(box.Feed(run), std::vector<Bytes>{Status(0x06, 0x99)});
  EXPECT_TRUE(box.engine.Online());
  EXPECT_EQ(box.engine.PendingInput(), 0u);

  const auto records = Parsed(box.engine.TakeLog());
  const auto junk = OfKind(records, "junk");
  ASSERT_EQ(junk.size(), 1u);
  EXPECT_EQ(junk[0].value("bytes").toString(), "0012166806045550000000");
  ASSERT_EQ(OfKind(records, "frame").size(), 1u);
  EXPECT_EQ(OfKind(records, "frame")[0].value("code").toString(), "07");
}

TEST(BoxEngineReceive, KnownCodeWithWrongLengthIsNotAFrame) {
  Box box;
  // 68 03 01 .. would be a check frame with a payload; the box skips its start
  // byte and finds the set frame inside.
  Bytes run{0x68, 0x03, 0x01};
  const Bytes set = SetFrame(0xAA, 0x50, 0, 0);
  run.insert(run.end(), set.begin(), set.end());
  EXPECT_EQ(box.Feed(run), std::vector<Bytes>{Status(0x06, 0x99)});
}

TEST(BoxEngineReceive, FrameInsteadOfAwaitedBlockAbandonsTheLoad) {
  Box box;
  box.Feed(LoadFrame());
  box.Feed(Record(0));
  ASSERT_EQ(box.engine.AwaitedBlock(), 1);
  EXPECT_EQ(box.Feed(CheckFrame()), std::vector<Bytes>{Status(0x03, 0x00)});
  EXPECT_EQ(box.engine.AwaitedBlock(), -1);
  EXPECT_EQ(OfKind(Parsed(box.engine.TakeLog()), "abandon").size(), 1u);
}

TEST(BoxEngineReceive, HalfFrameIsDroppedAfterTheLineFallsIdle) {
  BoxEngine engine{BoxOptions{}};
  EXPECT_TRUE(engine.Feed(Bytes{0x68, 0x06, 0x04, 0x55}, 0).empty());
  engine.Tick(kInputIdleTimeoutUs - 1);
  EXPECT_EQ(engine.PendingInput(), 4u);
  engine.Tick(kInputIdleTimeoutUs);
  EXPECT_EQ(engine.PendingInput(), 0u);
  // Had the bytes been kept, this frame would be read as the end of the first.
  const auto replies = engine.Feed(SetFrame(0xAA, 0x33, 0, 0), kInputIdleTimeoutUs + 10);
  ASSERT_EQ(replies.size(), 1u);
  EXPECT_EQ(replies[0].bytes, Status(0x06, 0x99));
  EXPECT_EQ(engine.PowerByte(), 0x33);
  EXPECT_EQ(OfKind(Parsed(engine.TakeLog()), "drop").size(), 1u);
}

TEST(BoxEngineSet, RemembersModePowerAndCount) {
  Box box;
  EXPECT_FALSE(box.engine.Online());
  EXPECT_EQ(box.Feed(SetFrame(0x55, 0x33, 0x12, 0x34)), std::vector<Bytes>{Status(0x06, 0x99)});
  EXPECT_TRUE(box.engine.Online());
  EXPECT_EQ(box.engine.PowerByte(), 0x33);
  EXPECT_EQ(box.engine.CountBytes(), 0x1234);
  // A mode byte that is neither online nor offline is refused and changes nothing.
  EXPECT_EQ(box.Feed(SetFrame(0x12, 0x50, 0x00, 0x00)), std::vector<Bytes>{Status(0x06, 0x00)});
  EXPECT_TRUE(box.engine.Online());
  EXPECT_EQ(box.engine.PowerByte(), 0x33);
  EXPECT_EQ(box.Feed(SetFrame(0xAA, 0x50, 0x99, 0x99)), std::vector<Bytes>{Status(0x06, 0x99)});
  EXPECT_FALSE(box.engine.Online());

  const auto sets = OfKind(Parsed(box.engine.TakeLog()), "set");
  ASSERT_EQ(sets.size(), 3u);
  EXPECT_EQ(sets[0].value("mode").toString(), "55");
  EXPECT_EQ(sets[0].value("power").toString(), "33");
  EXPECT_EQ(sets[0].value("count").toString(), "1234");
  EXPECT_EQ(sets[0].value("bytes").toString(), "6806045533123416");
}

TEST(BoxEngineVerify, MatchesAfterAnOnlineLoad) {
  Box box;
  box.Feed(SetFrame(0x55, 0x50, 0, 0));
  box.Load();
  EXPECT_EQ(box.Feed(CheckFrame()), std::vector<Bytes>{Status(0x03, 0x99)});
}

TEST(BoxEngineVerify, ReportsTheFirstDifferenceWithWrittenAndReadBytes) {
  BoxOptions o;
  o.mismatchAddr = 0x1234;
  Box box(o);
  box.Feed(SetFrame(0x55, 0x50, 0, 0));
  box.Load();
  const uint8_t w = ImageByte(0x1234);
  const Bytes expected{0x68, 0x03, 0x05, 0xEE, 0x12, 0x34, w, static_cast<uint8_t>(w ^ 0x01), 0x16};
  EXPECT_EQ(box.Feed(CheckFrame()), std::vector<Bytes>{expected});
  // Erase-program-verify meets the same faulty cell.
  Bytes epc = expected;
  epc[1] = 0x05;
  EXPECT_EQ(box.Feed(EpcFrame()), std::vector<Bytes>{epc});
}

TEST(BoxEngineVerify, OfflineLoadAgainstAnErasedChipFailsAtItsFirstByte) {
  BoxOptions o;
  o.chipFill = ImageByte(0); // the first byte matches by chance
  Box box(o);
  box.Load();
  const Bytes expected{0x68, 0x03, 0x05, 0xEE, 0x00, 0x01, ImageByte(1), ImageByte(0), 0x16};
  EXPECT_EQ(box.Feed(CheckFrame()), std::vector<Bytes>{expected});
}

TEST(BoxEngineVerify, EraseProgramVerifyWritesTheLastImage) {
  Box box;
  box.Load(); // offline: the chip stays erased
  EXPECT_EQ(box.engine.Chip().Read(0x0100), 0xFF);
  EXPECT_EQ(box.Feed(EpcFrame()), std::vector<Bytes>{Status(0x05, 0x99)});
  for (size_t a = 0; a < 0x8000; ++a)
    ASSERT_EQ(box.engine.Chip().Read(static_cast<uint16_t>(a)), ImageByte(a)) << a;
  EXPECT_EQ(box.Feed(CheckFrame()), std::vector<Bytes>{Status(0x03, 0x99)});
}

TEST(BoxEngineVerify, WithoutAnImageFails) {
  Box box;
  EXPECT_EQ(box.Feed(CheckFrame()), std::vector<Bytes>{Status(0x03, 0x00)});
  EXPECT_EQ(box.Feed(EpcFrame()), std::vector<Bytes>{Status(0x05, 0x00)});
}

TEST(BoxEngineProtected, VerifyReadAndEraseProgramVerifyAnswerProtected) {
  BoxOptions o;
  o.protectedChip = true;
  Box box(o);
  box.Feed(SetFrame(0x55, 0x50, 0, 0));
  EXPECT_EQ(box.Load(), NormalLoadReplies()); // loading still works
  EXPECT_EQ(box.Feed(CheckFrame()), std::vector<Bytes>{Status(0x03, 0x11)});
  EXPECT_EQ(box.Feed(ReadFrame(0x00, 0x20, 0x00)), std::vector<Bytes>{Status(0x04, 0x11)});
  EXPECT_EQ(box.Feed(EpcFrame()), std::vector<Bytes>{Status(0x05, 0x11)});
}

TEST(BoxEngineRead, BurstsComeFromTheRightAddresses) {
  struct Case {
    uint8_t startHigh, sizeK, dataflash;
    std::vector<uint16_t> bases;
  };
  const Case cases[] = {
      {0x00, 32, 0x00, {0x0000, 0x1000, 0x2000, 0x3000, 0x4000, 0x5000, 0x6000, 0x7000}},
      {0x00, 36, 0xB0, {0xB000, 0x0000, 0x1000, 0x2000, 0x3000, 0x4000, 0x5000, 0x6000, 0x7000}},
      {0x00, 36, 0xB2, {0xB000, 0x0000, 0x1000, 0x2000, 0x3000, 0x4000, 0x5000, 0x6000, 0x7000}},
      {0x00, 12, 0x10, {0x1000, 0x0000, 0x1000}},
      {0x00, 12, 0x14, {0x1000, 0x0000, 0x1000}},
      {0x00, 8, 0xB1, {0x0000, 0x1000}}, // dataflash as EEPROM is not read first
      {0x20, 15, 0x11, {0x2000, 0x3000, 0x4000}},
      {0xF0, 8, 0x00, {0xF000, 0x0000}}, // wraps at 64 KiB
  };
  // Chip: the image online, and block 11 (B000..BFFF) as well.
  BoxOptions o;
  o.order = {1, 2, 3, 4, 5, 6, 7, 11};
  o.chipFill = 0x3C;
  Box box(o);
  box.Feed(SetFrame(0x55, 0x50, 0, 0));
  ASSERT_EQ(box.Load().back(), Status(0x00, 0x99));
  for (const auto &c : cases) {
    SCOPED_TRACE(testing::Message() << "start " << int(c.startHigh) << " size " << int(c.sizeK) << " df "
                                    << int(c.dataflash));
    box.t += 1000;
    const auto replies = box.engine.Feed(ReadFrame(c.startHigh, c.sizeK, c.dataflash), box.t);
    ASSERT_EQ(replies.size(), c.bases.size());
    for (size_t k = 0; k < replies.size(); ++k) {
      ASSERT_EQ(replies[k].bytes.size(), 4096u);
      for (size_t i = 0; i < 4096; ++i)
        ASSERT_EQ(replies[k].bytes[i], box.engine.Chip().Read(static_cast<uint16_t>(c.bases[k] + i)))
            << "burst " << k << " byte " << i;
      EXPECT_EQ(replies[k].followsPrevious, k > 0);
      const auto described = QJsonDocument::fromJson(QByteArray::fromStdString("{" + replies[k].describe + "}"));
      EXPECT_EQ(described.object().value("addr").toInt(), c.bases[k]);
    }
  }
  // Spot checks that the chip held distinct data at those places.
  EXPECT_EQ(box.engine.Chip().Read(0xB000), ImageByte(0xB000));
  EXPECT_EQ(box.engine.Chip().Read(0xF000), 0x3C);
}

TEST(BoxEngineRead, SizeBelowOneBurstFails) {
  Box box;
  EXPECT_EQ(box.Feed(ReadFrame(0x00, 3, 0x00)), std::vector<Bytes>{Status(0x04, 0x00)});
}

TEST(BoxEngineOptions, SilentBoxNeverAnswersButStillListens) {
  BoxOptions o;
  o.silent = true;
  Box box(o);
  EXPECT_TRUE(box.Feed(SetFrame(0x55, 0x50, 0, 0)).empty());
  EXPECT_TRUE(box.engine.Online());
  EXPECT_TRUE(box.Feed(LoadFrame()).empty());
  EXPECT_TRUE(box.Feed(Record(0)).empty());
  EXPECT_EQ(OfKind(Parsed(box.engine.TakeLog()), "block").size(), 1u);
}

TEST(BoxEngineOptions, ThinkTimeDelaysEachReply) {
  BoxOptions o;
  o.thinkUs = 250'000;
  BoxEngine engine(o);
  const auto replies = engine.Feed(SetFrame(0x55, 0x50, 0, 0), 1'000'000);
  ASSERT_EQ(replies.size(), 1u);
  EXPECT_EQ(replies[0].readyUs, 1'250'000);
  EXPECT_EQ(replies[0].thinkUs, 250'000);
}
