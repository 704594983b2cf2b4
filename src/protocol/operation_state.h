#pragma once
// The operation in progress on one box: its code, its clocks' counters and the
// read-out counters. One instance per box session, its own, touched only on
// the thread the session lives on.

#include <cstdint>

namespace protocol {

// Operation codes held in CurrentCommand.
enum : uint8_t {
  kCommandNone = 0,
  kCommandSet = 1,
  kCommandVerify = 4,
  kCommandReadOut = 5,
  kCommandEraseProgramVerify = 6,
  kCommandFileTransfer = 7,
};

struct OperationState {
  uint8_t CurrentCommand = kCommandNone; // never reset when an operation ends
  uint32_t ProgressPercent = 0;
  uint32_t ElapsedTicks = 0; // 100 ms ticks
  uint32_t ElapsedSeconds = 0;
  uint32_t ElapsedTenths = 0;
  uint8_t ReadBlockCount = 0;
  int32_t ReadAddress = 0;
  // A transfer's blocks, bit n for block n: those holding data of the file in
  // the selected sectors, and those the box has been sent (block 0 with the
  // image, the others as it asked for them).
  uint16_t BlocksToAsk = 0;
  uint16_t BlocksAsked = 0;
};

} // namespace protocol
