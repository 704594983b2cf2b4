// The chip line's fixed columns, the dataflash tables and their failure paths.
#include "base/exception.h"
#include "chip/chip_list.h"

#include <QCoreApplication>
#include <QFile>
#include <QRegularExpression>
#include <gtest/gtest.h>
#include <map>
#include <memory>

using namespace chip;

namespace {

// A chip line with the fields in their columns.
QString Line(const QString &name, const QString &start, const QString &end, const QString &size, const QString &code) {
  QString s = QStringLiteral("%1").arg(QStringLiteral("7"), -3);
  s += name.leftJustified(15, QLatin1Char(' '), true);
  s += QString(6, QLatin1Char(' ')) + start.leftJustified(4, QLatin1Char(' '), true);
  s += QStringLiteral(" - ") + end.leftJustified(4, QLatin1Char(' '), true);
  s += QString(9, QLatin1Char(' ')) + size.leftJustified(4, QLatin1Char(' '), true);
  s += QString(6, QLatin1Char(' ')) + code;
  return s;
}

// The chip record and the image size a choice writes, as the window keeps them.
struct ChipState : ChipRecord {
  uint32_t ImageSize = 0;
};
void ChooseChip(const QString &line, std::optional<DataflashUse> use, ChipState &s, ChipChoice &c) {
  ::ChooseChip(line, use, s, s.ImageSize, c);
}
void ChangeDataflashUse(DataflashUse use, ChipState &s, ChipChoice &c) { ::ChangeDataflashUse(use, s, s.ImageSize, c); }
constexpr DataflashUse kUseCode = DataflashUse::Code;
constexpr DataflashUse kUseEeprom = DataflashUse::Eeprom;

QString Chip32K(const QString &code) { return Line(QStringLiteral("PAC5223"), "0000", "7FFF", "32K", code); }

struct ChipTest : ::testing::Test {
  std::unique_ptr<ChipState> state = std::make_unique<ChipState>();
  ChipChoice choice{QStringLiteral("old name"), QStringLiteral("old range"), false, false};
};

} // namespace

TEST(CutChipLine, TakesEachFieldFromItsColumns) {
  const ChipFields f = CutChipLine(QStringLiteral("12 ") + "PAC5223 abcdefg" + "XXXXXX" + "0123" + "XXX" + "4567" +
                                   "XXXXXXXXX" + "32K " + "XXXXXX" + "0xB0" + " trailing");
  EXPECT_EQ(f.Name, QStringLiteral("PAC5223 abcdefg"));
  EXPECT_EQ(f.Start, QStringLiteral("0123"));
  EXPECT_EQ(f.End, QStringLiteral("4567"));
  EXPECT_EQ(f.SizeText, QStringLiteral("32K "));
  EXPECT_EQ(f.Code, QStringLiteral("0xB0"));
}

TEST(CutChipLine, KeepsBlanksOfTheName) {
  const ChipFields f = CutChipLine(Chip32K(QStringLiteral("0xB0")));
  EXPECT_EQ(f.Name, QStringLiteral("PAC5223        "));
  EXPECT_EQ(f.Start, QStringLiteral("0000"));
  EXPECT_EQ(f.End, QStringLiteral("7FFF"));
}

TEST(CutChipLine, FieldsPastTheEndAreShortOrEmpty) {
  struct Case {
    QString line;
    ChipFields expected;
  } cases[] = {
      {QString(), {}},
      {QStringLiteral("ab"), {}},
      {QStringLiteral("123PAC"), {QStringLiteral("PAC"), {}, {}, {}, {}}},
      // Line ending inside the start column.
      {QStringLiteral("123PAC5210              00"),
       {QStringLiteral("PAC5210        "), QStringLiteral("00"), {}, {}, {}}},
      // Ending inside the size column and inside the code column.
      {Line("N", "0000", "1FFF", "8K", "").left(45), {"N              ", "0000", "1FFF", "8", {}}},
      {Line("N", "0000", "1FFF", "8K", "0x00").left(56), {"N              ", "0000", "1FFF", "8K  ", "0x"}},
  };
  for (const auto &c : cases) {
    const ChipFields f = CutChipLine(c.line);
    EXPECT_EQ(f.Name, c.expected.Name) << c.line.toStdString();
    EXPECT_EQ(f.Start, c.expected.Start) << c.line.toStdString();
    EXPECT_EQ(f.End, c.expected.End) << c.line.toStdString();
    EXPECT_EQ(f.SizeText, c.expected.SizeText) << c.line.toStdString();
    EXPECT_EQ(f.Code, c.expected.Code) << c.line.toStdString();
  }
}

