#include "image/load_messages.h"

#include "base/convert.h"

namespace {
const QString kLoadError = QStringLiteral("文件加载错误，");
}

QString LoadErrorText(const HexReadResult &result) {
  switch (result.status) {
  case HexReadResult::Status::Ok:
    return {};
  case HexReadResult::Status::ChecksumError:
    return kLoadError + QString::fromLatin1(result.addressHigh) + QString::fromLatin1(result.addressLow) +
           QStringLiteral("地址行校验和错误 ") + IntToHex(result.expectedChecksum, 2);
  case HexReadResult::Status::NotARecord:
    return kLoadError + QStringLiteral("第 %1 行不是 HEX 记录").arg(result.line);
  case HexReadResult::Status::NoData:
    return kLoadError + QStringLiteral("文件中没有数据记录，请选择 Intel HEX 文件");
  case HexReadResult::Status::NoDataInImage:
    return NoDataInImageText();
  case HexReadResult::Status::AddressClash:
    return kLoadError +
           QStringLiteral("地址 %1 与 %2 的数据落在同一地址 %3（不支持扩展地址），未加载")
               .arg(IntToHex(result.clashEarlier, 8), IntToHex(result.clashLater, 8), IntToHex(result.clashAddress, 4));
  }
  return {};
}

QString LoadErrorText(const QString &why) { return kLoadError + why; }

QString NoDataInImageText() { return kLoadError + QStringLiteral("文件中没有 0000-7FFF 范围内的数据，未加载"); }

QString LeftOutNotice(const HexReadResult &result, uint32_t imageSize) {
  return LeftOutNotice(result.BytesLeftOut(), imageSize);
}

QString LeftOutNotice(uint32_t leftOut, uint32_t imageSize) {
  if (leftOut == 0 || imageSize == 0)
    return {};
  return QStringLiteral("注意：文件中有 %1 字节超出 0000-%2，未加载").arg(leftOut).arg(IntToHex(imageSize - 1, 4));
}
