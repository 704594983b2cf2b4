#include "base/exception.h"
#include "protocol/frames.h"

#include <gtest/gtest.h>

using namespace protocol;

namespace {

Frame Bytes(std::initializer_list<int> values) {
  Frame f;
  for (int v : values)
    f.push_back(uint8_t(v));
  return f;
}

struct CountCase {
  int32_t count;
  uint8_t high, low;
};

class PackedCountTest : public ::testing::TestWithParam<CountCase> {};

TEST_P(PackedCountTest, CountBecomesTwoPackedDecimalBytes) {
  const auto &c = GetParam();
  const Frame frame = SetCmd(base::BoxMode::Offline, base::BoxSupply::FiveVolts, c.count);
  ASSERT_EQ(frame.size(), 8u);
  EXPECT_EQ(frame[5], c.high) << c.count;
  EXPECT_EQ(frame[6], c.low) << c.count;
}

INSTANTIATE_TEST_SUITE_P(Examples, PackedCountTest,
                         ::testing::Values(CountCase{1234, 0x12, 0x34}, CountCase{123, 0x01, 0x23},
                                           CountCase{56, 0x00, 0x56}, CountCase{0, 0x00, 0x00},
                                           CountCase{9999, 0x99, 0x99}, CountCase{100, 0x01, 0x00},
                                           CountCase{7, 0x00, 0x07}, CountCase{1000, 0x10, 0x00},
                                           CountCase{9, 0x00, 0x09}));

TEST(SetCmdTest, ModeAndPowerBytes) {
  using base::BoxMode;
  using base::BoxSupply;
  struct Case {
    BoxMode mode;
    BoxSupply supply;
    uint8_t modeByte, powerByte;
  } cases[] = {
      {BoxMode::Online, BoxSupply::NoOutput, 0x55, 0x33},
      {BoxMode::Online, BoxSupply::FiveVolts, 0x55, 0x50},
      {BoxMode::Offline, BoxSupply::FiveVolts, 0xAA, 0x50}, // the window's start-up choices
      {BoxMode::Offline, BoxSupply::Unchosen, 0xAA, 0x00},
  };
  for (const auto &c : cases) {
    EXPECT_EQ(SetCmd(c.mode, c.supply, 1234), Bytes({0x68, 0x06, 0x04, c.modeByte, c.powerByte, 0x12, 0x34, 0x16}))
        << "mode " << int(c.mode) << " supply " << int(c.supply);
  }
}

TEST(SetCmdTest, OnlineNoOutputWholeFrame) {
  EXPECT_EQ(SetCmd(base::BoxMode::Online, base::BoxSupply::NoOutput, 0),
            Bytes({0x68, 0x06, 0x04, 0x55, 0x33, 0x00, 0x00, 0x16}));
}

TEST(FixedFramesTest, CheckEraseProgramVerifyAndLoadAnnounce) {
  EXPECT_EQ(CheckCmd(), Bytes({0x68, 0x03, 0x00, 0x16}));
  EXPECT_EQ(EPCCmd(), Bytes({0x68, 0x05, 0x00, 0x16}));
  EXPECT_EQ(LoadCmd(), Bytes({0x68, 0x00, 0x02, 0x08, 0x00, 0x16}));
}

TEST(ReadCmdTest, StartHighSizeKAndDataflashCode) {
  struct Case {
    const char *chipStart;
    uint32_t imageSize;
    const char *dataflash;
    uint8_t startHigh, sizeK, code;
  } cases[] = {
      {"8000", 65536, "0x14", 0x80, 0x40, 0x14},
      {"0000", 32768, "0x00", 0x00, 0x20, 0x00}, // after a load
      {"0000", 36864, "0xB0", 0x00, 0x24, 0xB0},
      {"0000", 32768, "0xB1", 0x00, 0x20, 0xB1},
      {"", 0, "", 0x00, 0x00, 0x00},                         // nothing chosen or loaded
      {"zz00", 1023, "0xQQ", 0x00, 0x00, 0x00},              // not hex counts as 0; size rounds down
      {"FF00", 256 * 1024 + 1024, "0x10", 0xFF, 0x01, 0x10}, // size-K keeps its low 8 bits
  };
  for (const auto &c : cases) {
    EXPECT_EQ(ReadCmd(QString::fromLatin1(c.chipStart), c.imageSize, QString::fromLatin1(c.dataflash)),
              Bytes({0x68, 0x04, 0x03, c.startHigh, c.sizeK, c.code, 0x16}))
        << c.chipStart << " " << c.imageSize << " " << c.dataflash;
  }
}

TEST(ReadCmdTest, StartHighIsTheFirstTwoCharacters) {
  EXPECT_EQ(StartHighOf(QStringLiteral("8000")), QStringLiteral("80"));
  EXPECT_EQ(StartHighOf(QStringLiteral("B")), QStringLiteral("B"));
  EXPECT_EQ(StartHighOf(QString()), QString());
}

} // namespace
