#pragma once
// kavrin-cli, the command line: the table of commands and the entry the
// executable calls.
//
// How it works: main() makes a QCoreApplication and hands the arguments to
// RunCli, which finds the command in the table; each command parses its own
// arguments (so a command with subcommands fits the same table). Everything
// runs on the main thread. Commands that need a box check all they can first
// (options, the HEX file, the chip), then build a SessionPlan and pass it with
// an EventSink and an InterruptWatcher to RunSessions (run_sessions.h), which
// runs the sessions on the event loop; the time-out of each box is the
// --timeout option, in seconds. Errors are values, not exceptions: a usage
// error prints "kavrin-cli <command>: <option>: <why>" and ends with status 2,
// a refused file ends with 3 and the window's text for it; every error keeps
// the system's reason where there is one. Output: results of check-file and
// ports on standard output, everything else on standard error, except the
// JSON Lines of --json.

#include "cli/options.h"

#include <QLatin1StringView>
#include <QString>
#include <QStringList>
#include <span>

namespace cli {

struct CliContext {
  QString programDir; // the executable's folder: the chip type list is found from it
};

struct CommandEntry {
  QLatin1StringView name;
  QLatin1StringView summary;
  // args: what follows the command name. Returns the exit status.
  int (*run)(const QStringList &args, const CliContext &context);
};

std::span<const CommandEntry> Commands();

// args: what follows the program name.
int RunCli(const QStringList &args, const CliContext &context);
// The same from main's arguments, byte for byte: an argument that is not
// UTF-8 text is refused (status 2) rather than passed on changed.
int RunCli(int argc, char **argv, const CliContext &context);

// The general usage text, listing the commands.
QString UsageText();

// Whether the command goes on with its parsed options; when not, `status` is
// set: 0 once its help is printed for --help, 2 once a usage error is.
bool Proceeds(const ParseResult &parsed, const QString &command, int &status);

// The command's option set T, or none with `status` set as Proceeds sets it.
template <typename T> std::optional<T> OptionsOrStatus(const ParseResult &parsed, const QString &command, int &status) {
  return Proceeds(parsed, command, status) ? std::optional<T>(parsed.Get<T>()) : std::nullopt;
}

} // namespace cli