TEST(SizeDigits, FirstCharacterAndTheSecondUnlessK) {
  const std::pair<const char *, const char *> cases[] = {
      {"32K ", "32"}, {"8K  ", "8"}, {"12K ", "12"}, {" 32K", " 3"}, {"K   ", "K "}, {"8", "8"}, {"", ""}, {"ab", "ab"},
  };
  for (const auto &[text, digits] : cases)
    EXPECT_EQ(SizeDigits(QString::fromLatin1(text)), QString::fromLatin1(digits)) << text;
}

TEST(SizeKiB, ReadsDecimalDigitsWithLeadingBlanks) {
  EXPECT_EQ(SizeKiB(QStringLiteral("32")), 32);
  EXPECT_EQ(SizeKiB(QStringLiteral(" 3")), 3);
  EXPECT_EQ(SizeKiB(QStringLiteral("08")), 8);
}

TEST(SizeKiB, RejectsEverythingElseWithTheDigitsInTheText) {
  for (const char *bad : {"", " ", "K", "3K", "-5", "+5", "$F", "ab", "3 "}) {
    try {
      SizeKiB(QString::fromLatin1(bad));
      ADD_FAILURE() << "accepted '" << bad << "'";
    } catch (const base::EConvertError &e) {
      EXPECT_EQ(e.Message(), QStringLiteral("'%1' is not a valid integer value").arg(QString::fromLatin1(bad)));
    }
  }
}

TEST_F(ChipTest, WorkedExamples) {
  struct Case {
    const char *code;
    DataflashUse item;
    const char *codeAfter;
    const char *sizeK;
    uint32_t imageSize;
    const char *edit2;
    bool radioEnabled;
  } cases[] = {
      {"0xB0", kUseCode, "0xB0", "36", 36864, "B000-BFFF+0000-7FFF=36K", true},
      {"0xB0", kUseEeprom, "0xB1", "32", 32768, "0000-7FFF=32K", true},
      {"0x14", kUseCode, "0x14", "36", 36864, "1000-1FFF+0000-7FFF=36K", true},
      {"0x14", kUseEeprom, "0x15", "32", 32768, "0000-7FFF=32K", true},
      {"0x10", kUseCode, "0x10", "36", 36864, "1000-1FFF+0000-7FFF=36K", true},
      {"0x10", kUseEeprom, "0x11", "32", 32768, "0000-7FFF=32K", true},
      {"0xB2", kUseCode, "0xB2", "36", 36864, "B000-BFFF+0000-7FFF=36K", true},
      {"0xB2", kUseEeprom, "0xB3", "32", 32768, "0000-7FFF=32K", true},
      {"0x00", kUseCode, "0x00", "32", 32768, " 0000 - 7FFF 32K ", false},
      {"0x00", kUseEeprom, "0x00", "32", 32768, " 0000 - 7FFF 32K ", false},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(std::string(c.code) + (c.item == kUseCode ? " CODE" : " EEPROM"));
    ChipState s;
    ChipChoice ctl{QString(), QString(), !c.radioEnabled, false};
    ChooseChip(Chip32K(QString::fromLatin1(c.code)), c.item, s, ctl);
    EXPECT_EQ(s.ChipName, QStringLiteral("PAC5223        "));
    EXPECT_EQ(s.ChipStart, QStringLiteral("0000"));
    EXPECT_EQ(s.ChipEnd, QStringLiteral("7FFF"));
    EXPECT_EQ(s.ChipSizeText, QStringLiteral("32K "));
    EXPECT_EQ(s.DataflashCode, QString::fromLatin1(c.codeAfter));
    EXPECT_EQ(s.ChipSizeK, QString::fromLatin1(c.sizeK));
    EXPECT_EQ(s.ImageSize, c.imageSize);
    EXPECT_EQ(ctl.name, QStringLiteral(" PAC5223        "));
    EXPECT_EQ(ctl.range, QString::fromLatin1(c.edit2));
    EXPECT_EQ(ctl.dataflashChoice, c.radioEnabled);
    EXPECT_TRUE(ctl.loadReady);
  }
}

