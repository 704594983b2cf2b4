#pragma once
// What a front end asks of a box session, in the engine's own words, and what
// the session reports of each attempt. A front end translates its controls or
// options into an OperationRequest; the session does the rest (frames, block
// packing, clocks, replies, time-out) and ends each attempt with an Attempt,
// from which MakeRecord builds the production record for every front end alike.

#include "base/box_choices.h"
#include "base/message.h"
#include "chip/chip_record.h"
#include "image/firmware_file.h"
#include "protocol/outcome.h"
#include "records/record.h"

#include <QDateTime>
#include <QString>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace session {

// The operations a session runs, by the names the records and the command line use.
enum class BoxOperation : uint8_t { Set, Load, Verify, ReadOut, EraseProgramVerify };
QString BoxOperationName(BoxOperation operation); // "set", "load", "verify", "read-out", "erase-program-verify"

// The box's mode and supply, as every layer names them (base/box_choices.h).
using base::BoxMode;
using base::BoxSupply;
// How an attempt ended, by the classes its record and a script act on, and a
// verify's mismatch: the reply handler decides most of them
// (protocol/outcome.h). Front ends name them here.
using protocol::Mismatch;
using protocol::Outcome;
using protocol::OutcomeName;

// The file a load comes from, as its record names it.
struct LoadSource {
  QString path;
  QString sha256; // of the file's bytes, lower-case hex
};

// The image a load sends, packed once: every block of the 32 KiB image with
// the name field, the count N and the sector mask, read-only from then on, so
// the boxes of a gang share one.
struct LoadImage {
  LoadSource source;
  uint32_t count = 0;   // N, as sent in every block
  uint32_t sectors = 0; // bit s-1 stands for sector s
  uint32_t checksum = 0;
  QString checksumCaption; // "CheckSum:  0x0012ABCD", as the window shows it
  std::vector<uint8_t> blocks;
  // Bit n for block n when it holds data in a selected sector: the box must
  // have asked for each of them before a success of the load is believed.
  uint16_t dataBlocks = 0;
};

// Packs `image` (one byte per address, as the firmware readers fill it) into
// the blocks of a load. `filled` are the addresses the file (and a unit's own
// data) gave; none given stands for the whole image. Sector s holds the 1 KiB from (s-1) * 400 hex on.
std::shared_ptr<const LoadImage> PackLoadImage(std::span<const uint8_t> image, LoadSource source, uint32_t count,
                                               uint32_t sectors, const std::vector<image::AddressRange> &filled = {});
// The same from the firmware as it was read: its image and the addresses it gave.
std::shared_ptr<const LoadImage> PackLoadImage(const image::FirmwareFile &firmware, LoadSource source, uint32_t count,
                                               uint32_t sectors);

struct OperationRequest {
  BoxOperation operation = BoxOperation::Verify;
  // Set: sent in its frame. Load: online makes the success text say the file
  // was burned. Either is recorded when given.
  std::optional<BoxMode> mode;
  std::optional<BoxSupply> supply;
  // Set: the count 0..9999 the box programs. Load: N and the sector mask,
  // recorded when no image is given (a file refused before it was packed).
  int32_t count = 0;
  std::optional<uint32_t> sectors;
  // Load: the packed image. Without it the session announces the load and
  // waits for HandOver (the window lets the operator choose the file between).
  std::shared_ptr<const LoadImage> image;
  // Verify, read-out, erase-program-verify: the chip, whose span paces the
  // progress; a read-out reads its size, or imageSize bytes when the chip's
  // size is no number. Every operation records its name and dataflash code.
  chip::ChipRecord chip;
  uint32_t imageSize = 0;
  // A read-out's file, for its record.
  QString outputFile;
  // Seconds without an ending answer before the attempt ends as NoAnswer.
  // Without it a timed operation takes 120 s and a set waits without limit.
  std::optional<uint32_t> timeOutSeconds;
};

// How an operation ended, and the text the operator is shown (empty when
// none is shown, e.g. a set refused by the box).
struct OperationEnd {
  Outcome outcome = Outcome::Ok;
  base::Message message; // each front end renders it; records keep its designed text
  std::optional<Mismatch> mismatch;
};

// What an attempt or a unit ends with where the box said nothing of its own,
// as records and scripts keep it: the window's words for a port that does not
// open, a failure the box answered without a text, an operator's stop, and
// the time-out in seconds ("no answer within 120 s").
inline const QString kOpenFailedText = QStringLiteral("Open serial port fails, re-select the serial port ");
inline const QString kBoxFailedText = QStringLiteral("the box answered with a failure");
inline const QString kStoppedText = QStringLiteral("stopped by the operator");
QString NoAnswerText(int seconds);

// One operation attempt, from its start to its end: what the production
// records keep of it.
struct Attempt {
  OperationRequest request;
  QString port;        // the port's name as chosen: the record's station
  LoadSource file;     // a load's file, also one refused before it was packed
  QDateTime startedAt; // UTC
  QDateTime finishedAt;
  OperationEnd end;
  uint64_t bytesSent = 0;
  BoxOperation Operation() const { return request.operation; }
};

// The production record of an attempt, the same for every front end;
// `frontEnd` is one of records::kFrontEnds.
records::Record MakeRecord(const Attempt &attempt, const QString &frontEnd);

} // namespace session
