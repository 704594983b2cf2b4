#pragma once
// Choosing the chip for a read-out by name, with the window's own chip rules:
// the chip type list is found as the window finds it, the named line is
// applied as if double-clicked (ChooseChip) with the chosen dataflash use.

#include "chip/chip_list.h"
#include "chip/chip_record.h"

#include <QString>
#include <cstdint>
#include <optional>

namespace cli {

// The chip type list where the window finds it (base/install_paths.h).
QString FindChipList(const QString &programDir);

// What the read-out frame and its time-out are built from: the chip record as
// the window's choice fills it, and the image size that choice sets.
struct ChipTarget {
  chip::ChipRecord record;
  uint32_t imageSize = 0; // bytes
};

struct ChipLookup {
  std::optional<ChipTarget> chip;
  QString error; // a usage error: names the option
};

// Looks `name` up (letter case ignored) in the list text and applies the
// dataflash use; one given for a chip without a dataflash choice is refused.
ChipLookup LookUpChip(const QString &listText, const QString &name, chip::DataflashUse use, bool useGiven);

} // namespace cli
