#pragma once
// What the main window's controls stand for between operations: the chip
// record as chosen (chip/), the image table of the last load as the file
// buffer view shows it and the image size, plus the program's folder. The
// operation in progress and the packed image are the box session's own. One
// instance lives for the whole run (owned by Program) and is touched on the
// GUI thread only.

#include "chip/chip_record.h"
#include "image/firmware_image.h"

#include <QString>
#include <string>
#include <vector>

namespace app {

struct SharedState : chip::ChipRecord {
  // "$" + the two characters from the file, per address.
  std::vector<std::string> ImageText = std::vector<std::string>(image::kImageTextEntries);
  uint32_t ImageSize = 0; // bytes
  // The executable's folder, ending in the path separator. The settings file
  // and the chip list live elsewhere when installed (base/install_paths.h).
  QString AppDir;
};

} // namespace app
