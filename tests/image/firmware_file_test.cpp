// The firmware file of a load in every form the build tools leave it: one
// program as ELF, S-records, raw binary and Intel HEX gives one image; the
// form is told by the content; each form's refusals.
#include "hex_test_support.h"

#include "image/firmware_file.h"
#include "image/image_blocks.h"
#include "image/load_messages.h"
#include "support/test_helpers.h"

#include <QCryptographicHash>
#include <gtest/gtest.h>

using namespace image;

using namespace hex_test;

namespace {

QString Fixture(const QString &name) { return SourcePath(QStringLiteral("tests/image/fixtures/") + name); }

// One S-record; `checksum` overrides the right one.
std::string SRecord(int type, uint32_t address, int addressBytes, const std::vector<uint8_t> &data, int checksum = -1) {
  std::vector<uint8_t> bytes = {uint8_t(addressBytes + data.size() + 1)};
  for (int k = addressBytes - 1; k >= 0; --k)
    bytes.push_back(uint8_t(address >> (8 * k)));
  bytes.insert(bytes.end(), data.begin(), data.end());
  uint8_t sum = 0;
  for (uint8_t b : bytes)
    sum = uint8_t(sum + b);
  std::string out = "S" + std::to_string(type);
  for (uint8_t b : bytes)
    out += HexByte(b);
  return out + HexByte(checksum >= 0 ? uint32_t(checksum) : uint8_t(~sum));
}

QString Sum(uint32_t checksum) { return CheckSumCaption(checksum); }

// ---------------------------------------------------------------------------

TEST(FirmwareFile, EveryFormOfAProgramGivesTheSameImage) {
  // program.c linked for flash at 0000 and at 7F80 (its last 36 bytes beyond
  // the image), as the build tools leave it; the reference is objcopy's own
  // binary laid at its first address.
  struct Case {
    const char *file;
    FirmwareFormat format;
    FoundFormat found;
    const char *description;
  };
  struct Program {
    const char *binary;
    uint32_t base;
    const char *ranges;
    uint32_t leftOut;
    std::vector<Case> files;
  };
  const Program programs[] = {
      {"program.bin",
       0x0000,
       "0000-00A3",
       0,
       {{"program.elf", FirmwareFormat::ByContent, FoundFormat::Elf, ""},
        {"program.srec", FirmwareFormat::ByContent, FoundFormat::SRecord, "program.srec"},
        {"program_s3.srec", FirmwareFormat::ByContent, FoundFormat::SRecord, "program-1.0"},
        {"program.hex", FirmwareFormat::ByContent, FoundFormat::IntelHex, ""},
        {"program.bin", FirmwareFormat::RawBinary, FoundFormat::RawBinary, ""}}},
      {"program_high.bin",
       0x7F80,
       "7F80-7FFF",
       36,
       {{"program_high.elf", FirmwareFormat::ByContent, FoundFormat::Elf, ""},
        {"program_high.srec", FirmwareFormat::ByContent, FoundFormat::SRecord, "program_high.srec"},
        {"program_high_s2.srec", FirmwareFormat::ByContent, FoundFormat::SRecord, "http://srecord.sourceforge.net/"},
        {"program_high.hex", FirmwareFormat::ByContent, FoundFormat::IntelHex, ""},
        {"program_high.bin", FirmwareFormat::RawBinary, FoundFormat::RawBinary, ""}}},
  };
  for (const Program &p : programs) {
    const std::vector<uint8_t> expected = ZeroFilledImage(ReadWhole(Fixture(QLatin1String(p.binary))), p.base);
    uint32_t sum = 0;
    for (uint8_t b : expected)
      sum += b;
    for (const Case &c : p.files) {
      SCOPED_TRACE(c.file);
      const QString path = Fixture(QLatin1String(c.file));
      const FirmwareFile f = ReadFirmware(path, c.format, p.base);
      ASSERT_TRUE(f.Accepted()) << f.refusal.toStdString();
      EXPECT_EQ(f.format, c.found);
      EXPECT_EQ(Values(f.image), expected);
      EXPECT_EQ(f.checksumCaption, Sum(sum));
      EXPECT_EQ(RangesText(f.ranges).toStdString(), p.ranges);
      EXPECT_EQ(f.leftOut, p.leftOut);
      EXPECT_EQ(f.leftOutNotice, LeftOutNotice(p.leftOut, 32768));
      EXPECT_EQ(f.description.toStdString(), c.description);
      EXPECT_EQ(f.sha256,
                QString::fromLatin1(QCryptographicHash::hash(ReadWhole(path), QCryptographicHash::Sha256).toHex()));
    }
  }
}

TEST(FirmwareFile, FormIsToldByContentNotByName) {
  ProgramFolder folder;
  const QByteArray hex = ReadWhole(Fixture(QStringLiteral("program.hex")));
  const QByteArray binary = ReadWhole(Fixture(QStringLiteral("program.bin")));
  const QString unknown =
      QStringLiteral("文件加载错误，无法识别文件格式：不是 Intel HEX、Motorola S-record 或 ELF 文件，未加载");
  struct Case {
    const char *name;
    QByteArray bytes;
    FirmwareFormat format;
    uint32_t base;
    FoundFormat found;
    QString refusal; // empty: accepted
    const char *ranges;
    uint32_t leftOut;
  };
  const auto raw = FirmwareFormat::RawBinary;
  const auto content = FirmwareFormat::ByContent;
  const Case cases[] = {
      {"fw.hex",
       ReadWhole(Fixture(QStringLiteral("program.srec"))),
       content,
       0,
       FoundFormat::SRecord,
       {},
       "0000-00A3",
       0},
      {"fw.srec", ReadWhole(Fixture(QStringLiteral("program.elf"))), content, 0, FoundFormat::Elf, {}, "0000-00A3", 0},
      {"fw.elf", "\xEF\xBB\xBF\r\n \t\n" + hex, content, 0, FoundFormat::IntelHex, {}, "0000-00A3", 0},
      {"notes.txt", "firmware v2\n", content, 0, FoundFormat::Unknown, unknown, "", 0},
      {"fw.bin", binary, content, 0, FoundFormat::Unknown, unknown, "", 0},
      {"blank.hex", " \r\n", content, 0, FoundFormat::IntelHex,
       QStringLiteral("文件加载错误，文件中没有数据记录，请选择 Intel HEX 文件"), "", 0},
      // The operator's word wins over the content.
      {"text.hex", hex.left(9), raw, 0x1000, FoundFormat::RawBinary, {}, "1000-1008", 0},
      {"fw.bin", binary, raw, 0x7FF0, FoundFormat::RawBinary, {}, "7FF0-7FFF", 164 - 16},
      {"fw.bin", binary, raw, 0x8000, FoundFormat::RawBinary, NoDataInImageText(), "", 0},
      {"empty.bin", QByteArray(), raw, 0, FoundFormat::RawBinary,
       QStringLiteral("文件加载错误，文件中没有数据，未加载"), "", 0},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    folder.Write(QLatin1String(c.name), c.bytes);
    const FirmwareFile f = ReadFirmware(folder.File(QLatin1String(c.name)), c.format, c.base);
    EXPECT_TRUE(f.fileRead);
    EXPECT_EQ(f.format, c.found);
    EXPECT_EQ(f.refusal.toStdString(), c.refusal.toStdString());
    if (!f.Accepted())
      continue;
    EXPECT_EQ(RangesText(f.ranges).toStdString(), c.ranges);
    EXPECT_EQ(f.leftOut, c.leftOut);
  }
  // A raw binary's bytes as they are, upper-case in the image table.
  const FirmwareFile text = ReadFirmwareBytes(":1", FirmwareFormat::RawBinary, 0x10);
  EXPECT_EQ(text.image.Entry(0x10), "$3A");
  EXPECT_EQ(text.image.Entry(0x11), "$31");
  EXPECT_EQ(text.image.Entry(0x0F), "$00");
}

TEST(FirmwareFile, SRecords) {
  const std::vector<uint8_t> four = {0x01, 0x02, 0x03, 0x04};
  const std::string s0 = SRecord(0, 0, 2, {'h', 'd', 'r', 0, 'x'});
  const std::string s1 = SRecord(1, 0x0100, 2, four);
  const std::string s9 = SRecord(9, 0x0100, 2, {});
  struct Case {
    const char *name;
    std::string text;
    QString refusal; // after "文件加载错误，"; empty: accepted
    const char *ranges;
    uint32_t leftOut;
    uint32_t checksum;
  };
  const Case cases[] = {
      {"header, data, count, start",
       s0 + "\r\n" + s1 + "\r\n" + SRecord(5, 1, 2, {}) + "\r\n" + s9 + "\r\n",
       {},
       "0100-0103",
       0,
       10},
      {"LF, CR, blank lines, blanks, lower case, no last line end",
       "\xEF\xBB\xBF" + s0 + "\n\n  " + QByteArray::fromStdString(s1).toLower().replace("s1", "S1").toStdString() +
           " \t\r" + s9,
       {},
       "0100-0103",
       0,
       10},
      {"24- and 32-bit addresses, beyond the image",
       SRecord(2, 0x007FFE, 3, {0xAA, 0xBB, 0xCC}) + "\n" + SRecord(3, 0x10000000, 4, {0x11}) + "\n" +
           SRecord(3, 0x00000010, 4, {0x22}) + "\n" + SRecord(6, 3, 3, {}) + "\n" + SRecord(7, 0, 4, {}) + "\n",
       {},
       "0010-0010, 7FFE-7FFF",
       2,
       0x22 + 0xAA + 0xBB},
      {"bad checksum", s0 + "\n" + SRecord(1, 0x0100, 2, four, 0x00) + "\n",
       QStringLiteral("第 2 行校验和错误：文件中为 00，应为 ED"), "", 0, 0},
      {"truncated record", s1.substr(0, s1.size() - 4) + "\n",
       QStringLiteral("第 1 行的记录长度不对：字节数为 7，实有 5 字节"), "", 0, 0},
      {"record longer than its count", s1 + "00\n", QStringLiteral("第 1 行的记录长度不对：字节数为 7，实有 8 字节"),
       "", 0, 0},
      {"wrong count record", s0 + "\r\n" + s1 + "\r\n" + SRecord(5, 2, 2, {}) + "\r\n",
       QStringLiteral("第 3 行的记录数为 2，此前有 1 个数据记录"), "", 0, 0},
      {"wrong 24-bit count record", s1 + "\n" + SRecord(6, 4, 3, {}) + "\n",
       QStringLiteral("第 2 行的记录数为 4，此前有 1 个数据记录"), "", 0, 0},
      {"no record", s1 + "\r\nS1 0104 05\r\n", QStringLiteral("第 2 行不是 S-record 记录"), "", 0, 0},
      {"reserved S4", s1 + "\n" + SRecord(4, 0, 2, {}) + "\n", QStringLiteral("第 2 行不是 S-record 记录"), "", 0, 0},
      {"no digit", "S1070100010203G4ED\n", QStringLiteral("第 1 行不是 S-record 记录"), "", 0, 0},
      {"no data", s0 + "\n" + s9 + "\n", QStringLiteral("文件中没有数据，未加载"), "", 0, 0},
      {"nothing in the image", SRecord(3, 0x8000, 4, four) + "\n",
       QStringLiteral("文件中没有 0000-7FFF 范围内的数据，未加载"), "", 0, 0},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    const FirmwareFile f = ReadFirmwareBytes(QByteArray::fromStdString(c.text));
    EXPECT_EQ(f.format, FoundFormat::SRecord);
    if (!c.refusal.isEmpty()) {
      EXPECT_EQ(f.refusal.toStdString(), LoadErrorText(c.refusal).toStdString());
      continue;
    }
    ASSERT_TRUE(f.Accepted()) << f.refusal.toStdString();
    EXPECT_EQ(RangesText(f.ranges).toStdString(), c.ranges);
    EXPECT_EQ(f.leftOut, c.leftOut);
    EXPECT_EQ(f.checksum, c.checksum);
  }
  EXPECT_EQ(ReadFirmwareBytes(QByteArray::fromStdString(cases[0].text)).description, QStringLiteral("hdr"));
}

TEST(FirmwareFile, ElfFiles) {
  const QByteArray elf = ReadWhole(Fixture(QStringLiteral("program.elf")));
  ASSERT_GT(elf.size(), 0x54);
  auto patched = [](QByteArray bytes, int at, std::initializer_list<uint8_t> with) {
    for (uint8_t b : with)
      bytes[at++] = char(b);
    return bytes;
  };
  const QString only = QStringLiteral("只能加载 32 位小端的 ELF 可执行文件");
  struct Case {
    const char *name;
    QByteArray bytes;
    QString refusal; // after "文件加载错误，"; empty: accepted
    bool exact;      // else the refusal begins so and libelf says why
  };
  const Case cases[] = {
      {"64-bit", ReadWhole(Fixture(QStringLiteral("host64.elf"))), QStringLiteral("这是 64 位的 ELF 文件，") + only,
       true},
      {"big-endian", ReadWhole(Fixture(QStringLiteral("program_be.elf"))),
       QStringLiteral("这是大端的 ELF 文件，") + only, true},
      {"relocatable", ReadWhole(Fixture(QStringLiteral("program.o"))),
       QStringLiteral("这是 ELF 可重定位文件，不是可执行文件，") + only, true},
      {"header cut short", elf.left(30), QStringLiteral("ELF 文件无法读取："), false},
      // The first segment's file size (program header at 0x34, p_filesz at +16) runs past the file's end.
      {"segment beyond the file", patched(elf, 0x34 + 16, {0x00, 0x00, 0x01, 0x00}),
       QStringLiteral("ELF 文件无法读取：第 0 个程序段超出文件末尾，文件不完整"), true},
      // Section 1 (.text; headers at 0x340, 40 bytes each, sh_offset at +16) placed past the file's end.
      {"section beyond the file", patched(elf, 0x340 + 40 + 16, {0x00, 0x00, 0x01, 0x00}),
       QStringLiteral("ELF 文件无法读取：第 1 个节（.text）超出文件末尾，文件不完整"), true},
      // Section 4 (.comment, not loaded) whose size (at +20) runs past the file's end.
      {"unloaded section beyond the file", patched(elf, 0x340 + 4 * 40 + 20, {0x00, 0x10, 0x00, 0x00}),
       QStringLiteral("ELF 文件无法读取：第 4 个节（.comment）超出文件末尾，文件不完整"), true},
      // No section table (e_shoff, e_shnum, e_shstrndx 0): the segments load whole.
      {"no section table", patched(patched(elf, 0x20, {0, 0, 0, 0}), 0x30, {0, 0, 0, 0}), {}, true},
  };
  const std::vector<uint8_t> expected = ZeroFilledImage(ReadWhole(Fixture(QStringLiteral("program.bin"))), 0);
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    const FirmwareFile f = ReadFirmwareBytes(c.bytes);
    EXPECT_EQ(f.format, FoundFormat::Elf);
    if (c.refusal.isEmpty()) {
      ASSERT_TRUE(f.Accepted()) << f.refusal.toStdString();
      EXPECT_EQ(Values(f.image), expected);
    } else if (c.exact) {
      EXPECT_EQ(f.refusal.toStdString(), LoadErrorText(c.refusal).toStdString());
    } else {
      EXPECT_TRUE(f.refusal.startsWith(LoadErrorText(c.refusal)) && f.refusal.size() > LoadErrorText(c.refusal).size())
          << f.refusal.toStdString();
    }
  }
}

} // namespace
