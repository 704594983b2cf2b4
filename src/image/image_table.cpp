#include "image/image_table.h"

namespace image {

void ImageTable::Set(uint32_t address, uint8_t value, char high, char low) {
  bytes[address] = value;
  spelling[2 * size_t(address)] = high;
  spelling[2 * size_t(address) + 1] = low;
  given[address] = true;
}

void ImageTable::Put(uint32_t address, std::span<const uint8_t> data) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  for (size_t i = 0; i < data.size() && address + i < bytes.size(); ++i)
    Set(uint32_t(address + i), data[i], kDigits[data[i] >> 4], kDigits[data[i] & 15]);
}

std::string ImageTable::Entry(uint32_t address) const {
  if (!given[address])
    return {};
  return {'$', spelling[2 * size_t(address)], spelling[2 * size_t(address) + 1]};
}

std::vector<std::string> ImageTable::Text() const {
  std::vector<std::string> text(bytes.size());
  for (uint32_t a = 0; a < bytes.size(); ++a)
    text[a] = Entry(a);
  return text;
}

} // namespace image
