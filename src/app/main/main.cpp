// kavrin-programmer: start-up. Title, main window (its creation handler opens
// the port), the three hidden windows, then the message loop until the main
// window closes.
#include "app/ui/dialogs.h"
#include "app/ui/form1.h"
#include "app/ui/program.h"
#include "serial/comm.h"

#include <QApplication>
#include <QStyleFactory>

int main(int argc, char **argv) {
  QApplication app(argc, argv);
  // The application name titles message boxes; no display name is set, since
  // that would be appended to every window caption on X11.
  QApplication::setApplicationName(kApplicationTitle);
  QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
  QtDialogs dialogs;
  Program program(dialogs, MakePlatformSerialLayer(), ExecutableFolder());
  program.Form1->show();
  return app.exec();
}
