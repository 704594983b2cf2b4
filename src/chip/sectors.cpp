#include "chip/sectors.h"

namespace chip {

uint32_t SectorMask(const std::array<bool, kSectorCount> &checked) {
  uint32_t mask = 0;
  for (int n = 0; n < kSectorCount; ++n) {
    if (checked[n])
      mask |= uint32_t{1} << n;
  }
  return mask;
}

std::array<uint8_t, 4> SectorMaskBytes(uint32_t mask) {
  return {static_cast<uint8_t>(mask >> 24), static_cast<uint8_t>(mask >> 16), static_cast<uint8_t>(mask >> 8),
          static_cast<uint8_t>(mask)};
}

} // namespace chip
