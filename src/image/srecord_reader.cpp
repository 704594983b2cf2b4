#include "image/srecord_reader.h"

#include "base/convert.h"
#include "image/load_messages.h"

#include <vector>

namespace image {

namespace {

bool IsFiller(uint8_t c) { return c == ' ' || c == '\t' || c == 0x1A; }

int HexDigit(uint8_t c) {
  if (c >= '0' && c <= '9')
    return c - '0';
  if (c >= 'A' && c <= 'F')
    return c - 'A' + 10;
  if (c >= 'a' && c <= 'f')
    return c - 'a' + 10;
  return -1;
}

// Bytes of the address field per record type; 0 for the reserved S4.
constexpr int kAddressBytes[10] = {2, 2, 3, 4, 0, 2, 3, 4, 3, 2};

} // namespace

SRecordRead ReadSRecords(std::span<const uint8_t> file, ImageBytes &image) {
  SRecordRead result;
  bool described = false;
  uint32_t dataRecords = 0;
  uint32_t line = 0;
  std::vector<uint8_t> bytes;
  size_t i = file.size() >= 3 && file[0] == 0xEF && file[1] == 0xBB && file[2] == 0xBF ? 3 : 0;
  while (i < file.size()) {
    ++line;
    size_t end = i;
    while (end < file.size() && file[end] != '\r' && file[end] != '\n')
      ++end;
    size_t next = end + 1;
    if (end < file.size() && file[end] == '\r' && next < file.size() && file[next] == '\n')
      ++next;
    size_t from = i;
    i = next;
    while (from < end && IsFiller(file[from]))
      ++from;
    while (end > from && IsFiller(file[end - 1]))
      --end;
    if (from == end)
      continue;

    const std::span<const uint8_t> text = file.subspan(from, end - from);
    auto notARecord = [&] {
      result.refusal = LoadErrorText(QString::fromUtf8(kSrecNotARecordPattern).arg(line));
      return result;
    };
    if (text.size() < 4 || text[0] != 'S' || text[1] < '0' || text[1] > '9' || text.size() % 2 != 0)
      return notARecord();
    const int type = text[1] - '0';
    bytes.clear();
    for (size_t k = 2; k < text.size(); k += 2) {
      const int high = HexDigit(text[k]);
      const int low = HexDigit(text[k + 1]);
      if (high < 0 || low < 0)
        return notARecord();
      bytes.push_back(uint8_t(high << 4 | low));
    }
    const size_t count = bytes[0];
    if (count != bytes.size() - 1) {
      result.refusal = LoadErrorText(QString::fromUtf8(kSrecLengthPattern)
                                         .arg(line)
                                         .arg(count)
                                         .arg(bytes.size() - 1));
      return result;
    }
    const size_t addressBytes = size_t(kAddressBytes[type]);
    if (addressBytes == 0 || count < addressBytes + 1)
      return notARecord();

    uint8_t sum = 0;
    for (size_t k = 0; k + 1 < bytes.size(); ++k)
      sum = uint8_t(sum + bytes[k]);
    const uint8_t expected = uint8_t(~sum);
    if (bytes.back() != expected) {
      result.refusal = LoadErrorText(QString::fromUtf8(kSrecChecksumPattern)
                                         .arg(line)
                                         .arg(base::IntToHex(bytes.back(), 2), base::IntToHex(expected, 2)));
      return result;
    }
    uint32_t address = 0;
    for (size_t k = 1; k <= addressBytes; ++k)
      address = address << 8 | bytes[k];
    const std::span<const uint8_t> data = std::span(bytes).subspan(1 + addressBytes, count - addressBytes - 1);

    switch (type) {
    case 0:
      if (!described) {
        described = true;
        size_t length = 0;
        while (length < data.size() && data[length] != 0)
          ++length;
        result.description =
            QString::fromUtf8(reinterpret_cast<const char *>(data.data()), qsizetype(length)).trimmed();
      }
      break;
    case 1:
    case 2:
    case 3:
      image.Put(address, data);
      ++dataRecords;
      break;
    case 5:
    case 6:
      if (address != dataRecords) {
        result.refusal = LoadErrorText(
            QString::fromUtf8(kSrecCountPattern).arg(line).arg(address).arg(dataRecords));
        return result;
      }
      break;
    default: // S7, S8, S9: where the program starts, nothing to load
      break;
    }
  }
  return result;
}

} // namespace image
