#pragma once
// Sector selection: the 32 sector boxes travel to the box as one 32-bit mask in
// every image block. Bit n-1 is set exactly when box n ("Sector<n>") is
// checked; the mask is stored most significant byte first, so the first byte
// carries sectors 25-32 and the last byte sectors 1-8.

#include <array>
#include <cstdint>

namespace chip {

inline constexpr int kSectorCount = 32;

// checked[i] is the state of box i+1.
uint32_t SectorMask(const std::array<bool, kSectorCount> &checked);

// The mask as it is laid into a block: most significant byte first.
std::array<uint8_t, 4> SectorMaskBytes(uint32_t mask);

} // namespace chip
