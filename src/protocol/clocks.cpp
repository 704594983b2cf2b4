#include "protocol/clocks.h"

namespace protocol {

int VerifyInterval(uint32_t chipStart, uint32_t chipEnd) { return int((chipEnd - chipStart) / 100); }

int ReadOutInterval(uint32_t chipStart, uint32_t chipEnd) { return int((chipEnd - chipStart) / 128); }

int EraseProgramVerifyInterval(uint32_t chipStart, uint32_t chipEnd) { return int((chipEnd - chipStart) / 128); }

int FileTransferInterval(uint32_t imageSize) { return int(imageSize / 230); }

bool ProgressStep(uint32_t &percent) {
  if (percent >= kProgressCeiling)
    return false;
  ++percent;
  return true;
}

bool ElapsedStep(OperationState &state, uint32_t timeOutSeconds) {
  ++state.ElapsedTicks;
  const uint32_t ms = state.ElapsedTicks * kElapsedTickMs;
  state.ElapsedSeconds = ms / 1000;
  state.ElapsedTenths = (ms % 1000) / 100;
  // Only the tick that brings the time to 120.0 reports, so a clock that is
  // ticked on regardless still reports once.
  return state.ElapsedSeconds == timeOutSeconds && state.ElapsedTenths == 0;
}

} // namespace protocol
