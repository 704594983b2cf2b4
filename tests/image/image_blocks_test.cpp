// Block records byte by byte, the checksum caption and the dump lines.
#include "hex_test_support.h"

#include "image/file_view.h"
#include "image/hex_reader.h"
#include "image/image_blocks.h"

#include <gtest/gtest.h>

using namespace image;

using namespace hex_test;

namespace {

std::vector<uint8_t> Slot(const std::vector<uint8_t> &blocks, uint32_t n) {
  auto begin = blocks.begin() + std::ptrdiff_t(n) * kBlockSlotSize;
  return {begin, begin + kBlockSlotSize};
}

std::vector<uint8_t> Field(const std::vector<uint8_t> &blocks, uint32_t n, size_t offset, size_t size) {
  auto begin = blocks.begin() + std::ptrdiff_t(n) * kBlockSlotSize + std::ptrdiff_t(offset);
  return {begin, begin + std::ptrdiff_t(size)};
}

std::vector<uint8_t> ZeroBlocks() { return std::vector<uint8_t>(size_t(kBlockSlots) * kBlockSlotSize, 0); }

// 32 KiB of `value`, then zeros up to the end of the table.
std::vector<uint8_t> ImageOf(uint8_t value) {
  std::vector<uint8_t> image(kImageAddressSpace, 0);
  std::fill_n(image.begin(), 32768, value);
  return image;
}

BlockTrailer DefaultTrailer() {
  return {MakeNameField(QStringLiteral("/fw/app.hex")), MakeCountField(QStringLiteral("999999")), 0xFFFFFFFF};
}

TEST(Blocks, AllZeroImage) {
  const auto image = ImageOf(0x00);
  auto blocks = ZeroBlocks();
  const uint32_t checksum = BuildBlocks(image, 32768, QStringLiteral("0000"), DefaultTrailer(), blocks);
  EXPECT_EQ(checksum, 0u);
  EXPECT_EQ(CheckSumCaption(checksum), QStringLiteral("CheckSum:  0x00000000"));
  for (uint32_t n = 0; n < 8; ++n) {
    EXPECT_EQ(blocks[n * kBlockSlotSize + 0], n);
    EXPECT_EQ(blocks[n * kBlockSlotSize + 1], 0x10 * n);
    EXPECT_EQ(Field(blocks, n, kBlockSumOffset, 4), (std::vector<uint8_t>{0, 0, 0, 0}));
  }
}

TEST(Blocks, AllFFImage) {
  const auto image = ImageOf(0xFF);
  auto blocks = ZeroBlocks();
  const uint32_t checksum = BuildBlocks(image, 32768, QStringLiteral("0000"), DefaultTrailer(), blocks);
  EXPECT_EQ(checksum, 0x007F8000u);
  EXPECT_EQ(CheckSumCaption(checksum), QStringLiteral("CheckSum:  0x007F8000"));
  for (uint32_t n = 0; n < 8; ++n) {
    EXPECT_EQ(Field(blocks, n, kBlockSumOffset, 4), (std::vector<uint8_t>{0x00, 0x0F, 0xF0, 0x00}));
    const auto data = Field(blocks, n, kBlockDataOffset, kBlockDataSize);
    EXPECT_EQ(data, std::vector<uint8_t>(kBlockDataSize, 0xFF));
  }
}

TEST(Blocks, LayoutOfEveryFieldAndTheUntouchedSlots) {
  // Each byte's value is its address's low byte plus its block number, and
  // a byte in the table beyond the image that no block takes.
  std::vector<uint8_t> image(kImageAddressSpace, 0);
  uint32_t expectedSum = 0;
  for (uint32_t a = 0; a < 32768; ++a) {
    image[a] = uint8_t(a + a / 4096);
    expectedSum += image[a];
  }
  image[0x8000] = 0xFF;

  auto blocks = ZeroBlocks();
  const BlockTrailer trailer{MakeNameField(QStringLiteral("C:\\fw\\app.b.hex")), MakeCountField(QStringLiteral("123")),
                             0x80000001};
  const uint32_t checksum = BuildBlocks(image, 32768, QStringLiteral("0000"), trailer, blocks);
  EXPECT_EQ(checksum, expectedSum);

  uint32_t sumOfBlockSums = 0;
  for (uint32_t n = 0; n < 8; ++n) {
    const auto slot = Slot(blocks, n);
    EXPECT_EQ(slot[0], n);
    EXPECT_EQ(slot[1], 0x10 * n);
    uint32_t sum = 0;
    for (uint32_t i = 0; i < kBlockDataSize; ++i) {
      const uint8_t expected = image[n * kBlockDataSize + i];
      ASSERT_EQ(slot[2 + i], expected) << "block " << n << " byte " << i;
      sum += expected;
    }
    sumOfBlockSums += sum;
    EXPECT_EQ(slot[4098], uint8_t(sum >> 24));
    EXPECT_EQ(slot[4099], uint8_t(sum >> 16));
    EXPECT_EQ(slot[4100], uint8_t(sum >> 8));
    EXPECT_EQ(slot[4101], uint8_t(sum));
    EXPECT_EQ(std::vector<uint8_t>(slot.begin() + 4102, slot.begin() + 4110),
              (std::vector<uint8_t>{'a', 'p', 'p', '.', 'b', 0, 0, 0}));
    EXPECT_EQ(std::vector<uint8_t>(slot.begin() + 4110, slot.begin() + 4116), (std::vector<uint8_t>{0, 0, 0, 1, 2, 3}));
    EXPECT_EQ(std::vector<uint8_t>(slot.begin() + 4116, slot.begin() + 4120),
              (std::vector<uint8_t>{0x80, 0x00, 0x00, 0x01}));
    EXPECT_EQ(std::vector<uint8_t>(slot.begin() + 4120, slot.end()), (std::vector<uint8_t>{0, 0, 0}));
  }
  EXPECT_EQ(sumOfBlockSums, checksum);
  for (uint32_t n = 8; n < kBlockSlots; ++n)
    EXPECT_EQ(Slot(blocks, n), std::vector<uint8_t>(kBlockSlotSize, 0)) << "slot " << n;
}

TEST(Blocks, SecondBuildRebuildsEveryBlock) {
  auto first = ImageOf(0xA5);
  auto blocks = ZeroBlocks();
  BuildBlocks(first, 32768, QStringLiteral("0000"), DefaultTrailer(), blocks);

  std::vector<uint8_t> second(kImageAddressSpace, 0);
  for (uint32_t a = 0; a < 32768; ++a)
    second[a] = uint8_t(a * 7 + 3);
  const BlockTrailer trailer{MakeNameField(QStringLiteral("b.hex")), MakeCountField(QStringLiteral("")), 0};
  BuildBlocks(second, 32768, QStringLiteral("0000"), trailer, blocks);

  auto fresh = ZeroBlocks();
  BuildBlocks(second, 32768, QStringLiteral("0000"), trailer, fresh);
  EXPECT_EQ(blocks, fresh);
}

TEST(Blocks, AddressHighByteFollowsTheChipStart) {
  struct Case {
    const char *chipStart;
    std::vector<uint8_t> highBytes;
  };
  const std::vector<Case> cases = {
      {"0000", {0x00, 0x10, 0x20, 0x30, 0x40, 0x50, 0x60, 0x70}},
      {"1000", {0x10, 0x20, 0x30, 0x40, 0x50, 0x60, 0x70, 0x80}},
      {"C000", {0xC0, 0xD0, 0xE0, 0xF0, 0x00, 0x10, 0x20, 0x30}}, // modulo 256
      {"", {0x00, 0x10, 0x20, 0x30, 0x40, 0x50, 0x60, 0x70}},
      {"XY00", {0x00, 0x10, 0x20, 0x30, 0x40, 0x50, 0x60, 0x70}},
  };
  const auto image = ImageOf(0x00);
  for (const auto &c : cases) {
    auto blocks = ZeroBlocks();
    BuildBlocks(image, 32768, QString::fromLatin1(c.chipStart), DefaultTrailer(), blocks);
    std::vector<uint8_t> got;
    for (uint32_t n = 0; n < 8; ++n)
      got.push_back(blocks[n * kBlockSlotSize + 1]);
    EXPECT_EQ(got, c.highBytes) << c.chipStart;
  }
}

TEST(Blocks, ImageSizeDecidesHowManySlotsAreFilled) {
  const auto image = ImageOf(0x01);
  for (uint32_t size : {0u, 4095u, 4096u, 12288u, 65536u}) {
    auto blocks = ZeroBlocks();
    BuildBlocks(image, size, QStringLiteral("0000"), DefaultTrailer(), blocks);
    for (uint32_t n = 0; n < kBlockSlots; ++n) {
      const bool filled = n < size / 4096;
      EXPECT_EQ(blocks[n * kBlockSlotSize + 4119] == 0xFF, filled) << size << " slot " << n;
    }
  }
}

TEST(Blocks, CountField) {
  struct Case {
    const char *text;
    CountField bytes;
  };
  const std::vector<Case> cases = {
      {"123", {0, 0, 0, 1, 2, 3}}, {"999999", {9, 9, 9, 9, 9, 9}}, {"", {0, 0, 0, 0, 0, 0}},
      {"7", {0, 0, 0, 0, 0, 7}},   {"000010", {0, 0, 0, 0, 1, 0}}, {"1234567", {2, 3, 4, 5, 6, 7}},
      {"1a2", {0, 0, 0, 1, 0, 2}},
  };
  for (const auto &c : cases)
    EXPECT_EQ(MakeCountField(QString::fromLatin1(c.text)), c.bytes) << c.text;
}

TEST(Blocks, NameField) {
  struct Case {
    const char *path;
    const char *base;
    NameField bytes;
  };
  const std::vector<Case> cases = {
      {"/home/op/app.b.hex", "app.b", {'a', 'p', 'p', '.', 'b', 0, 0, 0}},
      {"C:\\fw\\application.hex", "application", {'a', 'p', 'p', 'l', 'i', 'c', 'a', 't'}},
      {"firmware", "firmware", {'f', 'i', 'r', 'm', 'w', 'a', 'r', 'e'}},
      {"/a.b/noext", "noext", {'n', 'o', 'e', 'x', 't', 0, 0, 0}},
      {"/fw/.hex", "", {0, 0, 0, 0, 0, 0, 0, 0}},
      {"D:/x\\y/ab.HEX", "ab", {'a', 'b', 0, 0, 0, 0, 0, 0}},
  };
  for (const auto &c : cases) {
    EXPECT_EQ(BaseName(QString::fromLatin1(c.path)), QString::fromLatin1(c.base)) << c.path;
    EXPECT_EQ(MakeNameField(QString::fromLatin1(c.path)), c.bytes) << c.path;
  }
}

TEST(Blocks, NameFieldIsCodePage936WithoutSplittingACharacter) {
  struct Case {
    const char16_t *path;
    NameField bytes;
  };
  const std::vector<Case> cases = {
      // 端口 is B6CB BFDA; "固件" is B9CC BCFE.
      {u"/fw/端口.hex", {0xB6, 0xCB, 0xBF, 0xDA, 0, 0, 0, 0}},
      {u"/fw/a端口固件.hex", {'a', 0xB6, 0xCB, 0xBF, 0xDA, 0xB9, 0xCC, 0}}, // 件 would be split: cut before it
      {u"/fw/端口固件x.hex", {0xB6, 0xCB, 0xBF, 0xDA, 0xB9, 0xCC, 0xBC, 0xFE}},
      {u"/fw/ab\U0001F600.hex", {'a', 'b', '?', 0, 0, 0, 0, 0}}, // not in the code page
      {u"/fw/\u00B0C.hex", {0xA1, 0xE3, 'C', 0, 0, 0, 0, 0}},    // a sign outside CJK
      // A lone surrogate is one "?" and leaves the next character to itself.
      {u"/fw/\xD800\x0E01.hex", {'?', '?', 0, 0, 0, 0, 0, 0}},
      {u"/fw/abcdef\xD800\x4E2D.hex", {'a', 'b', 'c', 'd', 'e', 'f', '?', 0}},
  };
  for (const auto &c : cases) {
    const QString path = QStringView(c.path).toString();
    EXPECT_EQ(MakeNameField(path), c.bytes) << path.toStdString();
  }
}

TEST(Blocks, SectorMaskBytesMostSignificantFirst) {
  struct Case {
    uint32_t mask;
    std::vector<uint8_t> bytes;
  };
  const std::vector<Case> cases = {
      {0x00000001, {0x00, 0x00, 0x00, 0x01}}, {0x80000000, {0x80, 0x00, 0x00, 0x00}},
      {0xFFFFFFFF, {0xFF, 0xFF, 0xFF, 0xFF}}, {0x00000000, {0x00, 0x00, 0x00, 0x00}},
      {0x12345678, {0x12, 0x34, 0x56, 0x78}},
  };
  const auto image = ImageOf(0x00);
  for (const auto &c : cases) {
    auto blocks = ZeroBlocks();
    BlockTrailer trailer = DefaultTrailer();
    trailer.sectorMask = c.mask;
    BuildBlocks(image, 32768, QStringLiteral("0000"), trailer, blocks);
    for (uint32_t n = 0; n < 8; ++n)
      EXPECT_EQ(Field(blocks, n, kBlockMaskOffset, 4), c.bytes) << std::hex << c.mask << " block " << n;
  }
}

TEST(Blocks, WhatTheTransferSends) {
  std::vector<uint8_t> image(kImageAddressSpace, 0);
  for (uint32_t a = 0; a < 32768; ++a)
    image[a] = uint8_t(a / 128);
  auto blocks = ZeroBlocks();
  BuildBlocks(image, 32768, QStringLiteral("0000"), DefaultTrailer(), blocks);

  const auto first = FirstBlockBytes(blocks);
  ASSERT_EQ(first.size(), 4120u);
  EXPECT_EQ(std::vector<uint8_t>(first.begin(), first.end()), Field(blocks, 0, 0, 4120));

  const auto third = RequestedBlockBytes(blocks, 3);
  ASSERT_EQ(third.size(), 4102u);
  EXPECT_EQ(third[0], 0x03);
  EXPECT_EQ(third[1], 0x30);
  EXPECT_EQ(third.data(), blocks.data() + 3 * 4123);
  EXPECT_EQ(std::vector<uint8_t>(third.begin(), third.end()), Field(blocks, 3, 0, 4102));

  const auto unfilled = RequestedBlockBytes(blocks, 8);
  ASSERT_EQ(unfilled.size(), 4102u);
  EXPECT_EQ(std::vector<uint8_t>(unfilled.begin(), unfilled.end()), std::vector<uint8_t>(4102, 0));
  EXPECT_EQ(RequestedBlockBytes(blocks, 15).data(), blocks.data() + 15 * 4123);
  EXPECT_TRUE(RequestedBlockBytes(blocks, 16).empty());
  EXPECT_TRUE(RequestedBlockBytes(blocks, 255).empty());
}

TEST(Dump, LinesOfTheImage) {
  std::vector<std::string> image(kImageAddressSpace, "$00");
  const std::vector<std::string> record = {"$10", "$ab", "$Cd", "$EF", "$01", "$23", "$45", "$67",
                                           "$89", "$9a", "$bc", "$de", "$f0", "$G1", "$22", "$33"};
  for (size_t i = 0; i < record.size(); ++i)
    image[0x0100 + i] = record[i];
  image[0x8000] = "$FF"; // outside the image: never shown

  const QStringList lines = DumpLines(image, 32768, QStringLiteral("0000"));
  ASSERT_EQ(lines.size(), 2048);
  for (const QString &line : lines)
    ASSERT_EQ(line.size(), 55) << line.toStdString();
  EXPECT_EQ(lines[0], QStringLiteral("0000:: 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 "));
  EXPECT_EQ(lines[16], QStringLiteral("0100:: 10 ab Cd EF 01 23 45 67 89 9a bc de f0 G1 22 33 "));
  EXPECT_EQ(lines[17], QStringLiteral("0110:: 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 "));
  EXPECT_TRUE(lines[2047].startsWith(QStringLiteral("7FF0:: ")));

  const QStringList shifted = DumpLines(image, 4096, QStringLiteral("b000"));
  ASSERT_EQ(shifted.size(), 256);
  EXPECT_TRUE(shifted[0].startsWith(QStringLiteral("B000:: ")));
  EXPECT_TRUE(shifted[255].startsWith(QStringLiteral("BFF0:: ")));
  EXPECT_TRUE(DumpLines(image, 0, QStringLiteral("0000")).isEmpty());
}

} // namespace
