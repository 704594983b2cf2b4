#pragma once
// The firmware image of a load: one text per image address as the HEX file
// spelt it, the size that is packed, and the transfer blocks the box asks for.
// ImageBlocks holds 16 slots of 4123 bytes, one per 4 KiB of a 64 KiB space;
// slot n begins at n * 4123 and holds block record n (4120 bytes, laid out in
// image_blocks.h) and three bytes that are never written nor sent.

#include <cstdint>
#include <string>
#include <vector>

namespace image {

inline constexpr uint32_t kImageTextEntries = 65536;  // one per 16-bit image address
inline constexpr uint32_t kBlockSlots = 16;           // one per 4 KiB of a 64 KiB space
inline constexpr uint32_t kBlockSlotSize = 4123;      // a record of 4120 and 3 unused bytes
inline constexpr uint32_t kBlockRecordSize = 4120;    // what block 0 sends
inline constexpr uint32_t kRequestedBlockSize = 4102; // what a block request sends
inline constexpr uint32_t kBlockDataSize = 4096;
inline constexpr uint32_t kLoadImageSize = 32768;     // every load packs 32 KiB, whatever the chip

struct FirmwareImage {
  // "$" + the two characters from the file, per address.
  std::vector<std::string> ImageText = std::vector<std::string>(kImageTextEntries);
  uint32_t ImageSize = 0; // bytes
  std::vector<uint8_t> ImageBlocks = std::vector<uint8_t>(kBlockSlots * kBlockSlotSize, 0);
};

} // namespace image
