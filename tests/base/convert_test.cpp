#include "base/convert.h"
#include "base/exception.h"

#include <gtest/gtest.h>

using namespace base;

TEST(HexText, ValidAndInvalidTextsGiveTheirValueOrZero) {
  struct Case {
    const char *text;
    uint32_t value;
  } cases[] = {
      {"0000", 0},
      {"8000", 0x8000},
      {"7FFF", 0x7FFF},
      {"b0", 0xB0},
      {"FF", 0xFF},
      {"", 0},
      {" 12", 0},
      {"12 ", 0},
      {"0x12", 0},
      {"G1", 0},
      {"$12", 0},
      {"-1", 0},
      {"FFFFFFFF", 0xFFFFFFFF},
      {"123456789", 0},
      {"ab", 0xAB},
  };
  for (const auto &c : cases)
    EXPECT_EQ(HexTextToInt(QString::fromLatin1(c.text)), c.value) << '"' << c.text << '"';
  EXPECT_EQ(HexTextToInt(QStringLiteral("１２")), 0u) << "full-width digits are not hex digits";
  EXPECT_EQ(HexTextToInt(std::string_view("3F")), 0x3Fu);
}

TEST(StrToInt, AcceptsWhatAnOperatorTypes) {
  EXPECT_EQ(StrToInt(QStringLiteral("1234")), 1234);
  EXPECT_EQ(StrToInt(QStringLiteral("0000")), 0);
  EXPECT_EQ(StrToInt(QStringLiteral(" 3")), 3) << "leading blanks are skipped";
  EXPECT_EQ(StrToInt(QStringLiteral("-7")), -7);
  EXPECT_EQ(StrToInt(QStringLiteral("$1F")), 31);
  EXPECT_EQ(StrToInt(QStringLiteral("2147483647")), 2147483647);
  EXPECT_EQ(StrToInt(QStringLiteral("-2147483648")), INT32_MIN);
}

TEST(StrToInt, RejectsWithTheConversionText) {
  for (const char *bad : {"", " ", "3 ", "3K", "abc", "2147483648", "1.5", "+", "$"}) {
    try {
      StrToInt(QString::fromLatin1(bad));
      ADD_FAILURE() << "accepted '" << bad << "'";
    } catch (const EConvertError &e) {
      EXPECT_EQ(e.Message(), QStringLiteral("'%1' is not a valid integer value").arg(QString::fromLatin1(bad)));
    }
  }
}

TEST(ErrorTexts, AreComposedExactly) {
  EXPECT_EQ(CannotOpenFileText(QStringLiteral("/x/MCUtype.txt"), QStringLiteral("No such file or directory")),
            QStringLiteral("Cannot open file \"/x/MCUtype.txt\". No such file or directory"));
  EXPECT_EQ(UnableToWriteText(QStringLiteral("/x/sysset.ini")), QStringLiteral("Unable to write to /x/sysset.ini"));
  EXPECT_EQ(NotValidIntegerText(QStringLiteral(" K")), QStringLiteral("' K' is not a valid integer value"));
}

TEST(IntToHex, PadsAndUpperCases) {
  EXPECT_EQ(IntToHex(0xab, 2), QStringLiteral("AB"));
  EXPECT_EQ(IntToHex(0x7F8000, 8), QStringLiteral("007F8000"));
  EXPECT_EQ(IntToHex(0x10000, 4), QStringLiteral("10000"));
}
