// Serial-number plans: the bytes each format writes, what does not fit, where
// a field may go, list files and what a list is read from, and the plans
// refused whole.
#include "numbering/serial_plan.h"

#include <QFile>
#include <QTemporaryDir>
#include <fcntl.h>
#include <future>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

inline void PrintTo(const QString &s, std::ostream *os) { *os << '"' << s.toStdString() << '"'; }

namespace {

numbering::SerialPlan Plan(const char *format, const char *prefix = "") {
  numbering::SerialPlan plan;
  EXPECT_TRUE(numbering::ParseFormat(QLatin1String(format), &plan.format, &plan.digits)) << format;
  plan.prefix = QLatin1String(prefix);
  return plan;
}

} // namespace

TEST(SerialPlan, EachFormatWritesItsBytesOrSaysWhyTheNumberDoesNotFit) {
  const struct {
    const char *format;
    const char *prefix;
    uint64_t value;
    QByteArray bytes;
    const char *text;
    const char *refusal;
  } cases[] = {
      {"le32", "", 0x12345678, QByteArray::fromHex("78563412"), "305419896", ""},
      {"be32", "", 0x12345678, QByteArray::fromHex("12345678"), "305419896", ""},
      {"le32", "", 0xFFFFFFFF, QByteArray::fromHex("FFFFFFFF"), "4294967295", ""},
      {"be32", "", 0x100000000, {}, "", "the number 4294967296 does not fit 32 bits"},
      {"dec:6", "SN", 123, "SN000123", "SN000123", ""},
      {"dec:3", "", 999, "999", "999", ""},
      {"dec:3", "", 1000, {}, "", "the number 1000 does not fit 3 decimal digits"},
      {"hex:4", "", 0xBEEF, "BEEF", "BEEF", ""},
      {"hex:4", "", 0x10000, {}, "", "the number 10000 does not fit 4 hex digits"},
      {"dec:10", "", 4294967295u, "4294967295", "4294967295", ""},
  };
  for (const auto &c : cases) {
    const numbering::Field f = numbering::CounterField(Plan(c.format, c.prefix), c.value);
    EXPECT_EQ(f.bytes, c.bytes) << c.format << ' ' << c.value;
    EXPECT_EQ(f.text, QLatin1String(c.text)) << c.format << ' ' << c.value;
    EXPECT_EQ(f.refusal, QLatin1String(c.refusal)) << c.format << ' ' << c.value;
  }
}

TEST(SerialPlan, FormatNamesReadBackAndOthersAreRefused) {
  for (const char *good : {"le32", "be32", "dec:1", "dec:10", "hex:1", "hex:8"}) {
    numbering::SerialFormat format{};
    int digits = 0;
    ASSERT_TRUE(numbering::ParseFormat(QLatin1String(good), &format, &digits)) << good;
    EXPECT_EQ(numbering::FormatName(format, digits), QLatin1String(good));
  }
  for (const char *bad : {"", "LE32", "le16", "dec:0", "dec:11", "hex:9", "dec:", "dec:01", "hex:4 "}) {
    numbering::SerialFormat format{};
    int digits = 0;
    EXPECT_FALSE(numbering::ParseFormat(QLatin1String(bad), &format, &digits)) << bad;
  }
}

TEST(SerialPlan, CountingStopsAt32BitsWithoutWrapping) {
  numbering::SerialPlan plan;
  plan.start = 4294967290u;
  plan.step = 3;
  EXPECT_EQ(numbering::CounterValue(plan, 0), 4294967290u);
  EXPECT_EQ(numbering::CounterValue(plan, 1), 4294967293u);
  EXPECT_EQ(numbering::CounterValue(plan, 2), std::nullopt);
  plan.start = 0;
  plan.step = 0x80000000u;
  EXPECT_EQ(numbering::CounterValue(plan, 1), 0x80000000u);
  EXPECT_EQ(numbering::CounterValue(plan, uint64_t(1) << 33), std::nullopt);
}

TEST(SerialPlan, AFieldMayNotLeaveTheImageNorCoverTheFirmwareUnlessAllowed) {
  const std::vector<image::AddressRange> filled = {{0x0000, 0x0FFF}, {0x7F00, 0x7F03}};
  const struct {
    uint32_t address;
    int size;
    bool overwrite;
    const char *refusal;
  } cases[] = {
      {0x1000, 4, false, ""},
      {0x7EFC, 4, false, ""},
      {0x0FFD, 4, false,
       "the serial number at 0FFD-1000 would overwrite the firmware's bytes at 0FFD-0FFF; allow it with "
       "--serial-overwrite if that is meant"},
      {0x7EFD, 4, false,
       "the serial number at 7EFD-7F00 would overwrite the firmware's bytes at 7F00-7F00; allow it with "
       "--serial-overwrite if that is meant"},
      {0x0FFD, 4, true, ""},
      {0x7FFC, 4, true, ""},
      {0x7FFD, 4, true, "the serial number's 4 bytes from 7FFD do not fit the image 0000-7FFF"},
      {0x8000, 1, true, "the serial number's 1 bytes from 8000 do not fit the image 0000-7FFF"},
  };
  for (const auto &c : cases)
    EXPECT_EQ(numbering::PlaceRefusal(c.address, c.size, filled, c.overwrite), QLatin1String(c.refusal))
        << std::hex << c.address;
}

