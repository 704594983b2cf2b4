#pragma once
// The read-out's output file: Intel HEX or the bytes as they are. The HEX text
// is pure: 16-byte data records, a type-04 record before the first record
// whose address lies in another 64 KiB page than the one before (so none at
// all for data below 0x10000), the end record, every line ended CR LF.

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <span>

namespace cli {

// Bytes read from consecutive addresses from `address` on.
struct HexSegment {
  uint32_t address = 0;
  std::span<const uint8_t> bytes;
};

QByteArray IntelHexText(std::span<const HexSegment> segments);

// Why `path` cannot take a read-out: it exists and is not a regular file (a
// device, a FIFO, a folder), which a file renamed into its place would
// replace. Empty when it may be written.
QString OutRefusal(const QString &path);

// Writes `path` whole or not at all: Intel HEX when its name ends in ".hex"
// (any letter case), else the segments' bytes one after the other. The bytes
// go to a file beside `path` that is renamed into its place only when
// complete, and only over a regular file (OutRefusal). Returns why it failed
// (with the system's reason), empty on success.
QString SaveReadOut(const QString &path, std::span<const HexSegment> segments);

} // namespace cli
