// The kavrin-cli executable on files: check-file's output and exit status on
// the HEX fixtures and on refused files, the checks a load makes before it
// would touch a port, names that are no text, and what a gang of ports costs.
#include "support/spawn.h"
#include "support/test_helpers.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

namespace {

struct CliRun {
  int status = -1;
  QString out, err;
};

CliRun Cli(const QStringList &args) {
  QProcess p;
  p.start(BinPath(QStringLiteral("kavrin-cli")), args);
  CliRun r;
  if (!p.waitForFinished(20000) || p.exitStatus() != QProcess::NormalExit)
    return r;
  r.status = p.exitCode();
  r.out = QString::fromUtf8(p.readAllStandardOutput());
  r.err = QString::fromUtf8(p.readAllStandardError());
  return r;
}

QString Fixture(const char *name) { return SourcePath(QStringLiteral("tests/image/fixtures/") + QLatin1String(name)); }

// The checksum a load of the fixture gives: its reference image's bytes that
// land in 0000-7FFF.
QString ExpectedChecksum(const char *bin, uint32_t binStart) {
  QFile f(Fixture(bin));
  EXPECT_TRUE(f.open(QIODevice::ReadOnly));
  const QByteArray bytes = f.readAll();
  uint32_t sum = 0;
  for (qsizetype i = 0; i < bytes.size() && binStart + i < 0x8000; ++i)
    sum += uint8_t(bytes[i]);
  return QStringLiteral("CheckSum:  0x") + QStringLiteral("%1").arg(sum, 8, 16, QLatin1Char('0')).toUpper();
}

} // namespace

TEST(CheckFile, FixturesGiveChecksumRangesAndLeftOut) {
  struct Case {
    const char *file, *bin;
    uint32_t binStart;
    const char *ranges;
    int leftOut;
    const char *format; // and the S-record header's text
    QStringList options;
  };
  const Case cases[] = {
      {"objcopy_16_crlf.hex", "objcopy_16_crlf.bin", 0x0100, "0100-0CB7", 0, "Intel HEX", {}},
      {"srec_16_lower.hex", "srec_16_lower.bin", 0x1000, "1000-1BB7", 0, "Intel HEX", {}},
      {"srec_32_lf.hex", "srec_32_lf.bin", 0, "0200-0BC3", 0, "Intel HEX", {}},
      {"joined.hex", "joined.bin", 0, "0000-03FF, 2000-27FF", 0, "Intel HEX", {}},
      {"high.hex", "high.bin", 0x7F00, "7F00-7FFF", 256, "Intel HEX", {}},
      {"program_high.elf", "program_high.bin", 0x7F80, "7F80-7FFF", 36, "ELF (32-bit little-endian executable)", {}},
      {"program_s3.srec", "program.bin", 0, "0000-00A3", 0, "Motorola S-record\nDescription: program-1.0", {}},
      {"program_high.bin",
       "program_high.bin",
       0x7F80,
       "7F80-7FFF",
       36,
       "raw binary from 7F80",
       {QStringLiteral("--format"), QStringLiteral("bin"), QStringLiteral("--base=0x7f80")}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.file);
    const CliRun r = Cli(QStringList{QStringLiteral("check-file"), Fixture(c.file)} + c.options);
    EXPECT_EQ(r.status, 0) << r.err.toStdString();
    EXPECT_EQ(r.out.toStdString(),
              (ExpectedChecksum(c.bin, c.binStart) + QStringLiteral("\nData: ") + QLatin1String(c.ranges) +
               QStringLiteral("\nLeft out: %1 bytes beyond 0000-7FFF\nFormat: ").arg(c.leftOut) +
               QLatin1String(c.format) + QLatin1Char('\n'))
                  .toStdString());
    // The window's notice about bytes beyond the image, on standard error.
    EXPECT_EQ(r.err.contains(QStringLiteral("%1 字节超出 0000-7FFF").arg(c.leftOut)), c.leftOut > 0)
        << r.err.toStdString();
  }
}

