#pragma once
// The state the main window's operations share, composed of the parts each
// subsystem owns: the chip record (chip/), the operation in progress
// (protocol/, worked on by the window's box session) and the firmware image
// (image/), plus the program's folder. One instance lives for the whole run
// (owned by Program) and is touched on the GUI thread only: the serial threads
// hand received bytes to the GUI thread, which copies them into ReplyBuffer.

#include "chip/chip_record.h"
#include "image/firmware_image.h"
#include "protocol/operation_state.h"

#include <QString>

struct SharedState : ChipRecord, OperationState, FirmwareImage {
  // The executable's folder, ending in the path separator. The settings file
  // and the chip list live elsewhere when installed (base/install_paths.h).
  QString AppDir;
};
