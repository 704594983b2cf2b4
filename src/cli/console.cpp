// The command line's lines for people, on any system.
#include "cli/console.h"

#include "base/printable.h"
#include "cli/result_class.h"

namespace cli {

void Print(const QString &lines) { WriteStdout(base::PrintableLines(lines).toUtf8()); }

void Complain(const QString &lines) { WriteStderr(base::PrintableLines(lines).toUtf8()); }

int UsageError(const QString &command, const QString &why) {
  Complain(QStringLiteral("kavrin-cli %1: %2\nTry 'kavrin-cli %1 --help'.\n").arg(command, why));
  return kExitUsage;
}

} // namespace cli
