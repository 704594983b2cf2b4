#pragma once
// How one box's operation ended, as the command line reports it: the session's
// outcome classes (session/operation_request.h, whose names the JSON events
// carry) and the exit status of each (base/result_class.h's table).

#include "base/result_class.h"
#include "session/operation_request.h"

#include <span>

namespace cli {

using ResultClass = session::Outcome;

inline constexpr int kExitUsage = 2;
// Several boxes of which at least one did not end ok; each box's own status is
// in its result event.
inline constexpr int kExitGangFailed = 1;

inline int ExitCode(ResultClass result) { return base::RowOf(result).exitStatus; }

// The exit status of a whole run: one box's own status; for several boxes 0
// when all are ok, else 1. An interrupted run ends 130 however many boxes it
// had; one whose records could not all be written, 10 (a script must not take
// its units for recorded passes).
inline int RunExitCode(std::span<const ResultClass> results) {
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
