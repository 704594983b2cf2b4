#pragma once
// The sizes of a load's image: one text per image address as the file spelt
// it (the window's image table), and the transfer blocks the box asks for: 16
// slots of 4123 bytes, one per 4 KiB of a 64 KiB space; slot n begins at
// n * 4123 and holds block record n (4120 bytes, laid out in image_blocks.h)
// and three bytes that are never written nor sent.

#include <cstdint>

namespace image {

inline constexpr uint32_t kImageTextEntries = 65536;  // one per 16-bit image address
inline constexpr uint32_t kBlockSlots = 16;           // one per 4 KiB of a 64 KiB space
inline constexpr uint32_t kBlockSlotSize = 4123;      // a record of 4120 and 3 unused bytes
inline constexpr uint32_t kBlockRecordSize = 4120;    // what block 0 sends
inline constexpr uint32_t kRequestedBlockSize = 4102; // what a block request sends
inline constexpr uint32_t kBlockDataSize = 4096;
inline constexpr uint32_t kLoadImageSize = 32768;     // every load packs 32 KiB, whatever the chip

} // namespace image
