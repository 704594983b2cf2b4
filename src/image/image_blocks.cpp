#include "image/image_blocks.h"

#include "base/convert.h"
#include "base/text_encoding.h"
#include "image/file_view.h"
#include "image/firmware_image.h"
#include "image/hex_reader.h"

#include <algorithm>

namespace image {

NameField MakeNameField(const QString &fileName) {
  NameField field{};
  // The box shows the name in code page 936; a character that would not fit
  // whole is left out, and a shorter name ends in 0 bytes.
  const std::string bytes = base::ToCodePage936(BaseName(fileName), field.size());
  std::copy(bytes.begin(), bytes.end(), field.begin());
  return field;
}

CountField MakeCountField(const QString &countText) {
  CountField field{};
  const QString digits = countText.right(qsizetype(field.size()));
  const size_t first = field.size() - size_t(digits.size());
  for (qsizetype i = 0; i < digits.size(); ++i) {
    const char16_t c = digits[i].unicode();
    field[first + size_t(i)] = (c >= u'0' && c <= u'9') ? uint8_t(c - u'0') : 0;
  }
  return field;
}

namespace {

void PutBigEndian(uint8_t *at, uint32_t value) {
  at[0] = uint8_t(value >> 24);
  at[1] = uint8_t(value >> 16);
  at[2] = uint8_t(value >> 8);
  at[3] = uint8_t(value);
}

} // namespace

uint32_t BuildBlocks(std::span<const uint8_t> image, uint32_t imageSize, const QString &chipStart,
                     const BlockTrailer &trailer, std::vector<uint8_t> &blocks) {
  if (blocks.size() < size_t(kBlockSlots) * kBlockSlotSize)
    blocks.resize(size_t(kBlockSlots) * kBlockSlotSize, 0);
  const uint32_t startHigh = base::HexTextToInt(chipStart.left(2));
  const uint32_t count = std::min<uint32_t>(imageSize / kBlockDataSize, kBlockSlots);
  for (uint32_t n = 0; n < count; ++n) {
    uint8_t *record = blocks.data() + size_t(n) * kBlockSlotSize;
    record[kBlockNumberOffset] = uint8_t(n);
    record[kBlockAddressOffset] = uint8_t((startHigh + 16 * n) % 256);
    uint32_t sum = 0;
    for (uint32_t i = 0; i < kBlockDataSize; ++i) {
      const size_t a = size_t(n) * kBlockDataSize + i;
      const uint8_t value = a < image.size() ? image[a] : 0;
      record[kBlockDataOffset + i] = value;
      sum += value;
    }
    PutBigEndian(record + kBlockSumOffset, sum);
    std::copy(trailer.name.begin(), trailer.name.end(), record + kBlockNameOffset);
    std::copy(trailer.count.begin(), trailer.count.end(), record + kBlockCountOffset);
    PutBigEndian(record + kBlockMaskOffset, trailer.sectorMask);
  }

  uint32_t checksum = 0;
  const size_t end = std::min<size_t>(imageSize, image.size());
  for (size_t a = 0; a < end; ++a)
    checksum += image[a];
  return checksum;
}

QString CheckSumCaption(uint32_t checksum) { return QStringLiteral("CheckSum:  0x") + base::IntToHex(checksum, 8); }

std::span<const uint8_t> FirstBlockBytes(const std::vector<uint8_t> &blocks) {
  return std::span<const uint8_t>(blocks).first(kBlockRecordSize);
}

std::span<const uint8_t> RequestedBlockBytes(const std::vector<uint8_t> &blocks, uint32_t n) {
  if (n >= kBlockSlots || blocks.size() < size_t(n + 1) * kBlockSlotSize)
    return {};
  return std::span<const uint8_t>(blocks).subspan(size_t(n) * kBlockSlotSize, kRequestedBlockSize);
}

} // namespace image
