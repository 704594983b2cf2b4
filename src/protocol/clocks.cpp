#include "protocol/clocks.h"

#include "base/convert.h"

uint32_t AddressSpan(const QString &chipStart, const QString &chipEnd) {
  return HexTextToInt(chipEnd) - HexTextToInt(chipStart);
}

int VerifyInterval(const QString &chipStart, const QString &chipEnd) {
  return int(AddressSpan(chipStart, chipEnd) / 100);
}

int ReadOutInterval(const QString &chipStart, const QString &chipEnd) {
  return int(AddressSpan(chipStart, chipEnd) / 128);
}

int EraseProgramVerifyInterval(const QString &chipStart, const QString &chipEnd) {
  return int(AddressSpan(chipStart, chipEnd) / 128);
}

int FileTransferInterval(uint32_t imageSize) { return int(imageSize / 230); }

QString ProgressText(uint32_t percent) { return QStringLiteral("%1 %").arg(percent); }

QString ElapsedText(uint32_t seconds, uint32_t tenths) { return QStringLiteral("%1.%2 秒").arg(seconds).arg(tenths); }

bool ProgressStep(uint32_t &percent) {
  if (percent >= kProgressCeiling)
    return false;
  ++percent;
  return true;
}

bool ElapsedStep(SharedState &state) {
  ++state.ElapsedTicks;
  const uint32_t ms = state.ElapsedTicks * kElapsedTickMs;
  state.ElapsedSeconds = ms / 1000;
  state.ElapsedTenths = (ms % 1000) / 100;
  // Only the tick that brings the time to 120.0 reports, so a clock that is
  // ticked on regardless still reports once.
  return state.ElapsedSeconds == kTimeOutSeconds && state.ElapsedTenths == 0;
}
