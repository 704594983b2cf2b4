#include "chip/chip_record.h"
#include "protocol/clocks.h"

#include <gtest/gtest.h>
#include <map>

using namespace protocol;

namespace {

TEST(ClockIntervalsTest, SpanWrapsAndDivides) {
  struct Case {
    const char *start, *end;
    int verify, readOut;
  } cases[] = {
      {"0000", "7FFF", 327, 255},
      {"0000", "0063", 0, 0},               // below 100: never ticks
      {"8000", "0000", 42949345, 33554176}, // End below Start wraps
      {"", "", 0, 0},                       // nothing chosen
      {"xyz", "0100", 2, 2},                // not hex counts as 0
  };
  for (const auto &c : cases) {
    chip::ChipRecord chip;
    chip.ChipStart = QString::fromLatin1(c.start);
    chip.ChipEnd = QString::fromLatin1(c.end);
    const chip::ChipNumbers n = chip::ParseChipNumbers(chip);
    EXPECT_EQ(VerifyInterval(n.start, n.end), c.verify) << c.start << ".." << c.end;
    EXPECT_EQ(ReadOutInterval(n.start, n.end), c.readOut) << c.start << ".." << c.end;
    EXPECT_EQ(EraseProgramVerifyInterval(n.start, n.end), c.readOut) << c.start << ".." << c.end;
  }
  EXPECT_EQ(FileTransferInterval(32768), 142);
}

TEST(ProgressStepTest, StepsToNinetyEightThenAsksToStop) {
  uint32_t percent = 0;
  int ticks = 0;
  while (ProgressStep(percent))
    ++ticks;
  EXPECT_EQ(ticks, 98);
  EXPECT_EQ(percent, 98u);
  EXPECT_FALSE(ProgressStep(percent));
  EXPECT_EQ(percent, 98u);
  uint32_t full = 100;
  EXPECT_FALSE(ProgressStep(full));
  EXPECT_EQ(full, 100u);
}

TEST(ElapsedStepTest, SecondsAndTenthsAndTheTimeOutTick) {
  OperationState state;
  std::vector<uint32_t> timeOutTicks;
  // Ticks and the seconds and tenths shown after them.
  const std::map<uint32_t, std::pair<uint32_t, uint32_t>> expected = {{1, {0, 1}}, {123, {12, 3}}, {1200, {120, 0}}};
  for (uint32_t tick = 1; tick <= 1300; ++tick) {
    if (ElapsedStep(state))
      timeOutTicks.push_back(tick);
    const std::pair<uint32_t, uint32_t> shown{state.ElapsedSeconds, state.ElapsedTenths};
    if (const auto it = expected.find(tick); it != expected.end()) {
      EXPECT_EQ(shown, it->second) << tick;
    }
  }
  EXPECT_EQ(timeOutTicks, std::vector<uint32_t>{1200});
}

} // namespace
