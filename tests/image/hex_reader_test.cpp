// The HEX reader over files made by real tools and over the awkward cases.
#include "hex_test_support.h"

#include "image/hex_reader.h"
#include "image/load_messages.h"
#include "support/test_helpers.h"

#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <random>

using namespace image;

using namespace hex_test;
using Status = HexReadResult::Status;

namespace {

// In the source tree the build names: __FILE__ is relative under some generators,
// so it would depend on the folder the tests start in.
QString Fixture(const QString &name) { return SourcePath(QStringLiteral("tests/image/fixtures/") + name); }

HexReadResult Read(const std::string &text, ImageTable &image) { return ReadHex(Bytes(text), image, 32768); }

// ---------------------------------------------------------------------------
// Files made by srec_cat and objcopy, kept as fixtures with the tools' own
// binary output of them.

struct ToolFile {
  const char *hex;
  const char *binary;
  uint32_t base;        // address of the binary's first byte
  uint32_t dataBytes;   // data bytes in the file
  uint32_t dataRecords; // type-0 records in the file
  uint32_t records;     // records of every type
  uint32_t leftOut;     // data bytes from 0x8000 up
};

// Names the case in CTest's list rather than its bytes.
void PrintTo(const ToolFile &f, std::ostream *os) { *os << f.hex; }

class ToolFiles : public ::testing::TestWithParam<ToolFile> {};

TEST_P(ToolFiles, ImageEqualsTheToolsOwnBinaryZeroFilled) {
  const ToolFile &f = GetParam();
  const QByteArray hex = ReadWhole(Fixture(QString::fromLatin1(f.hex)));
  const QByteArray binary = ReadWhole(Fixture(QString::fromLatin1(f.binary)));
  ASSERT_FALSE(hex.isEmpty()) << f.hex;
  ASSERT_FALSE(binary.isEmpty()) << f.binary;

  auto image = FreshImage();
  const HexReadResult r = ReadHex(Bytes(hex), image, 32768);
  ASSERT_EQ(r.status, Status::Ok) << LoadErrorText(r).toStdString();
  EXPECT_EQ(Values(image), ZeroFilledImage(binary, f.base));
  EXPECT_EQ(r.dataBytes, f.dataBytes);
  EXPECT_EQ(r.dataRecords, f.dataRecords);
  EXPECT_EQ(r.records, f.records);
  EXPECT_EQ(r.BytesLeftOut(), f.leftOut);
  EXPECT_EQ(r.bytesDropped, 0u);
}

INSTANTIATE_TEST_SUITE_P(Fixtures, ToolFiles,
                         ::testing::Values(
                             // CR LF, 16-byte records, a type-3 start record before the end record.
                             ToolFile{"objcopy_16_crlf.hex", "objcopy_16_crlf.bin", 0x0100, 3000, 188, 190, 0},
                             // LF, 32-byte records, type 4 first, type 5 before the end record.
                             ToolFile{"srec_32_lf.hex", "srec_32_lf.bin", 0, 2500, 79, 82, 0},
                             // LF, lower-case digits.
                             ToolFile{"srec_16_lower.hex", "srec_16_lower.bin", 0x1000, 3000, 188, 190, 0},
                             // Two files joined, each ending in type 5 and type 1: the second is read too.
                             ToolFile{"joined.hex", "joined.bin", 0, 3072, 96, 102, 0},
                             // 512 bytes from 0x7F00: 256 of them lie beyond the 32 KiB image.
                             ToolFile{"high.hex", "high.bin", 0x7F00, 512, 16, 18, 256}),
                         [](const auto &info) {
                           std::string name = info.param.hex;
                           return name.substr(0, name.find('.'));
                         });

TEST(HexReader, LowerCaseDigitsAreKeptInTheTable) {
  const QByteArray hex = ReadWhole(Fixture(QStringLiteral("srec_16_lower.hex")));
  auto image = FreshImage();
  ASSERT_TRUE(ReadHex(Bytes(hex), image, 32768).Ok());
  // The first record's data, as the file spells it.
  const qsizetype first = hex.indexOf(":10100000");
  ASSERT_GE(first, 0);
  for (int i = 0; i < 16; ++i) {
    const std::string expected = "$" + hex.mid(first + 9 + 2 * i, 2).toStdString();
    EXPECT_EQ(image.Entry(0x1000 + size_t(i)), expected);
  }
  bool sawLowerLetter = false;
  for (uint32_t a = 0x1000; a < 0x1000 + 3000; ++a) {
    for (char c : image.Entry(a).substr(1)) {
      EXPECT_FALSE(c >= 'A' && c <= 'F') << "address " << a;
      sawLowerLetter |= c >= 'a' && c <= 'f';
    }
  }
  EXPECT_TRUE(sawLowerLetter);
}

// ---------------------------------------------------------------------------
// Line ends and what stands between records: every variant of the same CR LF
// file gives the same image.

struct Layout {
  const char *name;
  std::function<QByteArray(QByteArray)> transform;
};

void PrintTo(const Layout &l, std::ostream *os) { *os << l.name; }

class Layouts : public ::testing::TestWithParam<Layout> {};

TEST_P(Layouts, ReadTheWholeFile) {
  const QByteArray original = ReadWhole(Fixture(QStringLiteral("objcopy_16_crlf.hex")));
  ASSERT_TRUE(original.contains("\r\n"));
  auto expected = FreshImage();
  const HexReadResult base = ReadHex(Bytes(original), expected, 32768);
  ASSERT_TRUE(base.Ok());

  auto image = FreshImage();
  const HexReadResult r = ReadHex(Bytes(GetParam().transform(original)), image, 32768);
  ASSERT_EQ(r.status, Status::Ok) << LoadErrorText(r).toStdString();
  EXPECT_EQ(image, expected);
  EXPECT_EQ(r.records, base.records);
  EXPECT_EQ(r.dataBytes, 3000u);
}

QByteArray Replace(QByteArray text, const char *from, const char *to) { return text.replace(from, to); }

INSTANTIATE_TEST_SUITE_P(
    LineEnds, Layouts,
    ::testing::Values(Layout{"CrLf", [](QByteArray t) { return t; }},
                      Layout{"LfOnly", [](QByteArray t) { return Replace(t, "\r\n", "\n"); }},
                      Layout{"CrOnly", [](QByteArray t) { return Replace(t, "\r\n", "\r"); }},
                      Layout{"ByteOrderMark", [](QByteArray t) { return QByteArray("\xEF\xBB\xBF") + t; }},
                      Layout{"LeadingEmptyLine", [](QByteArray t) { return QByteArray("\r\n") + t; }},
                      Layout{"BlankLinesBetween", [](QByteArray t) { return Replace(t, "\r\n", "\r\n\r\n \t\n\r"); }},
                      Layout{"TrailingBlanksAndTabs", [](QByteArray t) { return Replace(t, "\r\n", " \t \r\n"); }},
                      Layout{"NoFinalLineEnd", [](QByteArray t) { return t.chopped(2); }},
                      Layout{"DosEndOfFileMark", [](QByteArray t) { return t + "\x1A"; }}),
    [](const auto &info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------
// Record types.

TEST(HexReader, StartAddressRecordIsCheckedAndReadingGoesOn) {
  // Type 4, data, a type-5 record with four bytes, data, type 1, data.
  const std::string text = Record(0, 4, {0x00, 0x00}) + "\r\n" + Record(0x0000, 0, {0x11, 0x22}) + "\r\n" +
                           Record(0, 5, {0x00, 0x00, 0x01, 0x00}) + "\r\n" + Record(0x0010, 0, {0x33}) + "\r\n" +
                           Record(0, 1, {}) + "\r\n" + Record(0x0020, 0, {0x44}) + "\r\n";
  auto image = FreshImage();
  const HexReadResult r = Read(text, image);
  ASSERT_TRUE(r.Ok());
  EXPECT_EQ(image.Entry(0x0000), "$11");
  EXPECT_EQ(image.Entry(0x0001), "$22");
  EXPECT_EQ(image.Entry(0x0010), "$33"); // after type 5
  EXPECT_EQ(image.Entry(0x0020), "$44"); // after type 1
  EXPECT_EQ(r.records, 6u);
  EXPECT_EQ(r.dataRecords, 3u);
  EXPECT_EQ(r.dataBytes, 4u);
}

TEST(HexReader, TypeFiveThenTypeOneReadsBoth) {
  const std::string text =
      Record(0x0100, 0, {0xAB}) + "\r\n" + Record(0, 5, {0, 0, 0x01, 0}) + "\r\n" + Record(0, 1, {}) + "\r\n";
  auto image = FreshImage();
  const HexReadResult r = Read(text, image);
  ASSERT_TRUE(r.Ok());
  EXPECT_EQ(r.records, 3u);
  EXPECT_EQ(image.Entry(0x0100), "$AB");
}

TEST(HexReader, BadChecksumInANonDataRecordIsCaught) {
  for (uint8_t type : {1, 2, 3, 4, 5, 0x42}) {
    const std::vector<uint8_t> data = type == 1 ? std::vector<uint8_t>{} : std::vector<uint8_t>{0x12, 0x34};
    const uint8_t right = ChecksumOf(0, type, data);
    const std::string text = Record(0x0000, 0, {0x01}) + "\r\n" + Record(0, type, data, uint8_t(right + 1)) + "\r\n";
    auto image = FreshImage();
    const HexReadResult r = Read(text, image);
    EXPECT_EQ(r.status, Status::ChecksumError) << int(type);
    EXPECT_EQ(r.expectedChecksum, right) << int(type);
  }
}

TEST(HexReader, ExtendedAddressIsNotApplied) {
  // Upper address 0800: the record passes its checksum F2 and changes nothing.
  const std::string ext = ":020000040800F2";
  EXPECT_EQ(ext, Record(0, 4, {0x08, 0x00}));
  const std::string text = ext + "\r\n" + Record(0x0200, 0, {0x5A, 0xA5}) + "\r\n" + Record(0, 1, {}) + "\r\n";
  auto image = FreshImage();
  const HexReadResult r = Read(text, image);
  ASSERT_TRUE(r.Ok());
  EXPECT_EQ(image.Entry(0x0200), "$5A");
  EXPECT_EQ(image.Entry(0x0201), "$A5");
  EXPECT_EQ(r.BytesLeftOut(), 0u);
}

// Data records of `size` bytes of `value` from `from`, 16 to a record.
std::string Block(uint16_t from, uint32_t size, uint8_t value) {
  std::string text;
  for (uint32_t done = 0; done < size; done += 16)
    text += Record(uint16_t(from + done), 0, std::vector<uint8_t>(std::min(16u, size - done), value)) + "\r\n";
  return text;
}

std::string Upper(uint8_t type, uint16_t value) {
  return Record(0, type, {uint8_t(value >> 8), uint8_t(value)}) + "\r\n";
}

TEST(HexReader, DataUnderDifferentUpperAddressesMustNotMeet) {
  const QString clash = QStringLiteral("文件加载错误，地址 %1 与 %2 的数据落在同一地址 %3（不支持扩展地址），未加载");
  struct Case {
    const char *name;
    std::string text;
    QString message; // empty: loaded
    uint32_t at;     // an image address and what it holds afterwards
    const char *entry;
    uint32_t leftOut;
  };
  const std::vector<Case> cases = {
      {"firmware at 0000-24B7 and a block at 0x10000 over its vector table",
       Upper(4, 0) + Block(0x0000, 0x24B8, 0x11) + Upper(4, 1) + Block(0x0000, 256, 0x22) + Record(0, 1, {}),
       clash.arg("00000000", "00010000", "0000"), 0x24B7, "$11", 0},
      {"segment base 1000 over data under none", Block(0x0100, 32, 0x11) + Upper(2, 0x1000) + Block(0x0110, 16, 0x22),
       clash.arg("00000110", "00010110", "0110"), 0x0100, "$11", 0},
      {"back to upper address 0000 over a byte inside a record under 0001",
       Upper(4, 0) + Block(0x0000, 16, 0x11) + Upper(4, 1) + Block(0x0100, 16, 0x22) + Upper(4, 0) +
           Block(0x00F8, 16, 0x33),
       clash.arg("00010100", "00000100", "0100"), 0x0000, "$11", 0},
      {"a clashing record with a wrong checksum is a checksum error",
       Block(0x0000, 16, 0x11) + Upper(4, 1) + Record(0x0000, 0, {0x22}, 0) + "\r\n",
       QStringLiteral("文件加载错误，0000地址行校验和错误 DD"), 0x0000, "$22", 0},
      {"one upper address 0800 for every record, one address written twice",
       Upper(4, 0x0800) + Block(0x0000, 32, 0x11) + Block(0x0010, 16, 0x22) + Upper(4, 0x0800), QString(), 0x0010,
       "$22", 0},
      {"upper address 0001 on addresses no other record uses",
       Block(0x0000, 256, 0x11) + Upper(4, 1) + Block(0x3000, 16, 0x22) + Block(0x9000, 16, 0x33), QString(), 0x3000,
       "$22", 16},
  };
  for (const auto &c : cases) {
    auto image = FreshImage();
    const HexReadResult r = Read(c.text, image);
    EXPECT_EQ(LoadErrorText(r).toStdString(), c.message.toStdString()) << c.name;
    EXPECT_EQ(r.Ok(), c.message.isEmpty()) << c.name;
    EXPECT_EQ(image.Entry(c.at), c.entry) << c.name;
    EXPECT_EQ(r.BytesLeftOut(), c.leftOut) << c.name;
  }
}

// ---------------------------------------------------------------------------
// Faulty records.

TEST(HexReader, FaultyThirdRecordKeepsTheBytesOfAllThree) {
  // The third record at 0100 calls for checksum 3F; the file says 40.
  const std::string third = ":01010000BF40";
  EXPECT_EQ(Record(0x0100, 0, {0xBF}), ":01010000BF3F");
  const std::string text = Record(0x0000, 0, {0x01, 0x02}) + "\r\n" + Record(0x0080, 0, {0x03}) + "\r\n" + third +
                           "\r\n" + Record(0x0200, 0, {0x04}) + "\r\n" + Record(0, 1, {}) + "\r\n";
  auto image = FreshImage();
  const HexReadResult r = Read(text, image);
  ASSERT_EQ(r.status, Status::ChecksumError);
  EXPECT_EQ(r.addressHigh, "01");
  EXPECT_EQ(r.addressLow, "00");
  EXPECT_EQ(r.expectedChecksum, 0x3F);
  EXPECT_EQ(LoadErrorText(r), QStringLiteral("文件加载错误，0100地址行校验和错误 3F"));
  EXPECT_EQ(image.Entry(0x0000), "$01");
  EXPECT_EQ(image.Entry(0x0001), "$02");
  EXPECT_EQ(image.Entry(0x0080), "$03");
  EXPECT_EQ(image.Entry(0x0100), "$BF"); // stored before its checksum was compared
  EXPECT_EQ(image.Entry(0x0200), "$00"); // reading stopped at the faulty record
  EXPECT_EQ(r.records, 2u);
}

TEST(HexReader, MessageKeepsTheAddressCharactersAsInTheFile) {
  // Lower-case address characters, expected checksum shown upper case.
  std::string rec = Record(0x01A0, 0, {0xC0});
  for (char &c : rec)
    c = char(std::tolower(c));
  rec.back() = rec.back() == '0' ? '1' : '0';
  auto image = FreshImage();
  const HexReadResult r = Read(rec + "\r\n", image);
  ASSERT_EQ(r.status, Status::ChecksumError);
  EXPECT_EQ(LoadErrorText(r), QStringLiteral("文件加载错误，01a0地址行校验和错误 ") +
                                  QString::fromStdString(HexByte(ChecksumOf(0x01A0, 0, {0xC0}))));
}

TEST(HexReader, LastRecordWithoutLineEndIsChecked) {
  auto image = FreshImage();
  EXPECT_TRUE(Read(Record(0x0000, 0, {0x01}) + "\r\n" + Record(0x0010, 0, {0x02}), image).Ok());
  EXPECT_EQ(image.Entry(0x0010), "$02");

  auto image2 = FreshImage();
  const HexReadResult r = Read(Record(0x0000, 0, {0x01}) + "\r\n" + Record(0x0010, 0, {0x02}, 0x00), image2);
  EXPECT_EQ(r.status, Status::ChecksumError);
  EXPECT_EQ(r.addressHigh + r.addressLow, "0010");
}

TEST(HexReader, RecordCutShortFailsLikeAWrongChecksum) {
  struct Case {
    const char *name;
    std::string text;
  };
  const std::string good = Record(0x0000, 0, {0x01}) + "\r\n";
  const std::vector<Case> cases = {
      {"line end inside the data", good + ":10010000AABB\r\n" + Record(0x0300, 0, {0x09}) + "\r\n"},
      {"line end before the checksum", good + ":01010000AA\n"},
      {"file ends inside the data", good + ":10010000AABB"},
      {"file ends inside a field", good + ":1001000"},
      {"file ends after the colon", good + ":"},
  };
  for (const auto &c : cases) {
    auto image = FreshImage();
    const HexReadResult r = Read(c.text, image);
    EXPECT_EQ(r.status, Status::ChecksumError) << c.name;
    EXPECT_EQ(image.Entry(0x0300), "$00") << c.name;
  }
  auto image = FreshImage();
  const HexReadResult r = Read(good + ":01010000AA\n", image);
  EXPECT_EQ(r.addressHigh + r.addressLow, "0100");
  EXPECT_EQ(r.expectedChecksum, uint8_t(256 - (1 + 1 + 0 + 0 + 0xAA)));
}

TEST(HexReader, ForeignTextStopsTheReadingWithItsLine) {
  struct Case {
    std::string text;
    uint32_t line;
  };
  const std::string rec = Record(0x0000, 0, {0x01});
  const std::vector<Case> cases = {
      {"hello\r\n" + rec + "\r\n", 1},
      {rec + "\r\n" + rec + "\r\nS1130000\r\n", 3},
      {rec + "\n\n" + rec + "\nx", 4},
      {rec + "\r" + rec + "\r\r" + rec + "junk\r", 4},
      {rec + " ;comment\r\n", 1},
      {std::string("\x7F"
                   "ELF\x01\x02",
                   6),
       1},
  };
  for (const auto &c : cases) {
    auto image = FreshImage();
    const HexReadResult r = Read(c.text, image);
    EXPECT_EQ(r.status, Status::NotARecord) << c.text;
    EXPECT_EQ(r.line, c.line) << c.text;
    EXPECT_EQ(LoadErrorText(r), QStringLiteral("文件加载错误，第 %1 行不是 HEX 记录").arg(c.line));
  }
}

TEST(HexReader, FileWithoutDataIsRefused) {
  for (const std::string &text :
       {std::string(), std::string("\r\n\r\n"), std::string("\xEF\xBB\xBF"), Record(0, 1, {}) + "\r\n",
        Record(0, 4, {0, 0}) + "\r\n" + Record(0, 1, {}), Record(0x0100, 0, {}) + "\r\n"}) {
    auto image = FreshImage();
    const HexReadResult r = Read(text, image);
    EXPECT_EQ(r.status, Status::NoData) << text;
    EXPECT_EQ(LoadErrorText(r), QStringLiteral("文件加载错误，文件中没有数据记录，请选择 Intel HEX 文件"));
  }
}

TEST(HexReader, FileWithNoByteInTheImageIsRefused) {
  std::vector<uint8_t> data(16, 0x5A);
  std::string text;
  for (uint16_t a = 0x8000; a < 0x8100; a += 16)
    text += Record(a, 0, data) + "\r\n";
  auto image = FreshImage();
  const HexReadResult r = Read(text, image);
  EXPECT_EQ(r.status, Status::NoDataInImage);
  EXPECT_EQ(r.bytesOutsideImage, 256u);
  EXPECT_EQ(LoadErrorText(r), QStringLiteral("文件加载错误，文件中没有 0000-7FFF 范围内的数据，未加载"));
  // One byte inside the image is enough.
  const HexReadResult one = Read(Record(0x7FFF, 0, {1}) + "\r\n" + text, image);
  EXPECT_EQ(one.status, Status::Ok);
}

TEST(HexReader, RecordCutByALineEndStoresNothingAndNamesOnlyItself) {
  auto image = FreshImage();
  const HexReadResult cut = Read(":02010000AA\r\n" + Record(0x0200, 0, {0x11, 0x22}) + "\r\n", image);
  EXPECT_EQ(cut.status, Status::ChecksumError);
  EXPECT_EQ(image.Entry(0x0100), "$00");
  EXPECT_EQ(image.Entry(0x0101), "$00");
  EXPECT_EQ(LoadErrorText(cut), QStringLiteral("文件加载错误，0100地址行校验和错误 %1")
                                    .arg(QString::fromStdString(HexByte(256 - (2 + 1 + 0 + 0 + 0xAA)))));
  // A record cut before its address names no address, not the one before it.
  const HexReadResult bare = Read(Record(0x1234, 0, {0x01}) + "\r\n:01", image);
  EXPECT_EQ(bare.status, Status::ChecksumError);
  EXPECT_FALSE(LoadErrorText(bare).contains(QStringLiteral("1234")));
  EXPECT_EQ(bare.addressHigh + bare.addressLow, "");
}

TEST(HexReader, CharactersThatAreNoDigitsCountAsZero) {
  // Data "G0" is kept as it stands and counts 0; an address with "Z0" is address 0.
  auto image = FreshImage();
  // 0x01 + 0x00 + 0x10 + 0x00 + 0 = 0x11 calls for checksum EF.
  HexReadResult r = Read(":01001000G0DF\r\n", image);
  EXPECT_EQ(r.status, Status::ChecksumError);
  EXPECT_EQ(r.expectedChecksum, 0xEF);
  auto image2 = FreshImage();
  r = Read(":01001000G0EF\r\n", image2);
  ASSERT_TRUE(r.Ok());
  EXPECT_EQ(image2.Entry(0x0010), "$G0");
  EXPECT_EQ(image2.bytes[0x0010], 0);

  auto image3 = FreshImage();
  image3.Set(0x0000, 0x77, '7', '7');
  // 0x01 + 0x00 + 0 + 0x00 + 0x1E = 0x1F calls for checksum E1.
  r = Read(":0100Z0001EFF\r\n", image3);
  EXPECT_EQ(r.expectedChecksum, 0xE1);
  r = Read(":0100Z0001EE1\r\n", image3);
  ASSERT_TRUE(r.Ok());
  EXPECT_EQ(r.addressLow, "Z0");
  EXPECT_EQ(image3.Entry(0x0000), "$1E");
}

// ---------------------------------------------------------------------------
// Addresses beyond the image and beyond the table.

TEST(HexReader, BytesBeyondTheImageAreCountedAndBeyondTheTableDropped) {
  // 16 bytes from 0xFFF8: eight land at FFF8..FFFF, eight would be past the table.
  std::vector<uint8_t> data(16);
  for (int i = 0; i < 16; ++i)
    data[size_t(i)] = uint8_t(0xA0 + i);
  const std::string text = Record(0x7FFE, 0, {0x01, 0x02, 0x03, 0x04}) + "\r\n" + Record(0xFFF8, 0, data) + "\r\n";
  auto image = FreshImage();
  const HexReadResult r = Read(text, image);
  ASSERT_TRUE(r.Ok());
  EXPECT_EQ(image.bytes.size(), size_t(kImageAddressSpace));
  EXPECT_EQ(image.Entry(0x7FFE), "$01");
  EXPECT_EQ(image.Entry(0x8000), "$03"); // stored, outside the image
  EXPECT_EQ(image.Entry(0xFFF8), "$A0");
  EXPECT_EQ(image.Entry(0xFFFF), "$A7");
  for (uint32_t a = 0; a < 8; ++a)
    EXPECT_EQ(image.Entry(a), "$00") << "no wrap-around to " << a;
  EXPECT_EQ(r.bytesOutsideImage, 2u + 8u);
  EXPECT_EQ(r.bytesDropped, 8u);
  EXPECT_EQ(r.BytesLeftOut(), 18u);
  EXPECT_EQ(LeftOutNotice(r, 32768), QStringLiteral("注意：文件中有 18 字节超出 0000-7FFF，未加载"));
}

TEST(HexReader, NoNoticeWhenEveryByteIsInTheImage) {
  auto image = FreshImage();
  const HexReadResult r = Read(Record(0x7FFF, 0, {0x01}) + "\r\n", image);
  ASSERT_TRUE(r.Ok());
  EXPECT_EQ(LeftOutNotice(r, 32768), QString());
  EXPECT_EQ(LoadErrorText(r), QString());
}

TEST(HexReader, ClearImageResetsOnlyTheImage) {
  ImageTable image;
  image.Put(0, std::vector<uint8_t>(kImageAddressSpace, 0x5A));
  ClearImage(image, 32768);
  EXPECT_EQ(image.Entry(0), "$00");
  EXPECT_EQ(image.Entry(32767), "$00");
  EXPECT_EQ(image.Entry(32768), "$5A");
  EXPECT_EQ(image.Entry(65535), "$5A");
}

TEST(HexReader, EntryValues) {
  EXPECT_EQ(ImageEntryValue("$00"), 0);
  EXPECT_EQ(ImageEntryValue("$ff"), 255);
  EXPECT_EQ(ImageEntryValue("$Fe"), 254);
  EXPECT_EQ(ImageEntryValue("$G1"), 0);
  EXPECT_EQ(ImageEntryValue("$ 1"), 0);
  EXPECT_EQ(ImageEntryValue(""), 0);
}

// ---------------------------------------------------------------------------
// Files written by the tools at test time, when they are installed.

std::vector<uint8_t> RandomBytes(size_t n, unsigned seed) {
  std::mt19937 gen(seed);
  std::vector<uint8_t> out(n);
  for (auto &b : out)
    b = uint8_t(gen());
  return out;
}

bool RunTool(const QString &program, const QStringList &args, QString *error) {
  QProcess p;
  p.start(program, args);
  if (!p.waitForFinished(30000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
    *error = program + QLatin1Char(' ') + args.join(QLatin1Char(' ')) + QStringLiteral(": ") +
             QString::fromLocal8Bit(p.readAllStandardError());
    return false;
  }
  return true;
}

TEST(HexReaderTools, SrecCatOutputOfManyShapes) {
  const QString srecCat = QStandardPaths::findExecutable(QStringLiteral("srec_cat"));
  if (srecCat.isEmpty())
    GTEST_SKIP() << "srec_cat is not installed";
  QTemporaryDir dir;
  const auto data = RandomBytes(9000, 7);
  QFile bin(dir.filePath(QStringLiteral("data.bin")));
  ASSERT_TRUE(bin.open(QIODevice::WriteOnly));
  bin.write(reinterpret_cast<const char *>(data.data()), qsizetype(data.size()));
  bin.close();

  const std::vector<QStringList> shapes = {
      {QStringLiteral("-Output_Block_Size=16")},
      {QStringLiteral("-Output_Block_Size=32"), QStringLiteral("-address-length=4")},
      {QStringLiteral("-Output_Block_Size=255"), QStringLiteral("-CRLF")},
      {QStringLiteral("-Output_Block_Size=7"), QStringLiteral("-execution-start-address=0x1234")},
  };
  for (const QStringList &shape : shapes) {
    const QString hex = dir.filePath(QStringLiteral("out.hex"));
    const QString back = dir.filePath(QStringLiteral("back.bin"));
    QString error;
    ASSERT_TRUE(RunTool(srecCat,
                        QStringList{bin.fileName(), QStringLiteral("-binary"), QStringLiteral("-offset"),
                                    QStringLiteral("0x0300"), QStringLiteral("-o"), hex, QStringLiteral("-intel")} +
                            shape,
                        &error))
        << error.toStdString();
    ASSERT_TRUE(RunTool(srecCat, {hex, QStringLiteral("-intel"), QStringLiteral("-o"), back, QStringLiteral("-binary")},
                        &error))
        << error.toStdString();
    auto image = FreshImage();
    const HexReadResult r = ReadHex(Bytes(ReadWhole(hex)), image, 32768);
    ASSERT_TRUE(r.Ok()) << shape.join(QLatin1Char(' ')).toStdString() << ": " << LoadErrorText(r).toStdString();
    EXPECT_EQ(Values(image), ZeroFilledImage(ReadWhole(back), 0)) << shape.join(QLatin1Char(' ')).toStdString();
    EXPECT_EQ(r.dataBytes, 9000u);
  }
}

TEST(HexReaderTools, ObjcopyOutput) {
  const QString objcopy = QStandardPaths::findExecutable(QStringLiteral("objcopy"));
  if (objcopy.isEmpty())
    GTEST_SKIP() << "objcopy is not installed";
  QTemporaryDir dir;
  const auto data = RandomBytes(20000, 11);
  QFile bin(dir.filePath(QStringLiteral("data.bin")));
  ASSERT_TRUE(bin.open(QIODevice::WriteOnly));
  bin.write(reinterpret_cast<const char *>(data.data()), qsizetype(data.size()));
  bin.close();
  const QString hex = dir.filePath(QStringLiteral("out.hex"));
  QString error;
  ASSERT_TRUE(RunTool(objcopy,
                      {QStringLiteral("-I"), QStringLiteral("binary"), QStringLiteral("-O"), QStringLiteral("ihex"),
                       QStringLiteral("--change-addresses"), QStringLiteral("0x4000"), bin.fileName(), hex},
                      &error))
      << error.toStdString();
  auto image = FreshImage();
  const HexReadResult r = ReadHex(Bytes(ReadWhole(hex)), image, 32768);
  ASSERT_TRUE(r.Ok()) << LoadErrorText(r).toStdString();
  const QByteArray binary(reinterpret_cast<const char *>(data.data()), qsizetype(data.size()));
  EXPECT_EQ(Values(image), ZeroFilledImage(binary, 0x4000));
  // 0x4000 + 20000 bytes run past 0x7FFF.
  EXPECT_EQ(r.BytesLeftOut(), 0x4000u + 20000u - 0x8000u);
}

} // namespace
