#include "cli/firmware.h"

#include "image/firmware_image.h"
#include "base/convert.h"
#include "base/exception.h"
#include "image/hex_reader.h"
#include "image/image_blocks.h"
#include "image/image_file.h"
#include "image/load_messages.h"

#include <QCryptographicHash>
#include <span>

namespace cli {

namespace {

std::span<const uint8_t> BytesOf(const QByteArray &file) {
  return {reinterpret_cast<const uint8_t *>(file.constData()), size_t(file.size())};
}

// A cleared image cannot tell a data byte 00 from no data, so the runs come
// from a second reading into a table of empty entries.
std::vector<AddressRange> DataRanges(const QByteArray &file) {
  std::vector<std::string> marks(kImageTextEntries);
  ReadHex(BytesOf(file), marks, kFirmwareImageSize);
  std::vector<AddressRange> ranges;
  for (uint32_t a = 0; a < kFirmwareImageSize; ++a) {
    if (marks[a].empty())
      continue;
    if (!ranges.empty() && ranges.back().last + 1 == a)
      ranges.back().last = a;
    else
      ranges.push_back({a, a});
  }
  return ranges;
}

} // namespace

Firmware ReadFirmware(const QString &path) {
  Firmware firmware;
  QByteArray file;
  try {
    file = ReadImageFile(path);
  } catch (const Exception &e) {
    firmware.refusal = e.Message();
    return firmware;
  }
  firmware.sha256 = QString::fromLatin1(QCryptographicHash::hash(file, QCryptographicHash::Sha256).toHex());
  firmware.imageText.assign(kImageTextEntries, std::string());
  ClearImage(firmware.imageText, kFirmwareImageSize);
  const HexReadResult read = ReadHex(BytesOf(file), firmware.imageText, kFirmwareImageSize);
  if (!read.Ok()) {
    firmware.refusal = LoadErrorText(read);
    return firmware;
  }
  firmware.leftOut = read.BytesLeftOut();
  firmware.leftOutNotice = LeftOutNotice(read, kFirmwareImageSize);
  std::vector<uint8_t> blocks;
  firmware.checksum = BuildBlocks(firmware.imageText, kFirmwareImageSize, QStringLiteral("0000"), {}, blocks);
  firmware.checksumCaption = CheckSumCaption(firmware.checksum);
  firmware.ranges = DataRanges(file);
  return firmware;
}

QString RangesText(const std::vector<AddressRange> &ranges) {
  if (ranges.empty())
    return QStringLiteral("none");
  QStringList parts;
  for (const AddressRange &r : ranges)
    parts << IntToHex(r.first, 4) + QLatin1Char('-') + IntToHex(r.last, 4);
  return parts.join(QStringLiteral(", "));
}

} // namespace cli
