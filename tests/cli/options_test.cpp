// The command line's options: what good lines give, what bad lines are told.
#include "cli/options.h"
#include "cli/result_class.h"

#include <QFile>
#include <QTemporaryDir>
#include <functional>
#include <set>
#include <gtest/gtest.h>

using namespace cli;

namespace {

QStringList Args(std::initializer_list<const char *> list) {
  QStringList out;
  for (const char *a : list)
    out << QString::fromUtf8(a);
  return out;
}

ParseResult ParsedResult(Command command, std::initializer_list<const char *> args) {
  const ParseResult r = ParseOptions(command, Args(args));
  EXPECT_TRUE(r.Ok() || r.help) << r.error.toStdString();
  return r;
}

template <typename T> T Parsed(Command command, std::initializer_list<const char *> args) {
  const ParseResult r = ParsedResult(command, args);
  return r.Ok() ? r.Get<T>() : T{};
}

} // namespace

TEST(CliOptions, GoodLinesInAnyOrderAndBothForms) {
  const LoadOptions load = Parsed<LoadOptions>(
      Command::Load, {"--json", "--file=fw.hex", "--port", "ttyUSB0", "--sectors", "1-8,17,32", "--port=/dev/ttyUSB1",
                      "--count", "000123", "--mode=ONLINE", "--power", "off", "--timeout=300"});
  EXPECT_EQ(load.ports, Args({"ttyUSB0", "/dev/ttyUSB1"}));
  EXPECT_EQ(load.load.firmware.file, QStringLiteral("fw.hex"));
  EXPECT_EQ(load.load.count, QStringLiteral("000123"));
  EXPECT_EQ(load.load.sectorMask, 0x800100FFu);
  EXPECT_EQ(load.load.mode, base::BoxMode::Online);
  EXPECT_EQ(load.load.supply, base::BoxSupply::NoOutput);
  EXPECT_EQ(load.timeoutSeconds, 300);
  EXPECT_TRUE(load.json);

  // What a load leaves unsaid is what the window starts with.
  const LoadOptions plain = Parsed<LoadOptions>(Command::Load, {"--port", "COM3", "--file", "fw.hex"});
  EXPECT_EQ(plain.load.count, QStringLiteral("999999"));
  EXPECT_EQ(plain.load.sectorMask, 0xFFFFFFFFu);
  EXPECT_EQ(plain.load.mode, base::BoxMode::Offline);
  EXPECT_EQ(plain.load.supply, base::BoxSupply::FiveVolts);
  EXPECT_EQ(plain.timeoutSeconds, 120);
  EXPECT_FALSE(plain.load.modeGiven || plain.load.powerGiven);
  EXPECT_TRUE(load.load.modeGiven && load.load.powerGiven);

  const SetOptions set =
      Parsed<SetOptions>(Command::Set, {"--port", "p", "--count", "9999", "--mode", "offline", "--power", "5V"});
  EXPECT_EQ(set.count, 9999);
  const ReadOutOptions readOut = Parsed<ReadOutOptions>(
      Command::ReadOut, {"--out", "chip.bin", "--chip", "PAC5223", "--dataflash=eeprom", "--port", "p"});
  EXPECT_EQ(readOut.dataflash, chip::DataflashUse::Eeprom);
  EXPECT_TRUE(readOut.dataflashGiven);
  const auto checked = [](std::initializer_list<const char *> args) {
    return Parsed<CheckFileOptions>(Command::CheckFile, args).firmware;
  };
  EXPECT_EQ(checked({"--", "--odd name.hex"}).file, QStringLiteral("--odd name.hex"));
  EXPECT_EQ(checked({"--format=bin", "--", "--"}).file, QStringLiteral("--"));
  // A raw binary and where it begins; a file's form is otherwise told by its content.
  const LoadOptions raw =
      Parsed<LoadOptions>(Command::Load, {"--port", "p", "--file", "fw.bin", "--format", "bin", "--base=0x7F80"});
  EXPECT_TRUE(raw.load.firmware.rawBinary);
  EXPECT_EQ(raw.load.firmware.base, 0x7F80u);
  EXPECT_EQ(checked({"--format=bin", "--base", "FFFFFFFF", "fw.bin"}).base, 0xFFFFFFFFu);
  EXPECT_FALSE(checked({"--format", "auto", "fw.elf"}).rawBinary);
  // Every command takes the language; unset, the system locale decides.
  EXPECT_EQ(ParsedResult(Command::CheckFile, {"--lang", "EN", "f.hex"}).language, base::Language::English);
  EXPECT_EQ(ParsedResult(Command::Records, {"--lang=zh"}).language, base::Language::Designed);
  EXPECT_EQ(ParsedResult(Command::Ports, {}).language, std::nullopt);
  // Help wins over everything else on the line, also over faults.
  EXPECT_TRUE(ParsedResult(Command::Set, {"--bogus", "--help"}).help);
}

