#pragma once
// The 32 KiB load image as the readers of 32-bit addressed forms fill it
// (S-records, ELF, raw binary): data at 0000-7FFF lands in the image, data
// from 8000 up is counted as left out, exactly as the Intel HEX reader counts
// its bytes beyond the image. A later byte at an address wins over an earlier.

#include "image/firmware_image.h"

#include <cstdint>
#include <span>
#include <vector>

namespace image {

struct ImageBytes {
  std::vector<uint8_t> bytes = std::vector<uint8_t>(kLoadImageSize, 0);
  // Which image addresses some data gave (a 00 byte from the file included).
  std::vector<bool> given = std::vector<bool>(kLoadImageSize, false);
  uint64_t dataBytes = 0; // every data byte the file gave
  uint64_t leftOut = 0;   // those at 8000 and above

  void Put(uint64_t address, std::span<const uint8_t> data);
};

} // namespace image