TEST(CheckFile, RefusedFilesSayWhyAndExit3) {
  ProgramFolder folder;
  folder.Write(QStringLiteral("bad_sum.hex"), ":0400100001020304E0\r\n:00000001FF\r\n");
  folder.Write(QStringLiteral("high_only.hex"), ":020000040000FA\n:048000000102030472\n:00000001FF\n");
  folder.Write(QStringLiteral("notes.txt"), "firmware v2\n");
  const std::pair<QString, QString> cases[] = {
      {folder.File(QStringLiteral("bad_sum.hex")), QStringLiteral("文件加载错误，0010地址行校验和错误 E2")},
      {folder.File(QStringLiteral("high_only.hex")),
       QStringLiteral("文件加载错误，文件中没有 0000-7FFF 范围内的数据，未加载")},
      {folder.File(QStringLiteral("notes.txt")),
       QStringLiteral("文件加载错误，无法识别文件格式：不是 Intel HEX、Motorola S-record 或 ELF 文件，未加载")},
      {folder.File(QStringLiteral("absent.hex")), QStringLiteral("Cannot open file \"%1\". No such file or directory")
                                                      .arg(folder.File(QStringLiteral("absent.hex")))},
  };
  for (const auto &[path, why] : cases) {
    const CliRun r = Cli({QStringLiteral("check-file"), path});
    EXPECT_EQ(r.status, 3) << path.toStdString();
    EXPECT_TRUE(r.out.isEmpty());
    EXPECT_EQ(r.err.toStdString(), (QStringLiteral("kavrin-cli check-file: refused: ") + why + '\n').toStdString());
  }

  // A load of a refused file touches no port: each box ends file-refused.
  const CliRun load = Cli({QStringLiteral("load"), QStringLiteral("--json"), QStringLiteral("--port"),
                           QStringLiteral("/nonexistent/a"), QStringLiteral("--port"), QStringLiteral("/nonexistent/b"),
                           QStringLiteral("--file"), folder.File(QStringLiteral("high_only.hex"))});
  EXPECT_EQ(load.status, 3);
  const QStringList lines = load.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
  ASSERT_EQ(lines.size(), 4) << load.out.toStdString();
  const QJsonObject result = QJsonDocument::fromJson(lines[3].toUtf8()).object();
  EXPECT_EQ(result.value(QStringLiteral("port")).toString(), QStringLiteral("/nonexistent/b"));
  EXPECT_EQ(result.value(QStringLiteral("result")).toString(), QStringLiteral("file-refused"));
  EXPECT_EQ(result.value(QStringLiteral("exit")).toInt(), 3);
}