TEST(SerialPlan, PlansThatCannotWorkAreRefusedWithTheirReason) {
  const auto with = [](auto edit) {
    numbering::SerialPlan plan = Plan("dec:6", "SN");
    plan.address = 0x7F00;
    edit(plan);
    return plan;
  };
  const struct {
    const char *name;
    numbering::SerialPlan plan;
    const char *refusal;
  } cases[] = {
      {"good", with([](auto &) {}), ""},
      {"address", with([](auto &p) { p.address = 0x8000; }),
       "the serial number's address 8000 is outside the image 0000-7FFF"},
      {"past the end", with([](auto &p) { p.address = 0x7FFA; }),
       "the serial number's 8 bytes from 7FFA run past the image's end 7FFF"},
      {"prefix with a word", with([](auto &p) { p.format = numbering::SerialFormat::Le32; }),
       "a prefix goes only with the ASCII formats dec:N and hex:N"},
      {"prefix not ASCII", with([](auto &p) { p.prefix = QStringLiteral("№"); }),
       "the prefix must be at most 32 printable ASCII characters"},
      {"first number too wide", with([](auto &p) { p.start = 1000000; }),
       "the number 1000000 does not fit 6 decimal digits"},
      {"no step", with([](auto &p) { p.step = 0; }), "the step must be 1 to 4294967295"},
      {"block", with([](auto &p) { p.blockSize = 0; }), "a station's block of numbers must be 1 to 1000"},
      {"list and barcode",
       with([](auto &p) {
         p.listFile = QStringLiteral("a.txt");
         p.barcodePattern = QStringLiteral(".*");
       }),
       "a plan takes its values from a list file or from scanned barcodes, not both"},
      {"bad pattern", with([](auto &p) { p.barcodePattern = QStringLiteral("(["); }),
       "the barcode pattern is no regular expression: missing terminating ] for character class"},
  };
  for (const auto &c : cases)
    EXPECT_EQ(numbering::PlanRefusal(c.plan), QLatin1String(c.refusal)) << c.name;
}

TEST(SerialPlan, OfflineModeWithACountAboveOneIsRefusedSayingWhy) {
  EXPECT_EQ(numbering::OfflineRefusal(false, 999999), QString());
  EXPECT_EQ(numbering::OfflineRefusal(true, 1), QString());
  EXPECT_EQ(numbering::OfflineRefusal(true, 5),
            QStringLiteral("per-unit data needs a load that programs one chip: in offline mode with a count of 5 "
                           "the box would burn the same image, and so the same number, into every chip"));
}

TEST(SerialPlan, ListFilesGiveEachValueOnceInBytesOrText) {
  const struct {
    const char *name;
    QByteArray text;
    QStringList lines;
    QList<QByteArray> bytes;
    const char *refusal;
  } cases[] = {
      {"text and hex, CR LF, blanks skipped", "A-001\r\n\nhex:01 02 0a\r\n  \nB 2\n",
       {"A-001", "hex:01 02 0a", "B 2"}, {"A-001", QByteArray::fromHex("01020A"), "B 2"}, ""},
      {"a value twice", "A\nhex:41\n", {}, {}, "line 2: \"hex:41\" is given twice and would go into two boards"},
      {"odd hex", "A\nhex:012\n", {}, {}, "line 2: \"hex:012\" is no value: \"hex:\" needs pairs of hex digits"},
      {"empty hex", "hex:\n", {}, {}, "line 1: \"hex:\" is no value: \"hex:\" needs pairs of hex digits"},
      {"nothing", "\n \r\n", {}, {}, "the list holds no value"},
      {"a format character", "SN1\nSN-\xE2\x80\xAE" "12\n", {}, {},
       "line 2: \"SN-\\x202E12\" holds the invisible format character U+202E, which would change how it reads"},
      {"CR alone ends a line, mixed ends", "SN1\rSN2\r\nSN3\nSN4", {"SN1", "SN2", "SN3", "SN4"},
       {"SN1", "SN2", "SN3", "SN4"}, ""},
      {"text that is UTF-8", "\xE5\x8F\xB7-1\n", {"\u53F7-1"}, {"\xE5\x8F\xB7-1"}, ""},
      {"a byte that is not UTF-8", "SN1\rSN\xFF" "1\r", {}, {}, "line 2 is not UTF-8 text"},
      {"half a character", "A\n\nB\xE5\x8F\n", {}, {}, "line 3 is not UTF-8 text"},
  };
  for (const auto &c : cases) {
    const numbering::ListFile list = numbering::ParseList(c.text);
    EXPECT_EQ(list.refusal, QLatin1String(c.refusal)) << c.name;
    if (!list.refusal.isEmpty())
      continue;
    EXPECT_EQ(list.lines, c.lines) << c.name;
    for (int i = 0; i < c.bytes.size() && i < list.lines.size(); ++i)
      EXPECT_EQ(numbering::ValueField(list.lines[i]).bytes, c.bytes[i]) << c.name << ' ' << i;
  }
  // Stations sharing a pool must hold the same list, whatever its line ends.
  EXPECT_EQ(numbering::ParseList("A\r\nB\r\n").sha256, numbering::ParseList("A\nB").sha256);
  EXPECT_EQ(numbering::ParseList("A\rB\r").sha256, numbering::ParseList("A\nB").sha256);
  EXPECT_NE(numbering::ParseList("A\nB\n").sha256, numbering::ParseList("B\nA\n").sha256);
}