TEST_F(ChipTest, SmallSizes) {
  struct Case {
    const char *size;
    const char *code;
    DataflashUse item;
    const char *sizeK;
    uint32_t imageSize;
    const char *edit2;
  } cases[] = {
      {"8K", "0xB0", kUseEeprom, "8", 8192, "0000-1FFF=8K"},
      {"8K", "0xB0", kUseCode, "12", 12288, "B000-BFFF+0000-1FFF=12K"},
      {"8K", "0x00", kUseCode, "8", 8192, " 0000 - 1FFF 8K  "},
      {"12K", "0x10", kUseCode, "16", 16384, "1000-1FFF+0000-1FFF=16K"},
      {"12K", "0x10", kUseEeprom, "12", 12288, "0000-1FFF=12K"},
      {"12K", "0x00", kUseEeprom, "12", 12288, " 0000 - 1FFF 12K "},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(std::string(c.size) + " " + c.code);
    ChooseChip(Line("N", "0000", "1FFF", QString::fromLatin1(c.size), QString::fromLatin1(c.code)), c.item, *state,
               choice);
    EXPECT_EQ(state->ChipSizeK, QString::fromLatin1(c.sizeK));
    EXPECT_EQ(state->ImageSize, c.imageSize);
    EXPECT_EQ(choice.range, QString::fromLatin1(c.edit2));
  }
}

TEST_F(ChipTest, SizeColumnBeginningWithABlankIsReadAsItsFirstDigit) {
  QString line = Chip32K(QStringLiteral("0x00"));
  line.replace(44, 4, QStringLiteral(" 32K"));
  ChooseChip(line, kUseCode, *state, choice);
  EXPECT_EQ(state->ChipSizeText, QStringLiteral(" 32K"));
  EXPECT_EQ(state->ChipSizeK, QStringLiteral(" 3"));
  EXPECT_EQ(state->ImageSize, 3072u);
  EXPECT_EQ(choice.range, QStringLiteral(" 0000 - 7FFF  32K"));

  // With dataflash used as code the blank is lost in the sum.
  line = Chip32K(QStringLiteral("0xB0"));
  line.replace(44, 4, QStringLiteral(" 32K"));
  ChooseChip(line, kUseCode, *state, choice);
  EXPECT_EQ(state->ChipSizeK, QStringLiteral("7"));
  EXPECT_EQ(state->ImageSize, 7168u);
  EXPECT_EQ(choice.range, QStringLiteral("B000-BFFF+0000-7FFF=7K"));
}

TEST_F(ChipTest, EmptyLineEmptiesTheRecordAndChangesOnlyNameRadioAndLoad) {
  ChooseChip(Chip32K(QStringLiteral("0xB0")), kUseEeprom, *state, choice);
  choice.loadReady = false;
  choice.dataflashChoice = false;
  const ChipChoice before = choice;

  ChooseChip(QString(), kUseEeprom, *state, choice);
  EXPECT_EQ(state->ChipName, QString());
  EXPECT_EQ(state->ChipStart, QString());
  EXPECT_EQ(state->ChipEnd, QString());
  EXPECT_EQ(state->ChipSizeText, QString());
  EXPECT_EQ(state->DataflashCode, QString());
  EXPECT_EQ(state->ChipSizeK, QStringLiteral("32")) << "not a row of the table: kept";
  EXPECT_EQ(state->ImageSize, 32768u);
  EXPECT_EQ(choice.name, QStringLiteral(" "));
  EXPECT_EQ(choice.range, before.range);
  EXPECT_TRUE(choice.dataflashChoice);
  EXPECT_TRUE(choice.loadReady);
}

TEST_F(ChipTest, HeadingAndUnknownCodesTakeTheLastRow) {
  for (const char *code : {"0xB1", "0x11", "0xB3", "0x15", "Data", "0xb0", "0x01"}) {
    SCOPED_TRACE(code);
    for (DataflashUse item : {kUseCode, kUseEeprom}) {
      state->ImageSize = 1234;
      state->ChipSizeK = QStringLiteral("99");
      choice = {QStringLiteral("x"), QStringLiteral("old range"), false, false};
      ChooseChip(Chip32K(QString::fromLatin1(code)), item, *state, choice);
      EXPECT_EQ(state->DataflashCode, QString::fromLatin1(code));
      EXPECT_EQ(state->ChipSizeK, QStringLiteral("99"));
      EXPECT_EQ(state->ImageSize, 1234u);
      EXPECT_EQ(choice.name, QStringLiteral(" PAC5223        "));
      EXPECT_EQ(choice.range, QStringLiteral("old range"));
      EXPECT_TRUE(choice.dataflashChoice);
      EXPECT_TRUE(choice.loadReady);
    }
  }
}

