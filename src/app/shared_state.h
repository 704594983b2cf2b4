#pragma once
// The state the main window's operations share. One instance lives for the
// whole run (owned by Program) and is read and written directly by the
// handlers, on the GUI thread only: the serial threads never touch it, they
// hand received bytes to the GUI thread, which copies them into ReplyBuffer.
// Texts start empty, numbers zero, buffers zero-filled.

#include <QString>
#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

inline constexpr uint32_t kImageTextEntries = 65536;  // one per 16-bit image address
inline constexpr uint32_t kReplyBufferSize = 65536;   // a delivery carries at most 65535
inline constexpr uint32_t kBlockSlots = 16;           // one per 4 KiB of a 64 KiB space
inline constexpr uint32_t kBlockSlotSize = 4123;      // a record of 4120 and 3 unused bytes
inline constexpr uint32_t kBlockRecordSize = 4120;    // what block 0 sends
inline constexpr uint32_t kRequestedBlockSize = 4102; // what a block request sends
inline constexpr uint32_t kBlockDataSize = 4096;

// Operation codes held in CurrentCommand.
enum : uint8_t {
  kCommandNone = 0,
  kCommandSet = 1,
  kCommandVerify = 4,
  kCommandReadOut = 5,
  kCommandEraseProgramVerify = 6,
  kCommandFileTransfer = 7,
};

struct SharedState {
  // The executable's folder, ending in the path separator. The settings file
  // and the chip list live elsewhere when installed (app/install_paths.h).
  QString AppDir;

  // Chip record: the chosen line of the chip type list.
  QString ChipName;
  QString ChipStart;     // 4 hex digits
  QString ChipEnd;       // 4 hex digits
  QString ChipSizeText;  // "32K " as cut from the list
  QString DataflashCode; // "0x00", "0xB0", "0xB1", ...
  QString ChipSizeK;     // decimal digits

  // Read command.
  QString StartHigh; // first two characters of ChipStart

  // Operation in progress.
  uint8_t CurrentCommand = kCommandNone; // never reset when an operation ends
  uint32_t ProgressPercent = 0;
  uint32_t ElapsedTicks = 0; // 100 ms ticks
  uint32_t ElapsedSeconds = 0;
  uint32_t ElapsedTenths = 0;
  uint8_t ReadBlockCount = 0;
  int32_t ReadAddress = 0;

  // Last reply: each delivery is copied to the start; later bytes keep earlier replies.
  std::vector<uint8_t> ReplyBuffer = std::vector<uint8_t>(kReplyBufferSize, 0);

  // Firmware image: "$" + the two characters from the file, per address.
  std::vector<std::string> ImageText = std::vector<std::string>(kImageTextEntries);
  uint32_t ImageSize = 0; // bytes
  std::vector<uint8_t> ImageBlocks = std::vector<uint8_t>(kBlockSlots * kBlockSlotSize, 0);
};