TEST(SerialPlan, APatchWritesItsBytesAndNothingAround) {
  std::vector<uint8_t> image(0x10000, 0);
  image[0x7FFF] = 0xAB;
  numbering::Patch(image, 0x7FFD, QByteArray::fromHex("01FE"));
  EXPECT_EQ(image[0x7FFC], 0x00);
  EXPECT_EQ(image[0x7FFD], 0x01);
  EXPECT_EQ(image[0x7FFE], 0xFE);
  EXPECT_EQ(image[0x7FFF], 0xAB);
  // Bytes past the table's end are dropped.
  numbering::Patch(image, 0xFFFF, QByteArray::fromHex("1122"));
  EXPECT_EQ(image[0xFFFF], 0x11);
  EXPECT_EQ(image.size(), 0x10000u);
}

// A list is read only from a regular file of bounded size: a pipe would wait
// for ever, a link to /dev/zero would fill the memory. Each read runs on a
// thread of its own and is bounded: a read that waits fails the row, and a
// writer opened on the pipe then lets it end.
TEST(SerialPlan, AListIsReadOnlyFromARegularFileOfBoundedSize) {
  QTemporaryDir dir;
  const QString good = dir.filePath(QStringLiteral("good.txt"));
  const QString fifo = dir.filePath(QStringLiteral("fifo"));
  const QString zero = dir.filePath(QStringLiteral("zero"));
  const QString huge = dir.filePath(QStringLiteral("huge.txt"));
  {
    QFile f(good);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("SN1\rSN2\r");
    QFile h(huge);
    ASSERT_TRUE(h.open(QIODevice::WriteOnly));
    ASSERT_TRUE(h.resize(numbering::kMostListBytes + 1)); // sparse: costs no disk
  }
  ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
  ASSERT_TRUE(QFile::link(QStringLiteral("/dev/zero"), zero));
  const struct {
    QString path;
    bool fileRead;
    QString refusal;
  } cases[] = {
      {good, true, {}},
      {dir.filePath(QStringLiteral("gone.txt")), false, QStringLiteral("No such file or directory")},
      {dir.path(), false, QStringLiteral("it is a folder")},
      {fifo, false, QStringLiteral("it is not a regular file")},
      {zero, false, QStringLiteral("it is not a regular file")},
      {huge, false, QStringLiteral("it is larger than 16 MiB, too large for a list")},
  };
  for (const auto &c : cases) {
    std::promise<numbering::ListFile> done;
    std::future<numbering::ListFile> result = done.get_future();
    std::thread reader([&] { done.set_value(numbering::ReadList(c.path)); });
    const bool ended = result.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
    if (!ended) {
      const int writer = ::open(QFile::encodeName(c.path).constData(), O_WRONLY | O_NONBLOCK);
      if (writer >= 0)
        ::close(writer);
    }
    reader.join();
    EXPECT_TRUE(ended) << c.path.toStdString() << ": the read waited";
    const numbering::ListFile list = result.get();
    EXPECT_EQ(list.refusal, c.refusal) << c.path.toStdString();
    EXPECT_EQ(list.fileRead, c.fileRead) << c.path.toStdString();
  }
  EXPECT_EQ(numbering::ReadList(good).lines, (QStringList{"SN1", "SN2"}));
}
