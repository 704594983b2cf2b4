#pragma once
// The chip record: the chosen line of the chip type list, as texts cut from
// the list (shown to the operator as they stand), and the numbers an operation
// on the box needs, parsed from them when the operation starts.

#include <QString>
#include <cstdint>
#include <optional>

namespace chip {

struct ChipRecord {
  QString ChipName;
  QString ChipStart;     // 4 hex digits
  QString ChipEnd;       // 4 hex digits
  QString ChipSizeText;  // "32K " as cut from the list
  QString DataflashCode; // "0x00", "0xB0", "0xB1", ...
  QString ChipSizeK;     // decimal digits: the size programmed, in KiB
};

// What verify, read-out and erase-program-verify read of the chip record.
// Hex texts that are not numbers count as 0; a size that is not a decimal
// number stays unknown (a read-out then fails on each block, naming the text).
struct ChipNumbers {
  uint32_t start = 0;
  uint32_t end = 0;
  std::optional<int32_t> sizeK;
  QString sizeKText;     // as it stood, for the message when it is no number
  QString dataflashCode; // compared exactly
  QString startText;     // its first two characters go into the read command
};

ChipNumbers ParseChipNumbers(const ChipRecord &chip);

} // namespace chip
