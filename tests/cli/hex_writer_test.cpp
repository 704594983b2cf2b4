// The read-out's output file, read back through the window's own HEX reader.
#include "cli/hex_writer.h"
#include "image/hex_reader.h"
#include "support/test_helpers.h"

#include <gtest/gtest.h>

using namespace cli;

namespace {

std::vector<uint8_t> Pattern(size_t n, uint8_t seed) {
  std::vector<uint8_t> bytes(n);
  for (size_t i = 0; i < n; ++i)
    bytes[i] = uint8_t(seed + i * 7 + (i >> 8));
  return bytes;
}

std::span<const uint8_t> Bytes(const QByteArray &text) {
  return {reinterpret_cast<const uint8_t *>(text.constData()), size_t(text.size())};
}

} // namespace

TEST(HexWriter, ReadsBackThroughTheProjectsReader) {
  // A 32 KiB code area and a dataflash area elsewhere, with a short tail record.
  const std::vector<uint8_t> code = Pattern(0x8000, 3), dataflash = Pattern(0x1005, 200);
  const HexSegment segments[] = {{0x0000, code}, {0xB000, dataflash}};
  const QByteArray text = IntelHexText(segments);

  image::ImageTable image;
  const image::HexReadResult read = image::ReadHex(Bytes(text), image, 0x10000);
  ASSERT_TRUE(read.Ok());
  EXPECT_EQ(read.dataBytes, code.size() + dataflash.size());
  EXPECT_EQ(read.dataRecords, 0x8000 / 16 + 0x1005 / 16 + 1);
  EXPECT_EQ(read.records, read.dataRecords + 1); // and the end record
  for (size_t a = 0; a < code.size(); ++a)
    ASSERT_EQ(image.bytes[a], code[a]) << a;
  for (size_t a = 0; a < dataflash.size(); ++a)
    ASSERT_EQ(image.bytes[0xB000 + a], dataflash[a]) << a;

  // Every line a record with CR LF; no page record below 0x10000; the end record last.
  EXPECT_TRUE(text.startsWith(":10000000"));
  EXPECT_FALSE(text.contains("\n:02000004"));
  EXPECT_TRUE(text.endsWith("\r\n:00000001FF\r\n"));
  EXPECT_EQ(text.count("\r\n"), text.count(":"));
  EXPECT_EQ(text.count("\n"), text.count("\r\n"));
}

TEST(HexWriter, PageRecordsOnlyWhereAddressesPassAPage) {
  const std::vector<uint8_t> bytes = Pattern(40, 1);
  const HexSegment segments[] = {{0xFFF8, bytes}};
  const QByteArray text = IntelHexText(segments);
  const QList<QByteArray> lines = text.split('\n');
  // 8 bytes end page 0; the next record starts page 1 after its page record.
  ASSERT_GE(lines.size(), 5);
  EXPECT_TRUE(lines[0].startsWith(":08FFF800")) << lines[0].toStdString();
  EXPECT_EQ(lines[1], QByteArray(":020000040001F9\r"));
  EXPECT_TRUE(lines[2].startsWith(":10000000")) << lines[2].toStdString();
  EXPECT_TRUE(lines[3].startsWith(":10001000")) << lines[3].toStdString();
  EXPECT_EQ(lines[4], QByteArray(":00000001FF\r"));
}

TEST(HexWriter, SavesHexOrRawByTheName) {
  ProgramFolder folder;
  const std::vector<uint8_t> bytes = Pattern(100, 9);
  const HexSegment segments[] = {{0x0000, bytes}};
  EXPECT_EQ(SaveReadOut(folder.File(QStringLiteral("chip.HEX")), segments), QString());
  EXPECT_EQ(folder.Read(QStringLiteral("chip.HEX")), IntelHexText(segments));
  EXPECT_EQ(SaveReadOut(folder.File(QStringLiteral("chip.bin")), segments), QString());
  EXPECT_EQ(folder.Read(QStringLiteral("chip.bin")), QByteArray(reinterpret_cast<const char *>(bytes.data()), 100));

  const QString error = SaveReadOut(folder.File(QStringLiteral("no-folder/chip.bin")), segments);
  EXPECT_TRUE(error.startsWith(QStringLiteral("Cannot write"))) << error.toStdString();
  EXPECT_TRUE(error.contains(QStringLiteral("No such file or directory"))) << error.toStdString();
}
