#pragma once
// The firmware image: reading an Intel HEX file into the image table, packing
// the image into transfer blocks and the dump lines of the file buffer view.
// All of it is pure logic over bytes and texts held in memory; the load
// handler of the main window reads the file, calls these on the GUI thread and
// sends the result. Addresses are 16-bit: there is no extended addressing.
// Every data byte lands at its record's 16-bit address whatever upper address
// (type 4) or segment base (type 2) it stands under, so a file whose data all
// shares one upper address loads as its 16-bit image. Data under different
// upper addresses that lands on the same image address would overwrite one
// another in silence: such a file is refused.
//
// The reader walks the file byte by byte. Outside a record it passes over line
// ends of any kind (CR LF, LF, CR), blank lines, blanks and tabs, a leading
// UTF-8 byte-order mark and DOS end-of-file marks; anything else there stops
// the reading as a line that is no record. Inside a record every byte counts,
// two characters to a field: a line end or the end of the file before the
// checksum has been read cuts the record short, which fails like a wrong
// checksum; a record cut short stores none of its bytes. Every record's
// checksum is checked; a whole record's data is stored before its checksum is
// compared. Data records (type 0) are
// stored as their bytes, with the file's own two characters as their spelling
// (image/image_table.h), letter case kept; types 2 and
// 4 only name the upper address above; every other type is checked and
// otherwise ignored, and records after an end-of-file or start-address record
// are read as well.

#include "image/image_table.h"

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace image {

inline constexpr uint32_t kImageAddressSpace = 0x10000;

struct HexReadResult {
  enum class Status {
    Ok,
    ChecksumError, // a record's checksum does not match, or the record is cut short
    NotARecord,    // a line holds something that is not a record
    NoData,        // no data byte was read: not a HEX file, or an empty one
    NoDataInImage, // data was read, but none of it lies in the image (0..imageSize-1)
    AddressClash,  // data under two different upper addresses lands on the same image address
  };
  Status status = Status::Ok;

  // ChecksumError: the faulty record's address characters as they stand in
  // the file, and the checksum its bytes call for.
  std::string addressHigh;
  std::string addressLow;
  uint8_t expectedChecksum = 0;
  // NotARecord: the line (counting from 1) that holds the foreign bytes.
  uint32_t line = 0;
  // AddressClash: the first image address that data under two upper addresses
  // shares, and its full address (upper address + image address) under the
  // upper address of the byte stored there before and under that of the byte
  // that came after it.
  uint32_t clashAddress = 0;
  uint32_t clashEarlier = 0;
  uint32_t clashLater = 0;

  uint32_t records = 0;     // records whose checksum passed
  uint32_t dataRecords = 0; // type-0 records among them
  uint32_t dataBytes = 0;   // data bytes read from type-0 records
  // Data bytes at image addresses from imageSize up to 0xFFFF: stored in the
  // table, but outside the image that is packed and sent.
  uint32_t bytesOutsideImage = 0;
  // Data bytes whose address (record address + index) is 0x10000 or more:
  // dropped, never written outside the table.
  uint32_t bytesDropped = 0;

  bool Ok() const { return status == Status::Ok; }
  // Data bytes of the file that do not reach the image.
  uint32_t BytesLeftOut() const { return bytesOutsideImage + bytesDropped; }
};

// Reads the HEX text in `file` into `image` (one entry per 16-bit address;
// entries the file does not fill are left as they are). Reading stops at the
// first faulty record; the data bytes stored before it, its own included,
// stay. `imageSize` only decides which bytes count as outside the image.
HexReadResult ReadHex(std::span<const uint8_t> file, ImageTable &image, uint32_t imageSize);

// Sets entries 0..imageSize-1 to "$00"; later entries keep what they hold.
void ClearImage(ImageTable &image, uint32_t imageSize);

// Numeric value of an image entry: "$" + hex digits; 0 when not a valid number.
uint8_t ImageEntryValue(const std::string &entry);

} // namespace image
