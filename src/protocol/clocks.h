#pragma once
// The two clocks of a timed operation, as plain steps over the shared state.
// Timer1 (progress) adds 1 % per tick up to 98 and then stops itself; only a
// reply shows 100 %. Timer2 (elapsed time) ticks every 100 ms and reports the
// time-out on the tick that reaches 120.0 seconds. The window owns the timers
// and applies what these steps decide.

#include "app/shared_state.h"

#include <QString>
#include <cstdint>

inline constexpr uint32_t kProgressCeiling = 98; // the clock alone never goes beyond
inline constexpr uint32_t kElapsedTickMs = 100;  // Timer2's period
inline constexpr uint32_t kTimeOutSeconds = 120;
inline const QString kTimeOutMessage = QStringLiteral("本次操作超时失败，编程器无响应，请检查供电是否正常！");

// End - Start of the chip's code flash as an unsigned 32-bit difference (wraps
// when End is below Start); texts that are not hex numbers count as 0.
uint32_t AddressSpan(const QString &chipStart, const QString &chipEnd);

// Progress intervals in milliseconds. 0 means the progress clock never ticks.
int VerifyInterval(const QString &chipStart, const QString &chipEnd);
int ReadOutInterval(const QString &chipStart, const QString &chipEnd);
int EraseProgramVerifyInterval(const QString &chipStart, const QString &chipEnd);
int FileTransferInterval(uint32_t imageSize);

// "<percent> %", as Label7 shows it.
QString ProgressText(uint32_t percent);
// "<seconds>.<tenths> 秒", as Label9 shows it.
QString ElapsedText(uint32_t seconds, uint32_t tenths);

// One Timer1 tick. Returns false when the percentage has reached the ceiling
// and the clock must stop (the percentage is then left as it is).
bool ProgressStep(uint32_t &percent);

// One Timer2 tick: counts it, updates seconds and tenths. Returns true on the
// tick that reaches the time-out (once per operation, as the clock start resets
// the ticks).
bool ElapsedStep(SharedState &state);