// Lines for people show a control character (ESC, BEL) as \xHH wherever it
// comes from: a file's header, a file's name, a job's values; JSON keeps its
// own escapes. No terminal receives the raw byte.
TEST(CheckFile, ControlCharactersReachNoTerminal) {
  ProgramFolder folder;
  folder.Write(QStringLiteral("header.srec"), "S00A00001B5B324A07763155\nS107000001020304EE\nS9030000FC\n");
  folder.Write(QStringLiteral("name.kavjob"), R"({"schema": 1, "name": "a\u001b[31m"})");
  folder.Write(QStringLiteral("firmware.kavjob"), R"({"schema": 1, "name": "A", "firmware": "fw\u0007.hex"})");
  const QString absent = folder.File(QStringLiteral("a\x1b[2Jb.hex"));
  const QString absentShown =
      QStringLiteral("Cannot open file \"%1\"").arg(folder.File(QStringLiteral("a\\x1B[2Jb.hex")));
  const std::pair<QStringList, QString> cases[] = {
      {{"check-file", folder.File(QStringLiteral("header.srec"))}, QStringLiteral("\nDescription: \\x1B[2J\\x07v1\n")},
      {{"check-file", absent}, absentShown},
      {{"job", "show", folder.File(QStringLiteral("name.kavjob"))}, QStringLiteral(", got \"a\\x1B[31m\"\n")},
      {{"run", "--no-records", "--job", folder.File(QStringLiteral("firmware.kavjob"))},
       QStringLiteral(", got \"fw\\x07.hex\"\n")},
      {{"load", "--no-records", "--port", "/nonexistent/a", "--file", absent},
       QStringLiteral("/nonexistent/a: ") + absentShown},
      {{"load", "--no-records", "--json", "--port", "/nonexistent/a", "--file", absent},
       QStringLiteral("a\\u001b[2Jb.hex")},
  };
  for (const auto &[args, shown] : cases) {
    const CliRun r = Cli(args);
    const QString all = r.out + r.err;
    EXPECT_TRUE(all.contains(shown)) << args.join(' ').toStdString() << " -> " << all.toStdString();
    EXPECT_FALSE(std::any_of(all.begin(), all.end(), [](QChar c) { return c < QChar(0x20) && c != QChar('\n'); }))
        << args.join(' ').toStdString();
  }
}

TEST(CheckFile, UsageErrorsExit2NamingTheOption) {
  const std::pair<QStringList, QString> cases[] = {
      {{}, QStringLiteral("Usage: kavrin-cli COMMAND")},
      {{QStringLiteral("flash")}, QStringLiteral("kavrin-cli: unknown command \"flash\"")},
      {{QStringLiteral("load"), QStringLiteral("--port=p"), QStringLiteral("--file"), Fixture("joined.hex"),
        QStringLiteral("--count"), QStringLiteral("1234567")},
       QStringLiteral("kavrin-cli load: --count: expects 1 to 6 digits")},
      {{QStringLiteral("check-file"), QStringLiteral("--base"), QStringLiteral("1000"), Fixture("program.bin")},
       QStringLiteral("kavrin-cli check-file: --base: only with --format bin")},
      {{QStringLiteral("read-out"), QStringLiteral("--port"), QStringLiteral("p"), QStringLiteral("--chip"),
        QStringLiteral("PAC9999"), QStringLiteral("--out"), QStringLiteral("x.bin")},
       QStringLiteral("kavrin-cli read-out: --chip: no chip \"PAC9999\" in the chip list; known: PAC5210,")},
  };
  for (const auto &[args, start] : cases) {
    const CliRun r = Cli(args);
    EXPECT_EQ(r.status, 2) << args.join(QLatin1Char(' ')).toStdString();
    EXPECT_TRUE(r.err.startsWith(start)) << r.err.toStdString();
  }
  const CliRun help = Cli({QStringLiteral("read-out"), QStringLiteral("--help")});
  EXPECT_EQ(help.status, 0);
  EXPECT_TRUE(help.out.contains(QStringLiteral("--dataflash USE")));
}

TEST(CheckFile, NamesThatAreNoUtf8TextAreRefusedNotChanged) {
  ProgramFolder folder;
  const QByteArray dir = QFile::encodeName(folder.Path());
  const QByteArray hex = dir + "lat\xe9.hex";
  {
    QFile fixture(Fixture("joined.hex"));
    ASSERT_TRUE(fixture.open(QIODevice::ReadOnly));
    const QByteArray bytes = fixture.readAll();
    const int fd = open(hex.constData(), O_WRONLY | O_CREAT | O_EXCL, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(write(fd, bytes.constData(), size_t(bytes.size())), bytes.size());
    close(fd);
  }
  const std::pair<std::vector<QByteArray>, QByteArray> cases[] = {
      {{"check-file", hex}, dir + "lat\\xE9.hex"},
      {{"read-out", "--port", "/nonexistent/p", "--chip", "PAC5223", "--out", dir + "ro\xe9.hex"}, dir + "ro\\xE9.hex"},
  };
  for (const auto &[args, shown] : cases) {
    const SpawnResult r = SpawnBytes(BinPath(QStringLiteral("kavrin-cli")), args);
    EXPECT_EQ(r.exitCode, 2) << r.output.toStdString();
    EXPECT_EQ(r.output.toStdString(),
              "kavrin-cli: \"" + shown.toStdString() +
                  "\" is not UTF-8 text, so no file or port of that name can be opened or written exactly: "
                  "rename it, or give a link to it with a UTF-8 name\n");
  }
  // Nothing was written under another name. The folder is read as bytes:
  // Qt's listing and removal lose names that are no text.
  std::vector<std::string> names;
  DIR *entries = opendir(dir.constData());
  ASSERT_NE(entries, nullptr);
  while (const dirent *e = readdir(entries))
    if (e->d_name[0] != '.')
      names.emplace_back(e->d_name);
  closedir(entries);
  EXPECT_EQ(names, std::vector<std::string>{"lat\xe9.hex"});
  unlink(hex.constData());
}

TEST(CheckFile, PortsCostNoImageEachAndBeyondTheOpenFilesLimitAreRefused) {
  // Ports that do not exist: every box is set up, none opens.
  auto ports = [](int n) {
    QStringList args{QStringLiteral("verify"), QStringLiteral("--no-records")};
    for (int i = 0; i < n; ++i)
      args << QStringLiteral("--port") << QStringLiteral("/nonexistent/box%1").arg(i);
    return args;
  };
  const SpawnResult one = Spawn(BinPath(QStringLiteral("kavrin-cli")), ports(1));
  const SpawnResult many = Spawn(BinPath(QStringLiteral("kavrin-cli")), ports(101));
  ASSERT_EQ(one.exitCode, 4);
  ASSERT_EQ(many.exitCode, 1);
  // A copy of the image per box was 2.2 MB; the bound leaves room for the
  // sanitizers' shadow memory.
  EXPECT_LT((many.maxRssKiB - one.maxRssKiB) / 100, 1024) << one.maxRssKiB << " KiB, " << many.maxRssKiB << " KiB";

  const QStringList limited{QStringLiteral("-c"), QStringLiteral("ulimit -n 100 && exec \"$0\" \"$@\""),
                            BinPath(QStringLiteral("kavrin-cli"))};
  const SpawnResult refused = Spawn(QStringLiteral("/bin/sh"), limited + ports(20));
  EXPECT_EQ(refused.exitCode, 2);
  EXPECT_TRUE(refused.output.startsWith("kavrin-cli verify: --port: 20 ports need 120 open files, but this process "
                                        "may open 100 (ulimit -n) and holds "))
      << refused.output.toStdString();
}
