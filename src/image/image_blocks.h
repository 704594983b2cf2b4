#pragma once
// Transfer blocks of the image. ImageBlocks holds 16 slots of 4123 bytes, one
// per 4 KiB of a 64 KiB space; slot n begins at n * 4123 and holds block record
// n (4120 bytes) and three bytes that are never written nor sent. A load fills
// the slots that imageSize / 4096 names (0..7 for 32 KiB) and leaves the others
// as they are. Numbers of several bytes are laid most significant byte first.
//
// Block record n:
//   0      block number n
//   1      address high byte: (high byte of the chip start + 16 n) mod 256
//   2      4096 data bytes, the values of image entries n*4096 .. n*4096+4095
//   4098   sum of those data bytes, 32 bits
//   4102   file name field: first 8 bytes of the file's base name
//          (image/file_view.h BaseName), zero-filled
//   4110   count N: one decimal digit per byte, right-aligned, zero-filled
//   4116   sector mask, 32 bits: bit s-1 stands for sector s
// Block 0 goes out whole; a block request sends the first 4102 bytes.

#include <QString>
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace image {

inline constexpr size_t kBlockNumberOffset = 0;
inline constexpr size_t kBlockAddressOffset = 1;
inline constexpr size_t kBlockDataOffset = 2;
inline constexpr size_t kBlockSumOffset = 4098;
inline constexpr size_t kBlockNameOffset = 4102;
inline constexpr size_t kBlockCountOffset = 4110;
inline constexpr size_t kBlockMaskOffset = 4116;

using NameField = std::array<uint8_t, 8>;
using CountField = std::array<uint8_t, 6>;

// The base name in code page 936, as many whole characters as fit in 8 bytes,
// 0 after a shorter name.
NameField MakeNameField(const QString &fileName);

// The count text, one digit per byte as its value, right-aligned; bytes before
// the digits are 0. Only the last six characters count; a character that is no
// decimal digit gives 0.
CountField MakeCountField(const QString &countText);

// What every block of one load carries besides its data, as the controls held
// it at the moment of the load.
struct BlockTrailer {
  NameField name{};
  CountField count{};
  uint32_t sectorMask = 0;
};

// Builds block records 0 .. imageSize/4096 - 1 (at most 16) into `blocks`
// from the image's bytes (00 beyond its end) and returns the image checksum:
// the sum of bytes 0..imageSize-1, 32 bits.
uint32_t BuildBlocks(std::span<const uint8_t> image, uint32_t imageSize, const QString &chipStart,
                     const BlockTrailer &trailer, std::vector<uint8_t> &blocks);

// "CheckSum:  0x" + eight upper-case hex digits.
QString CheckSumCaption(uint32_t checksum);

// The bytes that start a transfer: block record 0 whole (4120 bytes).
std::span<const uint8_t> FirstBlockBytes(const std::vector<uint8_t> &blocks);

// The bytes a request for block n sends: the first 4102 bytes of slot n.
// Empty for a number outside the 16 slots.
std::span<const uint8_t> RequestedBlockBytes(const std::vector<uint8_t> &blocks, uint32_t n);

} // namespace image
