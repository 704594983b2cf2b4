#include "cli/run_sessions.h"

#include "cli/console.h"

namespace cli {

// Not written yet: the box sessions are still to come. Until then every
// command that needs a box stops here, after all its checks, and says so.
int RunSessions(const SessionPlan &plan, EventSink &, InterruptWatcher &) {
  WriteStderr((QStringLiteral("kavrin-cli ") + CommandName(plan.command) +
               QStringLiteral(": driving a box is not available yet\n"))
                  .toUtf8());
  return kExitUsage;
}

} // namespace cli
