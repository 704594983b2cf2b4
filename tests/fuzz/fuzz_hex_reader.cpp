// The Intel HEX reader on any bytes: it never reads or writes outside the
// file or the table, and what it counts adds up.
#include "image/firmware_image.h"
#include "image/hex_reader.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  // Reused: every entry the reader writes is written whole, whatever was there.
  static image::ImageTable table;
  const image::HexReadResult r = image::ReadHex({data, size}, table, image::kLoadImageSize);
  if (r.BytesLeftOut() > r.dataBytes || r.dataRecords > r.records)
    std::abort();
  return 0;
}