TEST_F(ChipTest, NoItemSelectedAppliesNoRow) {
  state->ImageSize = 77;
  ChooseChip(Chip32K(QStringLiteral("0xB0")), std::nullopt, *state, choice);
  EXPECT_EQ(state->DataflashCode, QStringLiteral("0xB0"));
  EXPECT_EQ(state->ImageSize, 77u);
  EXPECT_EQ(choice.range, QStringLiteral("old range"));
  EXPECT_TRUE(choice.loadReady);
}

TEST_F(ChipTest, NoDataflashChipAfterADataflashChipDisablesTheChoice) {
  ChooseChip(Chip32K(QStringLiteral("0xB0")), kUseEeprom, *state, choice);
  EXPECT_TRUE(choice.dataflashChoice);
  ChooseChip(Line("PAC5210", "0000", "1FFF", "8K", "0x00"), kUseEeprom, *state, choice);
  EXPECT_FALSE(choice.dataflashChoice);
  EXPECT_EQ(state->DataflashCode, QStringLiteral("0x00"));
  EXPECT_EQ(state->ChipSizeK, QStringLiteral("8"));
  EXPECT_EQ(state->ImageSize, 8192u);
  EXPECT_EQ(choice.name, QStringLiteral(" PAC5210        "));
  EXPECT_EQ(choice.range, QStringLiteral(" 0000 - 1FFF 8K  "));
}

TEST_F(ChipTest, BadSizeOnADataflashChipStopsAtTheConversion) {
  for (DataflashUse item : {kUseCode, kUseEeprom}) {
    SCOPED_TRACE(int(item));
    state->ImageSize = 4096;
    choice = {QStringLiteral("old name"), QStringLiteral("old range"), false, false};
    const QString line = Line("PAC52XY", "0000", "7FFF", "XXK", "0xB0");
    try {
      ChooseChip(line, item, *state, choice);
      FAIL() << "no error";
    } catch (const base::EConvertError &e) {
      EXPECT_EQ(e.Message(), QStringLiteral("'XX' is not a valid integer value"));
    }
    EXPECT_EQ(state->ChipName, QStringLiteral("PAC52XY        "));
    EXPECT_EQ(state->ChipSizeText, QStringLiteral("XXK "));
    EXPECT_EQ(state->DataflashCode, item == kUseEeprom ? QStringLiteral("0xB1") : QStringLiteral("0xB0"));
    EXPECT_EQ(state->ChipSizeK, QStringLiteral("XX"));
    EXPECT_EQ(state->ImageSize, 4096u);
    EXPECT_TRUE(choice.dataflashChoice);
    EXPECT_EQ(choice.name, QStringLiteral(" PAC52XY        "));
    EXPECT_EQ(choice.range, QStringLiteral("old range"));
    EXPECT_FALSE(choice.loadReady);
  }
}

TEST_F(ChipTest, BadSizeOnANoDataflashChipHasItsRangeShown) {
  state->ImageSize = 4096;
  choice.dataflashChoice = true;
  try {
    ChooseChip(Line("PAC5210", "0000", "1FFF", "-8K", "0x00"), kUseCode, *state, choice);
    FAIL() << "no error";
  } catch (const base::EConvertError &e) {
    EXPECT_EQ(e.Message(), QStringLiteral("'-8' is not a valid integer value"));
  }
  EXPECT_EQ(state->ChipSizeK, QStringLiteral("-8"));
  EXPECT_EQ(state->ImageSize, 4096u);
  EXPECT_FALSE(choice.dataflashChoice);
  EXPECT_EQ(choice.name, QStringLiteral(" PAC5210        "));
  EXPECT_EQ(choice.range, QStringLiteral(" 0000 - 1FFF -8K "));
  EXPECT_FALSE(choice.loadReady);
}

