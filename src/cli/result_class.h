#pragma once
// How one box's operation ended, as the command line reports it: the session's
// outcome classes (session/operation_request.h, whose names the JSON events
// carry) and the exit status of each.

#include "session/operation_request.h"

#include <span>

namespace cli {

using ResultClass = session::Outcome;

inline constexpr int kExitUsage = 2;
// Several boxes of which at least one did not end ok; each box's own status is
// in its result event.
inline constexpr int kExitGangFailed = 1;

constexpr int ExitCode(ResultClass result) {
  switch (result) {
  case ResultClass::Ok:
    return 0;
  case ResultClass::FileRefused:
    return 3;
  case ResultClass::PortUnavailable:
    return 4;
  case ResultClass::BoxFailed:
    return 5;
  case ResultClass::VerifyMismatch:
    return 6;
  case ResultClass::NoAnswer:
    return 7;
  case ResultClass::PortLost:
    return 8;
  case ResultClass::ReadProtected:
    return 9;
  case ResultClass::NotRecorded:
    return 10;
  case ResultClass::Interrupted:
    return 130;
  case ResultClass::Cancelled:
    break;
  }
  return 1;
}

// The exit status of a whole run: one box's own status; for several boxes 0
// when all are ok, else 1. An interrupted run ends 130 however many boxes it
// had; one whose records could not all be written, 10 (a script must not take
// its units for recorded passes).
constexpr int RunExitCode(std::span<const ResultClass> results) {
  if (results.size() == 1)
    return ExitCode(results[0]);
  bool allOk = true, notRecorded = false;
  for (ResultClass result : results) {
    if (result == ResultClass::Interrupted)
      return ExitCode(ResultClass::Interrupted);
    notRecorded = notRecorded || result == ResultClass::NotRecorded;
    allOk = allOk && result == ResultClass::Ok;
  }
  return notRecorded ? ExitCode(ResultClass::NotRecorded) : allOk ? 0 : kExitGangFailed;
}

} // namespace cli
