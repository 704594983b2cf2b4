#include "image/load_messages.h"

#include "base/convert.h"

namespace image {

QString LoadErrorText(const HexReadResult &result) {
  switch (result.status) {
  case HexReadResult::Status::Ok:
    return {};
  case HexReadResult::Status::ChecksumError:
    return QString::fromUtf8(kChecksumErrorPattern)
        .arg(QString::fromLatin1(result.addressHigh) + QString::fromLatin1(result.addressLow),
             base::IntToHex(result.expectedChecksum, 2));
  case HexReadResult::Status::NotARecord:
    return QString::fromUtf8(kNotARecordPattern).arg(result.line);
  case HexReadResult::Status::NoData:
    return QString::fromUtf8(kNoDataText);
  case HexReadResult::Status::NoDataInImage:
    return NoDataInImageText();
  case HexReadResult::Status::AddressClash:
    return QString::fromUtf8(kAddressClashPattern)
        .arg(base::IntToHex(result.clashEarlier, 8), base::IntToHex(result.clashLater, 8),
             base::IntToHex(result.clashAddress, 4));
  }
  return {};
}

QString LoadErrorText(const QString &why) { return QString::fromUtf8(kLoadErrorPattern).arg(why); }

QString NoDataInImageText() { return QString::fromUtf8(kNoDataInImageText); }

QString LeftOutNotice(const HexReadResult &result, uint32_t imageSize) {
  return LeftOutNotice(result.BytesLeftOut(), imageSize);
}

QString LeftOutNotice(uint32_t leftOut, uint32_t imageSize) {
  if (leftOut == 0 || imageSize == 0)
    return {};
  return QString::fromUtf8(kLeftOutPattern).arg(QString::number(leftOut), base::IntToHex(imageSize - 1, 4));
}

} // namespace image