TEST(CliOptions, BadLinesNameTheOption) {
  static const std::string badge(129, '7');
  // 129 characters, 258 UTF-16 units.
  static const std::string emoji = [] {
    std::string text;
    for (int n = 0; n < 129; ++n)
      text += "\U0001F600";
    return text;
  }();
  struct Case {
    Command command;
    std::initializer_list<const char *> args;
    const char *error;
  };
  const Case cases[] = {
      {Command::Load, {"--file", "f.hex"}, "--port is required"},
      {Command::Load, {"--port", "p"}, "--file is required"},
      {Command::Load, {"--port", "p", "--file", "f", "--count", "1234567"}, "--count: expects 1 to 6 digits"},
      {Command::Load, {"--port", "p", "--file", "f", "--count", ""}, "--count: needs a value"},
      {Command::Load, {"--port", "p", "--file", "f", "--count=12a"}, "--count: expects 1 to 6 digits"},
      {Command::Load, {"--port", "p", "--file", "f", "--sectors", "0-4"}, "--sectors: no sector \"0\""},
      {Command::Load, {"--port", "p", "--file", "f", "--mode", "fast"}, "--mode: expects online or offline"},
      {Command::Load, {"--port", "p", "--file", "f", "--power", "3v3"}, "--power: expects 5v or off"},
      {Command::Load, {"--port", "p", "--file", "f", "--timeout", "0"}, "--timeout: expects whole seconds"},
      {Command::Load, {"--port", "p", "--file", "f", "--timeout", "86401"}, "--timeout: expects whole seconds"},
      {Command::Load, {"--port", "p", "--file", "f", "--file", "g"}, "--file: given twice"},
      {Command::Load,
       {"--port", "ttyUSB0", "--port", "/dev/ttyUSB0", "--file", "f"},
       "--port: \"/dev/ttyUSB0\" is given twice"},
      {Command::Load, {"--port", "--json", "--file", "f"}, "--port: needs a value, got the option \"--json\""},
      {Command::Load, {"--port", "p", "--file", "f", "--json=yes"}, "--json: takes no value"},
      {Command::Load, {"--port", "p", "--file", "f", "--help=yes"}, "--help: takes no value"},
      {Command::Load,
       {"--port", "p", "--file", "f", "--records", "off", "--no-records"},
       "--no-records excludes --records"},
      {Command::Load, {"--port", "p", "--file", "f", "--chip", "PAC5223"}, "--chip is not an option of load"},
      {Command::Load, {"--port", "p", "--file", "f", "extra"}, "unexpected argument \"extra\""},
      {Command::Load, {"--port", "p", "-f", "f"}, "-f is not an option of load"},
      {Command::Set,
       {"--port", "p", "--mode", "online", "--power", "5v", "--count", "10000"},
       "--count: expects a number 0..9999"},
      {Command::Set, {"--port", "p", "--mode", "online", "--count", "1"}, "--power is required"},
      {Command::Verify, {"--port", "p", "--sectors", "1"}, "--sectors is not an option of verify"},
      {Command::ReadOut,
       {"--port", "a", "--port", "b", "--chip", "c", "--out", "o"},
       "--port: given twice"},
      {Command::ReadOut,
       {"--port", "a", "--chip", "c", "--out", "o", "--dataflash", "flash"},
       "--dataflash: expects code or eeprom"},
      {Command::CheckFile, {}, "FILE is required"},
      {Command::CheckFile, {"--format", "hex", "f"}, "--format: expects auto or bin, got \"hex\""},
      {Command::CheckFile, {"--format", "bin", "--base", "0x", "f"}, "--base: expects a hex address"},
      {Command::CheckFile, {"--format", "bin", "--base", "100000000", "f"}, "--base: expects a hex address"},
      {Command::CheckFile, {"--format", "bin", "--base", "+100", "f"}, "--base: expects a hex address"},
      {Command::Load, {"--port", "p", "--file", "f", "--base", "100"}, "--base: only with --format bin"},
      {Command::Verify, {"--port", "p", "--format", "bin"}, "--format is not an option of verify"},
      {Command::CheckFile, {"a.hex", "b.hex"}, "unexpected argument \"b.hex\""},
      // One value per --port; after "--" every word is an argument.
      {Command::Verify, {"--port=v6", "stray"}, "unexpected argument \"stray\""},
      {Command::Load, {"--port", "ttyUSB0", "ttyUSB1", "--file", "fw.hex"}, "unexpected argument \"ttyUSB1\""},
      {Command::EraseProgramVerify, {"--port=ttyS2", "--", "--json", "--timeout", "5"}, "unexpected argument \"--json\""},
      {Command::CheckFile, {"a.hex", "--", "--format", "bin"}, "unexpected argument \"--format\""},
      {Command::CheckFile, {"a.hex", "--", "--"}, "unexpected argument \"--\""},
      {Command::CheckFile, {"--"}, "FILE is required"},
      {Command::Ports, {"--port", "p"}, "--port is not an option of ports"},
      {Command::Verify, {"--port", "p", "--lang", "de"}, "--lang: expects zh or en, got \"de\""},
      {Command::Records, {"--summary", "--result", "ok"}, "--summary excludes --result"},
      {Command::Records, {"--per", "operator"}, "--per requires --summary"},
      {Command::Records, {"--summary", "--per", "week"}, "--per: expects day, hour, station or operator, got \"week\""},
      {Command::Run, {"--job", "j", "--operator", " "}, "--operator: an operator's name is empty"},
      {Command::Run,
       {"--job", "j", "--operator", badge.c_str()},
       "--operator: an operator's name is 129 characters long, more than 128"},
      {Command::Run, {"--job", "j", "--operator", "li.wei "}, "--operator: an operator's name begins or ends with a blank"},
      {Command::Run,
       {"--job", "j", "--operator", emoji.c_str()},
       "--operator: an operator's name is 129 characters long, more than 128"},
      {Command::Run,
       {"--job", "j", "--operator", "li\u202Eiew"},
       "--operator: an operator's name holds the invisible format character U+202E"},
      {Command::Load,
       {"--port", "p", "--file", "f", "--operator", "王芳\t2"},
       "--operator: an operator's name holds a control character"},
      {Command::Verify, {"--port", "p", "--operator", "x"}, "--operator is not an option of verify"},
  };
  for (const Case &c : cases) {
    const QStringList args = Args(c.args);
    const ParseResult r = ParseOptions(c.command, args);
    EXPECT_FALSE(r.Ok()) << args.join(' ').toStdString();
    EXPECT_TRUE(r.error.startsWith(QString::fromUtf8(c.error)))
        << args.join(' ').toStdString() << " -> " << r.error.toStdString();
  }
}

