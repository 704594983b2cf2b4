#include "image/hex_reader.h"

#include "base/convert.h"

#include <algorithm>
#include <string_view>

namespace image {

namespace {

enum class Field { Start, Count, AddressHigh, AddressLow, Type, Data, Checksum };

constexpr uint8_t kDataRecord = 0;
constexpr uint8_t kSegmentBaseRecord = 2;
constexpr uint8_t kUpperAddressRecord = 4;

// What an image address holds no byte of yet; every upper address is a
// multiple of 16, so it never equals this.
constexpr uint32_t kNoUpperAddress = 0xFFFFFFFF;

bool IsLineEnd(uint8_t c) { return c == '\r' || c == '\n'; }

// Bytes that may stand between records without meaning anything: blanks and
// tabs (trailing ones on a line included) and the DOS end-of-file mark.
bool IsFiller(uint8_t c) { return c == ' ' || c == '\t' || c == 0x1A; }

bool StartsWithByteOrderMark(std::span<const uint8_t> file) {
  return file.size() >= 3 && file[0] == 0xEF && file[1] == 0xBB && file[2] == 0xBF;
}

} // namespace

uint8_t ImageEntryValue(const std::string &entry) {
  if (entry.empty() || entry[0] != '$')
    return 0;
  return uint8_t(base::HexTextToInt(std::string_view(entry).substr(1)));
}

void ClearImage(ImageTable &image, uint32_t imageSize) {
  const size_t end = std::min<size_t>(imageSize, image.bytes.size());
  for (size_t a = 0; a < end; ++a)
    image.Set(uint32_t(a), 0, '0', '0');
}

HexReadResult ReadHex(std::span<const uint8_t> file, ImageTable &image, uint32_t imageSize) {
  HexReadResult result;
  Field field = Field::Start;
  char token[2] = {};
  int tokenLength = 0;
  uint32_t byteCount = 0;
  uint32_t address = 0;
  uint8_t type = 0;
  uint32_t index = 0;
  uint8_t checksum = 0; // wraps modulo 256
  uint32_t line = 1;
  struct Spelt {
    uint8_t value;
    char high, low;
  };
  std::vector<Spelt> pending; // the data of the record being read, as the file spelt it
  // The upper address the data records stand under (type 4: the value times
  // 0x10000; type 2: the segment base times 16), and for each image address the
  // one its byte was stored under.
  uint32_t upper = 0;
  uint32_t recordValue = 0; // the data of a type-2 or type-4 record
  std::vector<uint32_t> upperOf(kImageAddressSpace, kNoUpperAddress);
  bool clash = false;

  auto failChecksum = [&]() {
    result.status = HexReadResult::Status::ChecksumError;
    result.expectedChecksum = uint8_t(256 - checksum);
    return result;
  };

  size_t i = StartsWithByteOrderMark(file) ? 3 : 0;
  for (; i < file.size(); ++i) {
    const uint8_t c = file[i];
    if (field == Field::Start) {
      if (c == ':') {
        checksum = 0;
        result.addressHigh.clear();
        result.addressLow.clear();
        pending.clear();
        field = Field::Count;
        tokenLength = 0;
      } else if (c == '\r' || (c == '\n' && (i == 0 || file[i - 1] != '\r'))) {
        ++line;
      } else if (c != '\n' && !IsFiller(c)) {
        result.status = HexReadResult::Status::NotARecord;
        result.line = line;
        return result;
      }
      continue;
    }
    // A line end inside a record: the record is cut short.
    if (IsLineEnd(c))
      return failChecksum();
    token[tokenLength++] = char(c);
    if (tokenLength < 2)
      continue;
    tokenLength = 0;
    const std::string_view text(token, 2);
    const uint8_t value = uint8_t(base::HexTextToInt(text));

    switch (field) {
    case Field::Count:
      byteCount = value;
      checksum = value;
      field = Field::AddressHigh;
      break;
    case Field::AddressHigh:
      result.addressHigh.assign(text);
      checksum += value;
      field = Field::AddressLow;
      break;
    case Field::AddressLow:
      result.addressLow.assign(text);
      checksum += value;
      // Both halves as one number: a character that is no hex digit makes it 0.
      address = base::HexTextToInt(result.addressHigh + result.addressLow);
      field = Field::Type;
      break;
    case Field::Type:
      type = value;
      checksum += value;
      index = 0;
      recordValue = 0;
      field = byteCount > 0 ? Field::Data : Field::Checksum;
      break;
    case Field::Data:
      if (type == kDataRecord)
        pending.push_back({value, token[0], token[1]});
      recordValue = (recordValue << 8 | value) & 0xFFFF;
      checksum += value;
      if (++index == byteCount)
        field = Field::Checksum;
      break;
    case Field::Checksum:
      // A whole record's bytes are stored before its checksum is compared;
      // a record cut short stores nothing.
      for (size_t k = 0; k < pending.size(); ++k) {
        const uint32_t at = address + uint32_t(k);
        ++result.dataBytes;
        if (at >= kImageAddressSpace || at >= image.bytes.size()) {
          ++result.bytesDropped;
        } else {
          if (!clash && upperOf[at] != kNoUpperAddress && upperOf[at] != upper) {
            clash = true;
            result.clashAddress = at;
            result.clashEarlier = upperOf[at] + at;
            result.clashLater = upper + at;
          }
          upperOf[at] = upper;
          image.Set(at, pending[k].value, pending[k].high, pending[k].low);
          if (at >= imageSize)
            ++result.bytesOutsideImage;
        }
      }
      pending.clear();
      if (value != uint8_t(256 - checksum))
        return failChecksum();
      ++result.records;
      if (type == kDataRecord)
        ++result.dataRecords;
      if (clash) {
        result.status = HexReadResult::Status::AddressClash;
        return result;
      }
      if (type == kUpperAddressRecord && byteCount == 2)
        upper = recordValue << 16;
      else if (type == kSegmentBaseRecord && byteCount == 2)
        upper = recordValue << 4;
      field = Field::Start;
      break;
    case Field::Start:
      break;
    }
  }
  // The file ended inside a record: its checksum is missing.
  if (field != Field::Start)
    return failChecksum();
  if (result.dataBytes == 0)
    result.status = HexReadResult::Status::NoData;
  else if (result.BytesLeftOut() == result.dataBytes)
    result.status = HexReadResult::Status::NoDataInImage; // an all-zero image would be sent

  return result;
}

} // namespace image