TEST_F(ChipTest, BlankSizeColumnIsABadSize) {
  QString line = Chip32K(QStringLiteral("0x00"));
  line.replace(44, 4, QStringLiteral("    "));
  EXPECT_THROW(ChooseChip(line, kUseCode, *state, choice), base::EConvertError);
  EXPECT_EQ(state->ChipSizeK, QStringLiteral("  "));
}

TEST_F(ChipTest, SwitchingToEepromAndBackToCode) {
  ChooseChip(Chip32K(QStringLiteral("0xB0")), kUseCode, *state, choice);
  const ChipChoice chosen = choice;

  ChangeDataflashUse(kUseEeprom, *state, choice);
  EXPECT_EQ(state->DataflashCode, QStringLiteral("0xB1"));
  EXPECT_EQ(state->ChipSizeK, QStringLiteral("32"));
  EXPECT_EQ(state->ImageSize, 32768u);
  EXPECT_EQ(choice.range, QStringLiteral("0000-7FFF=32K"));

  // An EEPROM row accepts only a CODE value: selecting EEPROM again changes nothing.
  ChangeDataflashUse(kUseEeprom, *state, choice);
  EXPECT_EQ(state->DataflashCode, QStringLiteral("0xB1"));
  EXPECT_EQ(state->ImageSize, 32768u);

  ChangeDataflashUse(kUseCode, *state, choice);
  EXPECT_EQ(state->DataflashCode, QStringLiteral("0xB0"));
  EXPECT_EQ(state->ChipSizeK, QStringLiteral("36"));
  EXPECT_EQ(state->ImageSize, 36864u);
  EXPECT_EQ(choice.range, QStringLiteral("B000-BFFF+0000-7FFF=36K"));
  ChangeDataflashUse(kUseCode, *state, choice);
  EXPECT_EQ(state->ChipSizeK, QStringLiteral("36")) << "CODE twice is CODE once";
  EXPECT_EQ(state->ImageSize, 36864u);

  // Name, choice and load button belong to the chip choice only.
  EXPECT_EQ(choice.name, chosen.name);
  EXPECT_EQ(choice.dataflashChoice, chosen.dataflashChoice);
  EXPECT_EQ(choice.loadReady, chosen.loadReady);
}

TEST_F(ChipTest, ChangeOfUseTable) {
  const std::map<QString, std::pair<QString, QString>> table = {
      // code before -> (after CODE, after EEPROM)
      {"0xB0", {"0xB0", "0xB1"}}, {"0xB1", {"0xB0", "0xB1"}}, {"0x10", {"0x10", "0x11"}}, {"0x11", {"0x10", "0x11"}},
      {"0xB2", {"0xB2", "0xB3"}}, {"0xB3", {"0xB2", "0xB3"}}, {"0x14", {"0x14", "0x15"}}, {"0x15", {"0x14", "0x15"}},
  };
  const std::map<QString, QString> prefix = {
      {"0xB0", "B000-BFFF+"}, {"0xB2", "B000-BFFF+"}, {"0x10", "1000-1FFF+"}, {"0x14", "1000-1FFF+"}};
  for (const auto &[before, after] : table) {
    for (DataflashUse item : {kUseCode, kUseEeprom}) {
      SCOPED_TRACE(before.toStdString() + (item == kUseCode ? " CODE" : " EEPROM"));
      ChipState s;
      s.ChipStart = QStringLiteral("0000");
      s.ChipEnd = QStringLiteral("3FFF");
      s.ChipSizeText = QStringLiteral("16K ");
      s.DataflashCode = before;
      s.ChipSizeK = QStringLiteral("0");
      ChipChoice ctl{QStringLiteral("name"), QString(), true, true};
      ChangeDataflashUse(item, s, ctl);
      const bool eepromRow = item == kUseEeprom;
      // An EEPROM row accepts only a CODE value.
      const bool applies = !eepromRow || before == after.first;
      if (!applies) {
        EXPECT_EQ(s.DataflashCode, before);
        EXPECT_EQ(s.ChipSizeK, QStringLiteral("0"));
        EXPECT_EQ(s.ImageSize, 0u);
        EXPECT_EQ(ctl.range, QString());
        continue;
      }
      const QString code = eepromRow ? after.second : after.first;
      EXPECT_EQ(s.DataflashCode, code);
      EXPECT_EQ(s.ChipSizeK, eepromRow ? QStringLiteral("16") : QStringLiteral("20"));
      EXPECT_EQ(s.ImageSize, eepromRow ? 16384u : 20480u);
      EXPECT_EQ(ctl.range,
                eepromRow ? QStringLiteral("0000-3FFF=16K") : prefix.at(after.first) + QStringLiteral("0000-3FFF=20K"));
      EXPECT_EQ(ctl.name, QStringLiteral("name"));
    }
  }
}

