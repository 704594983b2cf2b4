// kavrin-cli: the programmer boxes from the command line.
#include "cli/commands.h"

#include <QCoreApplication>

int main(int argc, char **argv) {
  QCoreApplication app(argc, argv);
  return cli::RunCli(argc, argv, {QCoreApplication::applicationDirPath()});
}
