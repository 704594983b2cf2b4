#include "app/ui/program.h"

#include "app/install_paths.h"
#include "app/ui/form1.h"
#include "chip/ui/form2.h"
#include "image/ui/form4.h"
#include "protocol/ui/form3.h"
#include "serial/comm.h"

#include <QCoreApplication>
#include <QDir>

Program::Program(Dialogs &dialogs, std::shared_ptr<SerialLayer> serialLayer, const InstallPaths &paths) {
  Form1 = std::make_unique<TForm1>(State, dialogs, std::move(serialLayer), paths);
  Form2 = std::make_unique<TForm2>();
  Form3 = std::make_unique<TForm3>();
  Form4 = std::make_unique<TForm4>();
  Form1->AttachForms(Form2.get(), Form3.get(), Form4.get());
}

Program::Program(Dialogs &dialogs, std::shared_ptr<SerialLayer> serialLayer, const QString &appDir)
    : Program(dialogs, std::move(serialLayer), PortableInstallPaths(appDir)) {}

Program::~Program() = default;

QString ExecutableFolder() {
  QString dir = QCoreApplication::applicationDirPath();
  if (!dir.endsWith(QLatin1Char('/')))
    dir += QLatin1Char('/');
  return dir;
}
