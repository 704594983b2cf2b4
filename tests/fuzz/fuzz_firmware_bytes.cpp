// A whole reading of a file's bytes as a load does it: the first input byte
// says whether the operator named it a raw binary (and the next two give its
// base), the rest is the file. An accepted file has data in the image and a
// full image table; a refused one says why.
#include "image/firmware_file.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 3)
    return 0;
  const bool raw = data[0] & 1;
  const uint32_t base = uint32_t(data[1]) << 8 | data[2];
  const QByteArray file(reinterpret_cast<const char *>(data + 3), qsizetype(size - 3));
  const image::FirmwareFile f =
      image::ReadFirmwareBytes(file, raw ? image::FirmwareFormat::RawBinary : image::FirmwareFormat::ByContent, base);
  if (f.image.bytes.size() != image::kImageTextEntries || (f.Accepted() && f.ranges.empty()) ||
      (f.Accepted() && f.checksumCaption.isEmpty()))
    std::abort();
  for (uint32_t a = 0; a < image::kLoadImageSize; ++a)
    if (!f.image.given[a])
      std::abort();
  return 0;
}
