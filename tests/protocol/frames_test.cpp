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
  const char *text;
  uint8_t high, low;
};

class PackedCountTest : public ::testing::TestWithParam<CountCase> {};

TEST_P(PackedCountTest, CountTextBecomesTwoPackedDecimalBytes) {
  const auto &c = GetParam();
  const Frame frame = SetCmd(1, 0, QString::fromLatin1(c.text));
  ASSERT_EQ(frame.size(), 8u);
  EXPECT_EQ(frame[5], c.high) << c.text;
  EXPECT_EQ(frame[6], c.low) << c.text;
}

INSTANTIATE_TEST_SUITE_P(Examples, PackedCountTest,
                         ::testing::Values(CountCase{"1234", 0x12, 0x34}, CountCase{"123", 0x01, 0x23},
                                           CountCase{"56", 0x00, 0x56}, CountCase{"0000", 0x00, 0x00},
                                           CountCase{"9999", 0x99, 0x99}, CountCase{"0100", 0x01, 0x00},
                                           CountCase{"7", 0x00, 0x07}, CountCase{"1000", 0x10, 0x00},
                                           CountCase{"0009", 0x00, 0x09}));

TEST(SetCmdTest, ModeAndPowerFollowTheSelectedItems) {
  struct Case {
    int mode, power;
    uint8_t modeByte, powerByte;
  } cases[] = {
      {0, 1, 0x55, 0x33},  // Online, Nooutput
      {0, 0, 0x55, 0x50},  // Online, 5V
      {1, 0, 0xAA, 0x50},  // Offline (the default), 5V
      {1, -1, 0xAA, 0x00}, // no power item selected
      {-1, 1, 0xAA, 0x33}, // no mode item selected counts as Offline
  };
  for (const auto &c : cases) {
    EXPECT_EQ(SetCmd(c.mode, c.power, QStringLiteral("1234")),
              Bytes({0x68, 0x06, 0x04, c.modeByte, c.powerByte, 0x12, 0x34, 0x16}))
        << "mode " << c.mode << " power " << c.power;
  }
}

TEST(SetCmdTest, OnlineNoOutputWholeFrame) {
  EXPECT_EQ(SetCmd(0, 1, QStringLiteral("0000")), Bytes({0x68, 0x06, 0x04, 0x55, 0x33, 0x00, 0x00, 0x16}));
}

TEST(SetCmdTest, CountThatIsNotADecimalNumberRaisesTheConversionError) {
  for (const char *text : {"", "12a4", "abcd", " ", "1 2"}) {
    try {
      SetCmd(0, 0, QString::fromLatin1(text));
      ADD_FAILURE() << "no error for '" << text << "'";
    } catch (const base::EConvertError &e) {
      EXPECT_EQ(e.Message(), QStringLiteral("'%1' is not a valid integer value").arg(QString::fromLatin1(text)));
    }
  }
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