// The help lays each option out in a column, a name as wide as the column
// included; continued descriptions line up; a load's help leaves out the
// serial-number options it takes as job create's.
TEST(CliOptions, HelpListsTheOptionsInTheirColumn) {
  const QStringList help = {QStringLiteral("--help")};
  const struct {
    ParseResult parsed;
    const char *text;
    bool shown;
  } cases[] = {
      {ParseJobOptions(JobCommand::Create, help),
       "  --serial-keep-failed  a unit that finally fails hands its number to the next\n"
       "                      unit (default: the number is given up)\n  --help              show this text\n",
       true},
      {ParseJobOptions(JobCommand::Create, help),
       "  --pin               protect the job with an engineer PIN: asked for twice on\n"
       "                      the terminal without echo, or the first line of standard\n"
       "                      input; kept only as a salted Argon2id hash\n\nA serial number of its own in each unit "
       "(needs --mode online or --count 1: in\noffline mode the box burns one image into every chip):\n"
       "  --serial-at ADDRESS where",
       true},
      {ParseOptions(Command::Load, help), "  --serial-at ADDRESS write each box's unit", true},
      {ParseOptions(Command::Load, help), "--serial-format F", false},
      {ParseOptions(Command::Set, {"--port", "p", "--help", "--count=x"}),
       "\n\nSets every box's mode, target supply and count.\n\n  --port PORT         the box's", true},
  };
  for (const auto &c : cases) {
    EXPECT_TRUE(c.parsed.help && !c.parsed.Ok());
    EXPECT_EQ(c.parsed.helpText.contains(QString::fromUtf8(c.text)), c.shown) << c.text << "\nin\n"
                                                                              << c.parsed.helpText.toStdString();
  }
}

