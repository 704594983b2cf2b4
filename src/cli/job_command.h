#pragma once
// `kavrin-cli job`: `job create` writes a production job file from load's
// options and a few of its own, `job show` opens one with every check a run
// makes and prints it.

#include "cli/commands.h"

namespace cli {

// args: what follows "job".
int RunJob(const QStringList &args, const CliContext &context);

} // namespace cli
