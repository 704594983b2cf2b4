#pragma once
// The two clocks of a timed operation, as plain steps over its state.
// Timer1 (progress) adds 1 % per tick up to 98 and then stops itself; only a
// reply shows 100 %. Timer2 (elapsed time) ticks every 100 ms and reports the
// time-out on the tick that reaches 120.0 seconds. The box session owns the
// timers and applies what these steps decide.

#include "base/message.h"
#include "protocol/operation_state.h"

#include <QString>
#include <cstdint>

namespace protocol {

inline constexpr uint32_t kProgressCeiling = 98; // the clock alone never goes beyond
inline constexpr uint32_t kElapsedTickMs = 100;  // Timer2's period
inline constexpr uint32_t kTimeOutSeconds = 120;
inline const base::Message kTimeOutMessage{
    "Operation", QT_TRANSLATE_NOOP("Operation", "本次操作超时失败，编程器无响应，请检查供电是否正常！")};

// Progress intervals in milliseconds, from the span End - Start of the chip's
// code flash taken as an unsigned 32-bit difference (it wraps when End is
// below Start). 0 means the progress clock never ticks.
int VerifyInterval(uint32_t chipStart, uint32_t chipEnd);
int ReadOutInterval(uint32_t chipStart, uint32_t chipEnd);
int EraseProgramVerifyInterval(uint32_t chipStart, uint32_t chipEnd);
int FileTransferInterval(uint32_t imageSize);

// One Timer1 tick. Returns false when the percentage has reached the ceiling
// and the clock must stop (the percentage is then left as it is).
bool ProgressStep(uint32_t &percent);

// One Timer2 tick: counts it, updates seconds and tenths. Returns true on the
// tick that reaches `timeOutSeconds` (once per operation, as the clock start
// resets the ticks).
bool ElapsedStep(OperationState &state, uint32_t timeOutSeconds = kTimeOutSeconds);

} // namespace protocol
