// The sector mask: bit n-1 for box n, sent most significant byte first.
#include "chip/sectors.h"

#include <gtest/gtest.h>

using namespace chip;

namespace {
std::array<bool, kSectorCount> Only(std::initializer_list<int> sectors) {
  std::array<bool, kSectorCount> checked{};
  for (int n : sectors)
    checked[size_t(n - 1)] = true;
  return checked;
}
} // namespace

TEST(SectorMask, BytesInBlockOrder) {
  std::array<bool, kSectorCount> all;
  all.fill(true);
  struct Case {
    std::array<bool, kSectorCount> checked;
    uint32_t mask;
    std::array<uint8_t, 4> bytes;
  } cases[] = {
      {Only({1}), 0x00000001u, {0x00, 0x00, 0x00, 0x01}},
      {Only({32}), 0x80000000u, {0x80, 0x00, 0x00, 0x00}},
      {Only({8, 9}), 0x00000180u, {0x00, 0x00, 0x01, 0x80}},
      {Only({17, 25}), 0x01010000u, {0x01, 0x01, 0x00, 0x00}},
      {Only({}), 0u, {0x00, 0x00, 0x00, 0x00}},
      {all, 0xFFFFFFFFu, {0xFF, 0xFF, 0xFF, 0xFF}},
  };
  for (const auto &c : cases) {
    EXPECT_EQ(SectorMask(c.checked), c.mask);
    EXPECT_EQ(SectorMaskBytes(SectorMask(c.checked)), c.bytes);
  }
}

TEST(SectorMask, EachBoxOwnsItsBit) {
  for (int n = 1; n <= kSectorCount; ++n)
    EXPECT_EQ(SectorMask(Only({n})), uint32_t{1} << (n - 1)) << n;
}
