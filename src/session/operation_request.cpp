#include "session/operation_request.h"

#include "base/convert.h"
#include "base/version.h"
#include "chip/sectors.h"
#include "image/firmware_image.h"
#include "image/image_blocks.h"
#include "serial/serial_devices.h"

namespace session {

QString BoxOperationName(BoxOperation operation) {
  switch (operation) {
  case BoxOperation::Set:
    return QStringLiteral("set");
  case BoxOperation::Load:
    return QStringLiteral("load");
  case BoxOperation::Verify:
    return QStringLiteral("verify");
  case BoxOperation::ReadOut:
    return QStringLiteral("read-out");
  case BoxOperation::EraseProgramVerify:
    return QStringLiteral("erase-program-verify");
  }
  return {};
}

namespace {

constexpr uint32_t kSectorBytes = image::kLoadImageSize / chip::kSectorCount;

// The blocks holding an address of `filled` in a selected sector.
uint16_t DataBlocks(const std::vector<image::AddressRange> &filled, uint32_t sectors) {
  const std::vector<image::AddressRange> whole = {{0, image::kLoadImageSize - 1}};
  uint16_t blocks = 0;
  for (const image::AddressRange &r : filled.empty() ? whole : filled)
    for (uint32_t s = 0; s < uint32_t(chip::kSectorCount); ++s) {
      const uint32_t first = s * kSectorBytes, last = first + kSectorBytes - 1;
      if ((sectors >> s & 1u) && r.first <= last && first <= r.last)
        blocks |= uint16_t(1u << (first / image::kBlockDataSize));
    }
  return blocks;
}

} // namespace

std::shared_ptr<const LoadImage> PackLoadImage(std::span<const uint8_t> bytes, LoadSource source, uint32_t count,
                                               uint32_t sectors, const std::vector<image::AddressRange> &filled) {
  auto image = std::make_shared<LoadImage>();
  image->source = std::move(source);
  image->count = count;
  image->sectors = sectors;
  image->blocks.assign(size_t(image::kBlockSlots) * image::kBlockSlotSize, 0);
  // Every load packs 32 KiB from address 0000, whatever the chip.
  const image::BlockTrailer trailer{image::MakeNameField(image->source.path),
                                    image::MakeCountField(QString::number(count)), sectors};
  image->checksum = image::BuildBlocks(bytes, image::kLoadImageSize, QStringLiteral("0000"), trailer, image->blocks);
  image->checksumCaption = image::CheckSumCaption(image->checksum);
  image->dataBlocks = DataBlocks(filled, sectors);
  return image;
}

std::shared_ptr<const LoadImage> PackLoadImage(const image::FirmwareFile &firmware, LoadSource source, uint32_t count,
                                               uint32_t sectors) {
  return PackLoadImage(firmware.image.bytes, std::move(source), count, sectors, firmware.ranges);
}

QString NoAnswerText(int seconds) { return QStringLiteral("no answer within %1 s").arg(seconds); }

records::Record MakeRecord(const Attempt &attempt, const QString &frontEnd) {
  const OperationRequest &q = attempt.request;
  records::Record r;
  r.station = attempt.port;
  r.portPath = serial::StablePortPath(attempt.port);
  r.chip = q.chip.ChipName.trimmed();
  r.dataflash = q.chip.DataflashCode;
  if (q.mode)
    r.mode = base::ModeName(*q.mode);
  if (q.supply)
    r.power = base::SupplyName(*q.supply);
  switch (q.operation) {
  case BoxOperation::Set:
    r.count = q.count;
    break;
  case BoxOperation::Load:
    r.count = q.image ? q.image->count : q.count;
    r.filePath = attempt.file.path;
    r.fileSha256 = attempt.file.sha256;
    if (q.image) {
      r.imageChecksum = q.image->checksumCaption;
      r.sectors = base::IntToHex(q.image->sectors, 8);
    } else if (q.sectors) {
      r.sectors = base::IntToHex(*q.sectors, 8);
    }
    break;
  case BoxOperation::ReadOut:
    r.filePath = q.outputFile;
    break;
  default:
    break;
  }
  r.startedAt = attempt.startedAt;
  r.finishedAt = attempt.finishedAt;
  r.frontEnd = frontEnd;
  r.operation = BoxOperationName(q.operation);
  r.result = protocol::OutcomeName(attempt.end.outcome);
  r.message = attempt.end.message.Designed();
  r.bytesSent = qint64(attempt.bytesSent);
  r.durationMs = attempt.startedAt.msecsTo(attempt.finishedAt);
  r.programVersion = QString::fromUtf8(base::ProgramVersion());
  return r;
}

} // namespace session
