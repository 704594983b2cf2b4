#include "image/firmware_file.h"

#include "base/convert.h"
#include "base/exception.h"
#include "image/elf_reader.h"
#include "image/hex_reader.h"
#include "image/image_blocks.h"
#include "image/image_bytes.h"
#include "image/image_file.h"
#include "image/load_messages.h"
#include "image/srecord_reader.h"

#include <QCryptographicHash>
#include <QStringList>
#include <algorithm>
#include <limits>

namespace image {

namespace {

const QString kUnknown = QString::fromUtf8(kUnknownFormText);
const QString kNoData = QString::fromUtf8(kNoDataAtAllText);

bool IsFiller(uint8_t c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == 0x1A; }

void AddToRanges(std::vector<AddressRange> &ranges, uint32_t a) {
  if (!ranges.empty() && ranges.back().last + 1 == a)
    ranges.back().last = a;
  else
    ranges.push_back({a, a});
}

// The Intel HEX reader's table, read into empty entries so that data bytes
// 00 and addresses no record gave can be told apart.
void ReadIntelHex(std::span<const uint8_t> bytes, FirmwareFile &firmware) {
  const HexReadResult read = ReadHex(bytes, firmware.image, kLoadImageSize);
  for (uint32_t a = 0; a < kLoadImageSize; ++a) {
    if (!firmware.image.given[a])
      firmware.image.Set(a, 0, '0', '0');
    else
      AddToRanges(firmware.ranges, a);
  }
  firmware.leftOut = read.BytesLeftOut();
  if (!read.Ok())
    firmware.refusal = LoadErrorText(read);
}

void FromImageBytes(const ImageBytes &image, FirmwareFile &firmware) {
  firmware.image.Put(0, std::span<const uint8_t>(image.bytes).first(kLoadImageSize));
  for (uint32_t a = 0; a < kLoadImageSize; ++a) {
    if (image.given[a])
      AddToRanges(firmware.ranges, a);
  }
  firmware.leftOut = uint32_t(std::min<uint64_t>(image.leftOut, std::numeric_limits<uint32_t>::max()));
  if (firmware.refusal.isEmpty() && image.dataBytes == 0)
    firmware.refusal = LoadErrorText(kNoData);
  else if (firmware.refusal.isEmpty() && firmware.ranges.empty())
    firmware.refusal = NoDataInImageText(); // an all-zero image would be sent
}

} // namespace

FoundFormat DetectFormat(std::span<const uint8_t> file) {
  if (file.size() >= 4 && file[0] == 0x7F && file[1] == 'E' && file[2] == 'L' && file[3] == 'F')
    return FoundFormat::Elf;
  size_t i = file.size() >= 3 && file[0] == 0xEF && file[1] == 0xBB && file[2] == 0xBF ? 3 : 0;
  while (i < file.size() && IsFiller(file[i]))
    ++i;
  if (i == file.size() || file[i] == ':')
    return FoundFormat::IntelHex;
  if (file[i] == 'S' && i + 1 < file.size() && file[i + 1] >= '0' && file[i + 1] <= '9')
    return FoundFormat::SRecord;
  return FoundFormat::Unknown;
}

FirmwareFile ReadFirmwareBytes(const QByteArray &file, FirmwareFormat format, uint32_t base) {
  FirmwareFile firmware;
  firmware.fileRead = true;
  firmware.sha256 = QString::fromLatin1(QCryptographicHash::hash(file, QCryptographicHash::Sha256).toHex());
  const std::span<const uint8_t> bytes(reinterpret_cast<const uint8_t *>(file.constData()), size_t(file.size()));
  firmware.format = format == FirmwareFormat::RawBinary ? FoundFormat::RawBinary : DetectFormat(bytes);

  ImageBytes image;
  switch (firmware.format) {
  case FoundFormat::IntelHex:
    ReadIntelHex(bytes, firmware);
    break;
  case FoundFormat::SRecord: {
    const SRecordRead read = ReadSRecords(bytes, image);
    firmware.refusal = read.refusal;
    firmware.description = read.description;
    FromImageBytes(image, firmware);
    break;
  }
  case FoundFormat::Elf:
    firmware.refusal = ReadElf(bytes, image);
    FromImageBytes(image, firmware);
    break;
  case FoundFormat::RawBinary:
    image.Put(base, bytes);
    FromImageBytes(image, firmware);
    break;
  case FoundFormat::Unknown:
    firmware.refusal = LoadErrorText(kUnknown);
    FromImageBytes(image, firmware);
    break;
  }
  if (!firmware.Accepted())
    return firmware;
  firmware.leftOutNotice = LeftOutNotice(firmware.leftOut, kLoadImageSize);
  for (uint32_t a = 0; a < kLoadImageSize; ++a)
    firmware.checksum += firmware.image.bytes[a];
  firmware.checksumCaption = CheckSumCaption(firmware.checksum);
  return firmware;
}

FirmwareFile ReadFirmware(const QString &path, FirmwareFormat format, uint32_t base) {
  QByteArray file;
  try {
    file = ReadImageFile(path);
  } catch (const base::Exception &e) {
    FirmwareFile unread;
    unread.refusal = e.Message();
    return unread;
  }
  return ReadFirmwareBytes(file, format, base);
}

QString FormatText(FoundFormat format, uint32_t base) {
  switch (format) {
  case FoundFormat::IntelHex:
    return QStringLiteral("Intel HEX");
  case FoundFormat::SRecord:
    return QStringLiteral("Motorola S-record");
  case FoundFormat::Elf:
    return QStringLiteral("ELF (32-bit little-endian executable)");
  case FoundFormat::RawBinary:
    return QStringLiteral("raw binary from ") + base::IntToHex(base, 4);
  case FoundFormat::Unknown:
    break;
  }
  return QStringLiteral("unknown");
}

QString RangesText(const std::vector<AddressRange> &ranges) {
  if (ranges.empty())
    return QStringLiteral("none");
  QStringList parts;
  for (const AddressRange &r : ranges)
    parts << base::IntToHex(r.first, 4) + QLatin1Char('-') + base::IntToHex(r.last, 4);
  return parts.join(QStringLiteral(", "));
}

} // namespace image
