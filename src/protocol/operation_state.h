#pragma once
// The operation in progress on one box: its code, its clocks' counters, the
// read-out counters and the last reply. One instance per box session, touched
// only on the thread the session lives on.

#include <QString>
#include <cstdint>
#include <vector>

inline constexpr uint32_t kReplyBufferSize = 65536; // a delivery carries at most 65535

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
  QString StartHigh; // first two characters of the chip start, per read command

  // Last reply: each delivery is copied to the start; later bytes keep earlier replies.
  std::vector<uint8_t> ReplyBuffer = std::vector<uint8_t>(kReplyBufferSize, 0);
};
