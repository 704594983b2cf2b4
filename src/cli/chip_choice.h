#pragma once
// Choosing the chip for a read-out by name, with the window's own chip rules:
// the chip type list is found as the window finds it, the named line is
// applied as if double-clicked (ChooseChip) with the chosen dataflash use.

#include <QString>
#include <cstdint>
#include <optional>

namespace cli {

// The chip type list beside the program, else in <program>/../share/kavrin-programmer/.
// The first path that exists; the one beside the program when neither does.
QString FindChipList(const QString &programDir);

// What the read-out frame and its time-out are built from.
struct ChipTarget {
  QString name;
  QString start; // four hex digits
  QString end;
  QString dataflashCode;
  uint32_t imageSize = 0; // bytes
};

struct ChipLookup {
  std::optional<ChipTarget> chip;
  QString error; // a usage error: names the option
};

// Looks `name` up (letter case ignored) in the list text. `dataflashItem` is
// 0 for code, 1 for EEPROM; given for a chip without a dataflash choice it is
// refused.
ChipLookup LookUpChip(const QString &listText, const QString &name, int dataflashItem, bool dataflashGiven);

// The list file's text, or an error text with the system's reason.
struct ChipListText {
  QString text;
  QString error;
};
ChipListText ReadChipListFile(const QString &path);

} // namespace cli
