#include "chip/chip_record.h"

#include "base/convert.h"

ChipNumbers ParseChipNumbers(const ChipRecord &chip) {
  return {HexTextToInt(chip.ChipStart), HexTextToInt(chip.ChipEnd), TryStrToInt(chip.ChipSizeK), chip.ChipSizeK,
          chip.DataflashCode, chip.ChipStart};
}
