#pragma once
// Chip configuration: the chosen line of the chip type list fills the chip
// record, and the dataflash use (CODE or EEPROM) rewrites its code and sizes.
//
// A chip line carries five fields in fixed 1-based columns; only the line the
// operator double-clicks is read. Sizes are in KiB ("32K "); while a chip's
// dataflash serves as code, the programmed area is 4 KiB larger. Everything
// here works on plain data on the calling thread; a step that fails half-way
// leaves in ChipChoice what it did before the error, so a front end can show
// exactly that.

#include "chip/chip_record.h"

#include <QString>
#include <cstdint>
#include <optional>

namespace chip {

// What a chip's dataflash serves as.
enum class DataflashUse : uint8_t { Code, Eeprom };

// The five fields of a chip line, each cut as it stands (blanks included).
struct ChipFields {
  QString Name;     // columns 4-18
  QString Start;    // columns 25-28
  QString End;      // columns 32-35
  QString SizeText; // columns 45-48
  QString Code;     // columns 55-58
};

// Cuts a line into its fields; a field reaching past the line's end is cut
// short, one starting past it is empty.
ChipFields CutChipLine(const QString &line);

// The size's first character, followed by its second unless that is "K".
QString SizeDigits(const QString &sizeText);

// Reads size digits as KiB. Leading blanks are allowed (" 3" is 3); anything
// else that is not a decimal digit raises EConvertError with the digits.
int32_t SizeKiB(const QString &digits);

// start + "-" + end + "=" + sizeK + "K", as "0000-7FFF=32K".
QString RangeText(const QString &start, const QString &end, const QString &sizeK);

// What a chip choice or a change of the dataflash use means for the operator.
struct ChipChoice {
  QString name;                 // the chip's name as shown
  QString range;                // its address range and size as shown
  bool dataflashChoice = false; // whether its dataflash use can be chosen
  bool loadReady = false;       // whether a load may start
};

// Applies the double-clicked line: cuts the fields into the chip record, then
// by its dataflash code either applies the dataflash use `use` (known
// dataflash codes; none chosen applies no row) or the range of a chip without
// a dataflash choice ("0x00"), and enables the load. A size that is not a number raises EConvertError
// after the steps before it are done; ImageSize, the dataflash range text and
// the load button are then left as they were.
void ChooseChip(const QString &line, std::optional<DataflashUse> use, ChipRecord &chip, uint32_t &imageSize,
                ChipChoice &choice);

// A change of the dataflash use to `use`: switches DataflashCode between a
// CODE value and its EEPROM value and recomputes ChipSizeK, ImageSize and the
// range text. A code that names no dataflash area changes nothing. Raises
// EConvertError (code and ChipSizeK already set) when the size is not a number.
void ChangeDataflashUse(DataflashUse use, ChipRecord &chip, uint32_t &imageSize, ChipChoice &choice);

// The chip type list file's text as the chip window shows it (CR LF, CR and
// LF all end a line), or the "Cannot open file" text with the system's reason.
struct ChipListText {
  QString text;
  QString error;
};
ChipListText ReadChipListFile(const QString &path);

} // namespace chip
