#include "cli/hex_writer.h"

#include <QFileInfo>
#include <QSaveFile>
#include <algorithm>

namespace cli {

namespace {

constexpr uint32_t kRecordBytes = 16;

void AppendRecord(QByteArray &out, uint8_t type, uint16_t address, std::span<const uint8_t> data) {
  uint8_t sum = uint8_t(data.size()) + uint8_t(address >> 8) + uint8_t(address) + type;
  QByteArray record;
  record.reserve(int(data.size()) + 5);
  record.append(char(data.size()));
  record.append(char(address >> 8));
  record.append(char(address));
  record.append(char(type));
  for (uint8_t b : data) {
    record.append(char(b));
    sum += b;
  }
  record.append(char(uint8_t(0x100 - sum)));
  out += ':';
  out += record.toHex().toUpper();
  out += "\r\n";
}

} // namespace

QByteArray IntelHexText(std::span<const HexSegment> segments) {
  QByteArray out;
  uint32_t page = 0; // the 64 KiB page records address; 0 until a type-04 record says otherwise
  for (const HexSegment &segment : segments) {
    size_t done = 0;
    while (done < segment.bytes.size()) {
      const uint32_t address = segment.address + uint32_t(done);
      // A record never crosses into the next page.
      const size_t room = 0x10000 - (address & 0xFFFF);
      const size_t n = std::min({size_t(kRecordBytes), segment.bytes.size() - done, room});
      if (address >> 16 != page) {
        page = address >> 16;
        const uint8_t upper[2] = {uint8_t(page >> 8), uint8_t(page)};
        AppendRecord(out, 0x04, 0, upper);
      }
      AppendRecord(out, 0x00, uint16_t(address), segment.bytes.subspan(done, n));
      done += n;
    }
  }
  AppendRecord(out, 0x01, 0, {});
  return out;
}

QString OutRefusal(const QString &path) {
  const QFileInfo target(path);
  if (target.exists() && !target.isFile())
    return QStringLiteral("it exists and is not a regular file");
  return {};
}

QString SaveReadOut(const QString &path, std::span<const HexSegment> segments) {
  // Checked again here: the read-out took minutes since the command began.
  if (const QString why = OutRefusal(path); !why.isEmpty())
    return QStringLiteral("Cannot write \"%1\": %2").arg(path, why);
  QByteArray content;
  if (path.endsWith(QLatin1String(".hex"), Qt::CaseInsensitive)) {
    content = IntelHexText(segments);
  } else {
    for (const HexSegment &segment : segments)
      content.append(reinterpret_cast<const char *>(segment.bytes.data()), qsizetype(segment.bytes.size()));
  }
  QSaveFile file(path);
  if (!file.open(QIODevice::WriteOnly))
    return QStringLiteral("Cannot write \"%1\": %2").arg(path, file.errorString());
  if (file.write(content) != content.size() || !file.commit())
    return QStringLiteral("Cannot write \"%1\": %2").arg(path, file.errorString());
  return {};
}

} // namespace cli