// Every number option takes only what its help says, within its range: junk
// that a lenient reader would turn into some number (0x10 into 16 or 0,
// 12345678901 into 0 after a 32-bit wrap) is refused naming option and value.
TEST(CliOptions, NumberOptionsTakeOnlyTheirDigitsWithinTheirRange) {
  const QStringList decimalJunk = {"-5", "abc", "0x10", "1e3", " 5", "5 ", "+5", "12345678901", "1.0", "\u0663"};
  const QStringList hexJunk = {"-5", "xyz", " 5", "5 ", "+5", "0x", "0x-1", "123456789", "\u0663"};
  const QStringList job = {"--out", "o.kavjob", "--name", "n", "--file", "f", "--mode", "online"};
  const QStringList serial = job + QStringList{"--lot-size", "1", "--serial-at", "7F00", "--serial-format", "le32"};
  using Stored = std::function<uint64_t(const ParseResult &)>;
  const struct {
    bool jobCreate;
    Command command;
    QStringList others;
    QString option;
    QString least, most, above;
    Stored stored; // the value taken for `most`
    bool hex = false;
  } cases[] = {
      {false,
       Command::Load,
       {"--port", "p", "--file", "f"},
       "--count",
       "0",
       "999999",
       "1000000",
       [](const ParseResult &r) { return r.Get<LoadOptions>().load.count.toULongLong(); }},
      {false,
       Command::Set,
       {"--port", "p", "--mode", "online", "--power", "5v"},
       "--count",
       "0",
       "9999",
       "10000",
       [](const ParseResult &r) { return uint64_t(r.Get<SetOptions>().count); }},
      {false,
       Command::Verify,
       {"--port", "p"},
       "--timeout",
       "1",
       "86400",
       "86401",
       [](const ParseResult &r) { return uint64_t(r.Get<BoxOptions>().timeoutSeconds); }},
      {false,
       Command::Run,
       {"--job", "j"},
       "--units",
       "1",
       "1000000",
       "1000001",
       [](const ParseResult &r) { return uint64_t(r.Get<RunOptions>().units); }},
      {true, Command::Load, job + QStringList{"--lot-size", "1"}, "--retries", "0", "5", "6",
       [](const ParseResult &r) { return uint64_t(r.Get<JobCreateOptions>().retries); }},
      {true, Command::Load, job, "--lot-size", "1", "1000000", "1000001",
       [](const ParseResult &r) { return uint64_t(r.Get<JobCreateOptions>().lotSize); }},
      {true, Command::Load, serial, "--serial-start", "0", "4294967295", "4294967296",
       [](const ParseResult &r) { return uint64_t(r.Get<JobCreateOptions>().load.serialPlan.start); }},
      {true, Command::Load, serial, "--serial-step", "1", "4294967295", "4294967296",
       [](const ParseResult &r) { return uint64_t(r.Get<JobCreateOptions>().load.serialPlan.step); }},
      {true, Command::Load, serial, "--serial-block", "1", "1000", "1001",
       [](const ParseResult &r) { return uint64_t(r.Get<JobCreateOptions>().load.serialPlan.blockSize); }},
      {false,
       Command::CheckFile,
       {"--format", "bin", "f"},
       "--base",
       "0",
       "0xFFFFFFFF",
       "100000000",
       [](const ParseResult &r) { return uint64_t(r.Get<CheckFileOptions>().firmware.base); },
       true},
      {true, Command::Load, job + QStringList{"--lot-size", "1", "--serial-format", "dec:2"}, "--serial-at", "0000",
       "0x7FFE", "8000",
       [](const ParseResult &r) { return uint64_t(r.Get<JobCreateOptions>().load.serialPlan.address); }, true},
  };
  for (const auto &c : cases) {
    const auto parse = [&](const QString &value) {
      const QStringList args = c.others + QStringList{c.option, value};
      return c.jobCreate ? ParseJobOptions(JobCommand::Create, args) : ParseOptions(c.command, args);
    };
    const std::string what = c.option.toStdString() + " ";
    EXPECT_TRUE(parse(c.least).Ok()) << what << parse(c.least).error.toStdString();
    const ParseResult most = parse(c.most);
    ASSERT_TRUE(most.Ok()) << what << most.error.toStdString();
    EXPECT_EQ(c.stored(most), c.most.toULongLong(nullptr, 0)) << what;
    QStringList refused = (c.hex ? hexJunk : decimalJunk) + QStringList{c.above};
    if (const uint64_t least = c.least.toULongLong(nullptr, 0); least > 0)
      refused << QString::number(least - 1); // --units 0 would be "one per box"
    for (const QString &junk : refused) {
      const ParseResult r = parse(junk);
      EXPECT_FALSE(r.Ok()) << what << junk.toStdString();
      EXPECT_TRUE(r.error.startsWith(c.option + QStringLiteral(": expects ")) &&
                  r.error.endsWith(QStringLiteral(", got \"%1\"").arg(junk)))
          << what << junk.toStdString() << " -> " << r.error.toStdString();
    }
  }
}

