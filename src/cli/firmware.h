#pragma once
// The firmware file a load sends, read and checked exactly as the window's
// load reads it: the whole file (ReadImageFile), the image cleared to "$00"
// (ClearImage) and read as Intel HEX into a 32 KiB image (ReadHex), the
// checksum as the window's label shows it (BuildBlocks, CheckSumCaption). One
// function serves check-file and load, so both accept and refuse the same
// files with the same texts. Pure apart from reading the file; runs on the
// calling thread.

#include "image/firmware_image.h"

#include <QString>
#include <cstdint>
#include <string>
#include <vector>

namespace cli {

inline constexpr uint32_t kFirmwareImageSize = kLoadImageSize;

// Addresses first..last, both inside the image.
struct AddressRange {
  uint32_t first = 0;
  uint32_t last = 0;
};

struct Firmware {
  // Why the file is refused, in the window's words; empty when accepted.
  QString refusal;
  // The image table as the window holds it after the load: one "$" + two hex
  // characters entry per 16-bit address (kImageTextEntries entries); ready
  // for BuildBlocks with kFirmwareImageSize and chip start "0000".
  std::vector<std::string> imageText;
  QString sha256; // of the file's bytes, lower-case hex
  uint32_t checksum = 0;
  QString checksumCaption; // "CheckSum:  0x0012ABCD"
  // The merged runs of image addresses the file gave data for.
  std::vector<AddressRange> ranges;
  // Data bytes of the file beyond the image, and the window's notice about them.
  uint32_t leftOut = 0;
  QString leftOutNotice;

  bool Accepted() const { return refusal.isEmpty(); }
};

// Reads and checks `path`. A file that cannot be read, is no HEX file, has a
// faulty record, or has no data byte inside the image is refused.
Firmware ReadFirmware(const QString &path);

// "0000-3FFF, 4100-41FF"; "none" for no range.
QString RangesText(const std::vector<AddressRange> &ranges);

} // namespace cli
