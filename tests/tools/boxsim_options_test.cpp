// The simulator's command line.
#include "options.h"

#include <gtest/gtest.h>

using namespace boxsim;

namespace {

Config Parse(std::vector<std::string> args) {
  const auto r = ParseArgs(args);
  EXPECT_TRUE(r.config.has_value()) << r.error;
  return r.config.value_or(Config{});
}

} // namespace

TEST(BoxSimOptions, DefaultsAreAPlainOfflineBox) {
  const Config c = Parse({});
  EXPECT_FALSE(c.box.protectedChip);
  EXPECT_FALSE(c.box.silent);
  EXPECT_EQ(c.box.failAtBlock, -1);
  EXPECT_FALSE(c.box.mismatchAddr.has_value());
  EXPECT_EQ(c.box.order, (std::vector<int>{1, 2, 3, 4, 5, 6, 7}));
  EXPECT_EQ(c.box.thinkUs, 0);
  EXPECT_EQ(c.box.chipFill, 0xFF);
  EXPECT_FALSE(c.paced);
  EXPECT_TRUE(c.linkPath.empty());
  EXPECT_TRUE(c.logPath.empty());
}

TEST(BoxSimOptions, EveryOptionIsTaken) {
  const Config c = Parse({"--protected", "--silent", "--paced", "--fail-at-block", "3", "--fail-times", "1",
                          "--mismatch", "0x1234", "--order=3,1,1,2", "--think", "250", "--chip-fill", "0x00", "--link", "/tmp/box",
                          "--log=/tmp/box.log", "--exit-with-parent", "--parent-pid", "4321", "--version"});
  EXPECT_TRUE(c.box.protectedChip);
  EXPECT_TRUE(c.box.silent);
  EXPECT_TRUE(c.paced);
  EXPECT_EQ(c.box.failAtBlock, 3);
  EXPECT_EQ(c.box.failTimes, 1);
  EXPECT_EQ(c.box.mismatchAddr, 0x1234);
  EXPECT_EQ(c.box.order, (std::vector<int>{3, 1, 1, 2}));
  EXPECT_EQ(c.box.thinkUs, 250'000);
  EXPECT_EQ(c.box.chipFill, 0x00);
  EXPECT_EQ(c.linkPath, "/tmp/box");
  EXPECT_EQ(c.logPath, "/tmp/box.log");
  EXPECT_TRUE(c.exitWithParent);
  EXPECT_EQ(c.parentPid, 4321);
  EXPECT_TRUE(c.version);
}

TEST(BoxSimOptions, NumbersAreDecimalOrHex) {
  EXPECT_EQ(ParseNumber("4660", 0xFFFF), 4660);
  EXPECT_EQ(ParseNumber("0x1234", 0xFFFF), 0x1234);
  EXPECT_EQ(ParseNumber("0XfF", 255), 255);
  EXPECT_EQ(ParseNumber("0100", 0xFFFF), 100); // not octal
  EXPECT_EQ(ParseNumber("256", 255), std::nullopt);
  EXPECT_EQ(ParseNumber("0x", 255), std::nullopt);
  EXPECT_EQ(ParseNumber("", 255), std::nullopt);
  EXPECT_EQ(ParseNumber("12a", 255), std::nullopt);
  EXPECT_EQ(ParseNumber("-1", 255), std::nullopt);
  EXPECT_EQ(ParseNumber("99999999999999999999", 0x7FFFFFFF), std::nullopt);
}

TEST(BoxSimOptions, BadCommandLinesAreRefusedWithAReason) {
  const std::vector<std::vector<std::string>> bad = {
      {"--order", "3,,4"},       {"--order", ""}, {"--order", "1,2,256"},
      {"--mismatch", "0x10000"}, {"--think"},     {"--fail-at-block", "x"},
      {"--chip-fill", "300"},    {"--link"},      {"--log="},
      {"--fail-times", "-1"},
      {"--parent-pid", "0"},     {"--bogus"},     {"--silent=1"},
  };
  for (const auto &args : bad) {
    const auto r = ParseArgs(args);
    EXPECT_FALSE(r.config.has_value()) << args[0];
    EXPECT_FALSE(r.error.empty()) << args[0];
  }
}

TEST(BoxSimOptions, HelpIsAFlag) {
  EXPECT_TRUE(Parse({"--help"}).help);
  EXPECT_NE(UsageText().find("--fail-at-block K"), std::string::npos);
}