TEST_F(ChipTest, ChangeOfUseWithoutADataflashChipDoesNothing) {
  for (const char *code : {"", "0x00", "Data"}) {
    for (DataflashUse item : {kUseCode, kUseEeprom}) {
      state->DataflashCode = QString::fromLatin1(code);
      state->ChipSizeText = QStringLiteral("32K ");
      state->ChipSizeK = QString();
      state->ImageSize = 0;
      ChangeDataflashUse(item, *state, choice);
      EXPECT_EQ(state->DataflashCode, QString::fromLatin1(code));
      EXPECT_EQ(state->ChipSizeK, QString());
      EXPECT_EQ(state->ImageSize, 0u);
      EXPECT_EQ(choice.range, QStringLiteral("old range"));
    }
  }
}

TEST_F(ChipTest, BadSizeStopsTheChangeOfUseAfterCodeAndSize) {
  state->ChipStart = QStringLiteral("0000");
  state->ChipEnd = QStringLiteral("7FFF");
  state->ChipSizeText = QStringLiteral("?2K ");
  state->DataflashCode = QStringLiteral("0x11");
  state->ImageSize = 555;
  try {
    ChangeDataflashUse(kUseCode, *state, choice);
    FAIL() << "no error";
  } catch (const base::EConvertError &e) {
    EXPECT_EQ(e.Message(), QStringLiteral("'?2' is not a valid integer value"));
  }
  EXPECT_EQ(state->DataflashCode, QStringLiteral("0x10"));
  EXPECT_EQ(state->ChipSizeK, QStringLiteral("?2"));
  EXPECT_EQ(state->ImageSize, 555u);
  EXPECT_EQ(choice.range, QStringLiteral("old range"));
}

// The list shipped beside the program: every chip line must choose cleanly.
TEST(ShippedChipList, EveryChipLineParses) {
  // The build copies the list beside every executable it makes, this test's too.
  QFile file(QCoreApplication::applicationDirPath() + QStringLiteral("/MCUtype.txt"));
  ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << file.fileName().toStdString();
  const QByteArray bytes = file.readAll();
  for (char c : bytes)
    ASSERT_TRUE(uchar(c) < 0x80) << "plain ASCII";
  const QStringList lines = QString::fromLatin1(bytes).split(QLatin1Char('\n'));
  const QRegularExpression hex4(QStringLiteral("^[0-9A-F]{4}$"));
  std::map<QString, int> perCode;
  int chips = 0;
  for (const QString &line : lines) {
    const ChipFields f = CutChipLine(line);
    const bool known = QStringList{"0x00", "0xB0", "0xB2", "0x10", "0x14"}.contains(f.Code);
    EXPECT_FALSE(f.Code.startsWith(QStringLiteral("0x")) && !known) << line.toStdString();
    if (!known)
      continue;
    SCOPED_TRACE(line.toStdString());
    ++chips;
    ++perCode[f.Code];
    EXPECT_TRUE(f.Name.startsWith(QStringLiteral("PAC52")));
    EXPECT_TRUE(hex4.match(f.Start).hasMatch());
    EXPECT_TRUE(hex4.match(f.End).hasMatch());
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^(\\dK  |\\d\\dK )$")).match(f.SizeText).hasMatch());
    const int kib = SizeKiB(SizeDigits(f.SizeText));
    EXPECT_EQ(int(f.End.toUInt(nullptr, 16)) - int(f.Start.toUInt(nullptr, 16)) + 1, kib * 1024);
    for (DataflashUse item : {kUseCode, kUseEeprom}) {
      ChipState s;
      ChipChoice ctl;
      EXPECT_NO_THROW(ChooseChip(line, item, s, ctl));
      EXPECT_TRUE(ctl.loadReady);
    }
  }
  EXPECT_GE(chips, 5);
  for (const char *code : {"0x00", "0xB0", "0xB2", "0x10", "0x14"})
    EXPECT_GE(perCode[QString::fromLatin1(code)], 1) << code;
}