TEST(CliOptions, SectorListsToMasks) {
  const std::pair<const char *, uint32_t> good[] = {
      {"1", 0x1},    {"32", 0x80000000}, {"1-32", 0xFFFFFFFF}, {"1-8,17,32", 0x800100FF},
      {"5-5", 0x10}, {"3,3,1-4", 0xF},   {"09", 0x100},        {"25-32,1", 0xFF000001},
  };
  for (auto [text, mask] : good) {
    const SectorListResult r = ParseSectorList(QString::fromLatin1(text));
    EXPECT_EQ(r.mask, std::optional<uint32_t>(mask)) << text << ": " << r.error.toStdString();
  }
  for (const char *bad : {"", "0", "33", "1,", ",1", "1-", "-3", "8-1", "1--3", "1-3-5", "a", "1 ,2", "100", "+1"}) {
    const SectorListResult r = ParseSectorList(QString::fromLatin1(bad));
    EXPECT_FALSE(r.mask.has_value()) << bad;
    EXPECT_FALSE(r.error.isEmpty()) << bad;
  }
}

TEST(CliOptions, RunStatusOfOneBoxAndOfAGang) {
  using R = ResultClass;
  const std::pair<std::vector<R>, int> cases[] = {
      {{R::Ok}, 0},
      {{R::VerifyMismatch}, 6},
      {{R::Ok, R::Ok, R::Ok}, 0},
      {{R::Ok, R::NoAnswer}, 1},
      {{R::PortLost, R::PortUnavailable}, 1},
      {{R::Ok, R::Interrupted}, 130},
  };
  for (const auto &[results, status] : cases)
    EXPECT_EQ(RunExitCode(results), status) << results.size();
}

