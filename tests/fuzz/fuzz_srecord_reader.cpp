// The S-record reader on any bytes: no access outside the file or the image,
// and the bytes it places and leaves out add up to the data it read.
#include "image/image_bytes.h"
#include "image/srecord_reader.h"

#include <algorithm>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  image::ImageBytes image;
  image::ReadSRecords({data, size}, image);
  const auto given = uint64_t(std::count(image.given.begin(), image.given.end(), true));
  if (image.leftOut > image.dataBytes || given > image.dataBytes - image.leftOut)
    std::abort();
  return 0;
}
