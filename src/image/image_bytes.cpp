#include "image/image_bytes.h"

#include <algorithm>

namespace image {

void ImageBytes::Put(uint64_t address, std::span<const uint8_t> data) {
  dataBytes += data.size();
  const size_t inside =
      address >= kLoadImageSize ? 0 : size_t(std::min<uint64_t>(data.size(), kLoadImageSize - address));
  leftOut += data.size() - inside;
  if (inside == 0)
    return; // no iterator may point beyond the image
  std::copy_n(data.begin(), inside, bytes.begin() + std::ptrdiff_t(address));
  std::fill_n(given.begin() + std::ptrdiff_t(address), inside, true);
}

} // namespace image