// The manual page's lists of result classes and its exit statuses are written
// by hand; the table of classes is what the program does.
TEST(CliOptions, TheManualPageTellsWhatTheTableOfResultClassesSays) {
  QFile page(QStringLiteral(KAVRIN_SOURCE_DIR "/doc/kavrin-cli.1"));
  ASSERT_TRUE(page.open(QIODevice::ReadOnly)) << page.errorString().toStdString();
  const QString text = QString::fromUtf8(page.readAll());
  // The names of the .B/.BR lines after `anchor`, the quoted separators left out.
  const auto listAfter = [&](const char *anchor) {
    QStringList names;
    const qsizetype at = text.indexOf(QLatin1String(anchor));
    if (at < 0)
      return std::string("no such passage");
    for (const QString &line : text.mid(at + qsizetype(strlen(anchor))).split(QLatin1Char('\n'))) {
      if (!line.startsWith(QLatin1String(".B")))
        break;
      const QStringList parts = line.section(QLatin1Char(' '), 1).split(QLatin1Char('"'));
      for (qsizetype i = 0; i < parts.size(); i += 2)
        for (const QString &word : parts[i].split(QLatin1Char(' '), Qt::SkipEmptyParts))
          if (word.front().isLetter())
            names << word;
    }
    return names.join(QStringLiteral(", ")).toStdString();
  };
  const std::pair<const char *, QStringList> lists[] = {
      {".B result\nis one of\n", base::RecordedResultNames()},
      {"the failed units by the result class of their end:\n", base::FailingResultNames()},
  };
  for (const auto &[anchor, names] : lists)
    EXPECT_EQ(listAfter(anchor), names.join(QStringLiteral(", ")).toStdString()) << anchor;

  const QString statusSection = text.section(QStringLiteral(".SH EXIT STATUS"), 1).section(QStringLiteral(".SH "), 0, 0);
  std::set<int> told, expected = {kExitGangFailed, kExitUsage};
  for (const QString &item : statusSection.split(QStringLiteral(".TP\n.B "), Qt::SkipEmptyParts))
    told.insert(item.section(QLatin1Char('\n'), 0, 0).toInt());
  for (const base::ResultClassRow &row : base::ResultClasses())
    expected.insert(row.exitStatus);
  EXPECT_EQ(told, expected);
}

TEST(CliOptions, OnePortUnderTwoNamesIsGivenTwice) {
  QTemporaryDir dir;
  const QString link = dir.filePath(QStringLiteral("box"));
  ASSERT_TRUE(QFile::link(QStringLiteral("/dev/null"), link));
  const std::pair<QString, QString> same[] = {
      {QStringLiteral("/dev/null"), QStringLiteral("/dev//null")},
      {QStringLiteral("null"), QStringLiteral("/dev/./null")},
      {QStringLiteral("/dev/null"), link},
      {QStringLiteral("/nonexistent/tty0"), QStringLiteral("/nonexistent//tty0")},
  };
  for (const auto &[first, second] : same) {
    const ParseResult r =
        ParseOptions(Command::Verify, {QStringLiteral("--port"), first, QStringLiteral("--port"), second});
    EXPECT_FALSE(r.Ok()) << second.toStdString();
    EXPECT_EQ(r.error.toStdString(),
              QStringLiteral("--port: \"%1\" is given twice, as \"%2\" before (two boxes cannot share a port)")
                  .arg(second, first)
                  .toStdString());
  }
  // Two devices are two boxes, whatever their names share.
  EXPECT_EQ(Parsed<BoxOptions>(Command::Verify, {"--port", "/dev/null", "--port", "/dev/zero"}).ports.size(), 2);
}
