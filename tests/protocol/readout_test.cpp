#include "protocol/reply.h"

#include <gtest/gtest.h>

using namespace protocol;

namespace {

// A read-out in progress, fed burst by burst as the line delivers them.
struct ReadOut {
  OperationState state;
  chip::ChipRecord chip;
  std::vector<uint8_t> pending;
  QStringList lines;
  int stops = 0;
  int fulls = 0;

  ReadOut(const char *dataflash, const char *chipStart, const char *sizeK) {
    state.CurrentCommand = kCommandReadOut;
    chip.DataflashCode = QString::fromLatin1(dataflash);
    chip.ChipStart = QString::fromLatin1(chipStart);
    chip.ChipSizeK = QString::fromLatin1(sizeK);
  }

  ReplyActions Feed(const std::vector<uint8_t> &burst) {
    ReplyActions a = HandleReply(state, chip::ParseChipNumbers(chip), pending, false, burst.data(), burst.size());
    lines += a.readOutLines;
    stops += a.stopClocks;
    fulls += a.showFullProgress;
    return a;
  }
};

// 4096 bytes whose first byte tells the block and the rest count up.
std::vector<uint8_t> Block(uint8_t tag) {
  std::vector<uint8_t> b(image::kBlockDataSize);
  for (size_t i = 0; i < b.size(); ++i)
    b[i] = uint8_t(i);
  b[0] = tag;
  return b;
}

QString AddressOf(const QString &line) { return line.section(QStringLiteral("::"), 0, 0); }

TEST(ReadOutLineTest, AddressColonsAndSixteenBytes) {
  uint8_t bytes[16];
  for (int i = 0; i < 16; ++i)
    bytes[i] = uint8_t(i);
  const QString line = ReadOutLine(0xB000, bytes);
  EXPECT_EQ(line, QStringLiteral("B000:: 00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F "));
  EXPECT_EQ(line.size(), 55);
  // Columns stand under the header's.
  const QString header = QStringLiteral("XXXX:: 00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F    ");
  EXPECT_EQ(line.indexOf(QStringLiteral("0F")), header.indexOf(QStringLiteral("0F")));

  const uint8_t high[16] = {0xFF, 0xAB, 0x5c};
  EXPECT_EQ(ReadOutLine(0x0010, high), QStringLiteral("0010:: FF AB 5C 00 00 00 00 00 00 00 00 00 00 00 00 00 "));
  EXPECT_EQ(ReadOutLine(0x10000, high).left(8), QStringLiteral("10000:: "));
  EXPECT_EQ(ReadOutLine(0x10000, high).size(), 56);
}

TEST(ReadOutTest, DataflashAsCodeShowsTheFirstBlockAtTheDataflash) {
  ReadOut r("0xB0", "0000", "36");
  for (uint8_t k = 1; k <= 9; ++k) {
    const ReplyActions a = r.Feed(Block(k));
    EXPECT_EQ(a.readOutLines.size(), 256) << "block " << int(k);
    EXPECT_EQ(a.stopClocks, k == 9) << "block " << int(k);
    EXPECT_EQ(a.showFullProgress, k == 9) << "block " << int(k);
    EXPECT_FALSE(a.message) << "a completed read-out shows no message";
    EXPECT_EQ(r.state.ReadBlockCount, k);
  }
  ASSERT_EQ(r.lines.size(), 2304);
  EXPECT_EQ(AddressOf(r.lines[0]), QStringLiteral("B000"));
  EXPECT_EQ(r.lines[0], QStringLiteral("B000:: 01 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F "));
  EXPECT_EQ(AddressOf(r.lines[255]), QStringLiteral("BFF0"));
  EXPECT_EQ(r.lines[255], QStringLiteral("BFF0:: F0 F1 F2 F3 F4 F5 F6 F7 F8 F9 FA FB FC FD FE FF "));
  EXPECT_EQ(AddressOf(r.lines[256]), QStringLiteral("0000"));
  EXPECT_TRUE(r.lines[256].startsWith(QStringLiteral("0000:: 02 01 ")));
  EXPECT_EQ(AddressOf(r.lines[511]), QStringLiteral("0FF0"));
  EXPECT_EQ(AddressOf(r.lines[2048]), QStringLiteral("7000"));
  EXPECT_EQ(AddressOf(r.lines[2303]), QStringLiteral("7FF0"));
  EXPECT_EQ(r.state.ReadAddress, 0x8000);
  for (const auto &line : r.lines)
    ASSERT_EQ(line.size(), 55) << line.toStdString();
}

TEST(ReadOutTest, BaseAddressOfTheFirstTwoBlocksByDataflashCode) {
  struct Case {
    const char *dataflash;
    const char *first, *second, *third;
  } cases[] = {
      {"0xB0", "B000", "0400", "1400"}, {"0xB2", "B000", "0400", "1400"}, {"0x10", "1000", "0400", "1400"},
      {"0x14", "1000", "0400", "1400"}, {"0xB1", "0400", "1400", "2400"}, {"0x00", "0400", "1400", "2400"},
      {"0x15", "0400", "1400", "2400"}, {"0xb0", "0400", "1400", "2400"}, // exact, case-sensitive
      {"", "0400", "1400", "2400"},
  };
  for (const auto &c : cases) {
    ReadOut r(c.dataflash, "0400", "32");
    for (uint8_t k = 1; k <= 3; ++k)
      r.Feed(Block(k));
    ASSERT_EQ(r.lines.size(), 768) << c.dataflash;
    EXPECT_EQ(AddressOf(r.lines[0]), QString::fromLatin1(c.first)) << c.dataflash;
    EXPECT_EQ(AddressOf(r.lines[256]), QString::fromLatin1(c.second)) << c.dataflash;
    EXPECT_EQ(AddressOf(r.lines[512]), QString::fromLatin1(c.third)) << c.dataflash;
  }
}

TEST(ReadOutTest, ChipStartThatIsNotHexStartsAtZero) {
  ReadOut r("0x00", "zz", "32");
  r.Feed(Block(1));
  EXPECT_EQ(AddressOf(r.lines[0]), QStringLiteral("0000"));
}

TEST(ReadOutTest, AddressAboveFFFFHasFiveDigits) {
  ReadOut r("0x00", "F800", "32");
  r.Feed(Block(1));
  ASSERT_EQ(r.lines.size(), 256);
  EXPECT_EQ(AddressOf(r.lines[127]), QStringLiteral("FFF0"));
  EXPECT_EQ(r.lines[127].size(), 55);
  EXPECT_EQ(AddressOf(r.lines[128]), QStringLiteral("10000"));
  EXPECT_EQ(r.lines[128].size(), 56);
  EXPECT_EQ(AddressOf(r.lines[255]), QStringLiteral("107F0"));
}

TEST(ReadOutTest, SizeBelowOneBlockNeverCompletes) {
  ReadOut r("0x00", "0000", "2");
  for (int k = 1; k <= 12; ++k)
    r.Feed(Block(uint8_t(k)));
  EXPECT_EQ(r.stops, 0);
  EXPECT_EQ(r.fulls, 0);
  EXPECT_EQ(r.lines.size(), 12 * 256);
}

TEST(ReadOutTest, ThirtyTwoKiBCompletesOnTheEighthBlock) {
  ReadOut r("0x00", "0000", "32");
  for (int k = 1; k <= 8; ++k)
    EXPECT_EQ(r.Feed(Block(uint8_t(k))).stopClocks, k == 8);
}

TEST(ReadOutTest, SizeThatIsNotANumberFailsAfterCountingTheBlock) {
  for (const char *size : {"", "3 2", "K"}) {
    ReadOut r("0x00", "0000", size);
    const ReplyActions a = r.Feed(Block(1));
    EXPECT_EQ(r.state.ReadBlockCount, 1) << size;
    ASSERT_TRUE(a.conversionError) << size;
    EXPECT_EQ(*a.conversionError, QStringLiteral("'%1' is not a valid integer value").arg(QString::fromLatin1(size)));
    EXPECT_TRUE(a.readOutLines.isEmpty());
    EXPECT_FALSE(a.stopClocks);
    EXPECT_EQ(r.state.ReadAddress, 0);
    const ReplyActions b = r.Feed(Block(2));
    EXPECT_EQ(r.state.ReadBlockCount, 2) << size;
    EXPECT_TRUE(b.conversionError);
  }
}

// A block split by the line counts once and shows only the bytes the box sent,
// never bytes of an earlier, longer reply.
TEST(ReadOutTest, SplitBlockIsGatheredAndCountedOnce) {
  ReadOut r("0x00", "0000", "8");
  std::vector<uint8_t> stale(image::kBlockDataSize, 0x5A); // an earlier reply
  r.state.CurrentCommand = kCommandVerify;
  r.Feed(stale);
  r.state.CurrentCommand = kCommandReadOut;

  const auto block = Block(7);
  const std::vector<uint8_t> head(block.begin(), block.begin() + 3000);
  const std::vector<uint8_t> tail(block.begin() + 3000, block.end());
  const ReplyActions first = r.Feed(head);
  EXPECT_TRUE(first.readOutLines.isEmpty());
  EXPECT_FALSE(first.stopClocks);
  EXPECT_EQ(r.state.ReadBlockCount, 0);
  const ReplyActions second = r.Feed(tail);
  EXPECT_EQ(r.state.ReadBlockCount, 1);
  ASSERT_EQ(second.readOutLines.size(), 256);
  EXPECT_FALSE(second.stopClocks);
  for (int i = 0; i < 256; ++i)
    ASSERT_EQ(r.lines[i], ReadOutLine(uint32_t(16 * i), block.data() + 16 * i)) << "line " << i;
  EXPECT_EQ(r.lines[187], QStringLiteral("0BB0:: B0 B1 B2 B3 B4 B5 B6 B7 B8 B9 BA BB BC BD BE BF "));
  EXPECT_TRUE(r.pending.empty());
}

TEST(ReadOutTest, StatusFrameWhileABlockIsPendingEndsTheReadOut) {
  struct Case {
    std::vector<uint8_t> status;
    base::Message message;
  } cases[] = {{{0x68, 0x04, 0x01, 0x00, 0x16}, ReplyText::ReadFailed},
               {{0x68, 0x04, 0x01, 0x11, 0x16}, ReplyText::CannotReadProtected}};
  for (const auto &c : cases) {
    ReadOut r("0x00", "0000", "8");
    const auto block = Block(1);
    r.Feed(std::vector<uint8_t>(block.begin(), block.begin() + 1000));
    const ReplyActions a = r.Feed(c.status);
    EXPECT_TRUE(a.stopClocks);
    EXPECT_EQ(a.message, c.message);
    EXPECT_TRUE(a.readOutLines.isEmpty());
    EXPECT_TRUE(r.pending.empty());
  }
  // Bytes that are not shaped like a status still finish a split block.
  ReadOut r("0x00", "0000", "4");
  const auto block = Block(1);
  r.Feed(std::vector<uint8_t>(block.begin(), block.end() - 3));
  const ReplyActions a = r.Feed({0xFD, 0xFE, 0xFF});
  EXPECT_FALSE(a.message);
  EXPECT_EQ(a.readOutLines.size(), 256);
  EXPECT_TRUE(r.lines.last().endsWith(QStringLiteral("FD FE FF ")));
}

TEST(ReadOutTest, SixBytesStartABlockFiveAreAStatusReply) {
  ReadOut r("0x00", "0000", "32");
  const ReplyActions six = r.Feed({0, 0, 0, 0x00, 0, 0});
  EXPECT_FALSE(six.stopClocks);
  EXPECT_FALSE(six.message);
  EXPECT_EQ(r.pending.size(), 6u);

  ReadOut s("0x00", "0000", "32");
  const ReplyActions five = s.Feed({0x68, 0x04, 0x01, 0x00, 0x16});
  EXPECT_TRUE(five.stopClocks);
  EXPECT_EQ(five.message, ReplyText::ReadFailed);
  EXPECT_TRUE(s.pending.empty());
}

TEST(ReadOutTest, LongBurstIsOneBlockAndShiftsNothing) {
  ReadOut r("0xB0", "0000", "12");
  auto longer = Block(1);
  longer.insert(longer.end(), {0xAA, 0xBB, 0xCC}); // 4096 + 3
  const ReplyActions a = r.Feed(longer);
  EXPECT_EQ(r.state.ReadBlockCount, 1);
  ASSERT_EQ(a.readOutLines.size(), 256);
  EXPECT_EQ(AddressOf(a.readOutLines[0]), QStringLiteral("B000"));
  EXPECT_TRUE(r.pending.empty());
  // A part gathered before a whole block belongs to no block either.
  r.Feed({1, 2, 3, 4, 5, 6, 7});
  const ReplyActions b = r.Feed(Block(2));
  ASSERT_EQ(b.readOutLines.size(), 256);
  EXPECT_EQ(b.readOutLines[0], ReadOutLine(0x0000, Block(2).data()));
  EXPECT_EQ(r.state.ReadBlockCount, 2);
  EXPECT_TRUE(r.pending.empty());
}

// A reader held up past the silence takes the blocks the box sent meanwhile
// as one burst: each counts, at its own address, and the read-out ends on
// the last.
TEST(ReadOutTest, BlocksTakenAsOneBurstEachCount) {
  ReadOut r("0x00", "0000", "12");
  r.Feed(Block(1));
  std::vector<uint8_t> two = Block(2);
  const auto third = Block(3);
  two.insert(two.end(), third.begin(), third.end());
  two.push_back(0xAA); // beyond the last whole block: no block's
  const ReplyActions a = r.Feed(two);
  EXPECT_EQ(r.state.ReadBlockCount, 3);
  ASSERT_EQ(a.readOutLines.size(), 512);
  EXPECT_EQ(a.readOutLines[0], ReadOutLine(0x1000, Block(2).data()));
  EXPECT_EQ(a.readOutLines[256], ReadOutLine(0x2000, Block(3).data()));
  EXPECT_TRUE(a.stopClocks);
  EXPECT_EQ(a.end, Outcome::Ok);
  EXPECT_TRUE(r.pending.empty());
}

TEST(ReadOutTest, BytesBeyondTheLastBlockAreDroppedSoAStatusReadsAsStatus) {
  ReadOut r("0x00", "0000", "4");
  auto block = Block(1);
  block.push_back(0xAA); // a trailing byte belongs to no block
  r.Feed(block);
  EXPECT_TRUE(r.pending.empty());
  const ReplyActions a = r.Feed({0x68, 0x04, 0x01, 0x11, 0x16});
  EXPECT_EQ(a.message, ReplyText::CannotReadProtected);
}

TEST(ReadOutTest, ContinuesAfterCompletionAsLongAsDataComes) {
  ReadOut r("0x00", "0000", "4");
  r.Feed(Block(1));
  const ReplyActions a = r.Feed(Block(2));
  EXPECT_EQ(r.state.ReadBlockCount, 2);
  EXPECT_FALSE(a.stopClocks);
  EXPECT_EQ(AddressOf(a.readOutLines[0]), QStringLiteral("1000"));
}

} // namespace
