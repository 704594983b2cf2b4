#pragma once
// kavrin-cli's commands: the table of commands and the entry the executable
// calls. Each command parses its own arguments, so a command with a grammar of
// its own (subcommands) fits the same table. Usage errors end with status 2
// and a message that names the option; nothing touches a port before every
// option, the file and the chip have been checked.

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

// The general usage text, listing the commands.
QString UsageText();

} // namespace cli
