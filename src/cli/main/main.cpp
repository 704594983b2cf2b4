// kavrin-cli: the programmer boxes from the command line.
#include "base/message_log.h"
#include "cli/commands.h"
#include "records/store_location.h"

#include <QCoreApplication>
#include <QFileInfo>

int main(int argc, char **argv) {
  QCoreApplication app(argc, argv);
  // Beside the default records store: what Qt and its drivers say is kept there, off the terminal.
  base::KeepQtMessagesInLog(QFileInfo(records::DefaultSqlitePath()).absolutePath() + QStringLiteral("/kavrin.log"));
  return cli::RunCli(argc, argv, {QCoreApplication::applicationDirPath()});
}
