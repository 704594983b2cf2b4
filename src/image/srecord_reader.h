#pragma once
// Reading Motorola S-records into the load image. One record to a line; lines
// end in CR LF, LF or CR, and blank lines, blanks and tabs around a record, a
// leading UTF-8 byte-order mark and DOS end-of-file marks mean nothing. A
// record is "S", its type digit, then hex digits in pairs: the byte count (of
// address, data and checksum), the address (16 bits for S0, S1, S5 and S9, 24
// for S2, S6 and S8, 32 for S3 and S7), the data and the checksum, the ones'
// complement of the low byte of the sum of every byte before it.
//   S0          header: its data is the file's description
//   S1, S2, S3  data at the address
//   S5, S6      the count of data records so far, in the address field: checked
//   S7, S8, S9  start address: ignored
// Every record's checksum is checked, and only a sound record's data is
// stored; reading stops at the first faulty record. The refusals, after
// "文件加载错误，":
//   "第 <line> 行不是 S-record 记录"                       no record's shape (S4 included)
//   "第 <line> 行的记录长度不对：字节数为 <n>，实有 <m> 字节"  the count does not fit the line
//   "第 <line> 行校验和错误：文件中为 <XX>，应为 <XX>"
//   "第 <line> 行的记录数为 <n>，此前有 <m> 个数据记录"

#include "image/image_bytes.h"

#include <QString>
#include <cstdint>
#include <span>

namespace image {

struct SRecordRead {
  QString refusal;     // empty when every record was sound
  QString description; // the first S0 record's text, up to a 0 byte, blanks around it dropped
};

SRecordRead ReadSRecords(std::span<const uint8_t> file, ImageBytes &image);

} // namespace image
