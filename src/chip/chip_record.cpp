#include "chip/chip_record.h"

#include "base/convert.h"

namespace chip {

ChipNumbers ParseChipNumbers(const ChipRecord &chip) {
  return {base::HexTextToInt(chip.ChipStart),
          base::HexTextToInt(chip.ChipEnd),
          base::TryStrToInt(chip.ChipSizeK),
          chip.ChipSizeK,
          chip.DataflashCode,
          chip.ChipStart};
}

} // namespace chip
