// Time from creating the program (settings, records store, the four windows,
// the port's first open) to the main window shown, offscreen. Prints the
// median and the worst of several rounds; the window should be up well under
// a second, and a start-up over 3 s is reported as a failure (exit status 1).
#include "app/ui/dialogs.h"
#include "app/ui/form1.h"
#include "app/ui/program.h"
#include "serial/serial_layer.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

class SilentDialogs : public app::Dialogs {
public:
  void ShowMessage(QWidget *, const QString &) override {}
  void ShowError(QWidget *, const QString &) override {}
  std::optional<app::ChosenFile> GetOpenFileName(QWidget *) override { return std::nullopt; }
  std::optional<QString> GetSaveFileName(QWidget *, const QString &) override { return std::nullopt; }
  void ShowModal(QWidget *) override {}
  void Beep() override {}
  void ShowAbout(QWidget *, const QString &) override {}
};

constexpr int kRounds = 7;
constexpr double kLimitMs = 3000;

} // namespace

int main(int argc, char **argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
    qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  std::vector<double> ms;
  for (int round = 0; round < kRounds; ++round) {
    QTemporaryDir folder;
    QFile settings(folder.filePath(QStringLiteral("sysset.ini")));
    if (!settings.open(QIODevice::WriteOnly) || settings.write("[comx]\nnum=/nonexistent/kavrin-port\n") < 0)
      return 2;
    settings.close();
    SilentDialogs dialogs;
    QElapsedTimer clock;
    clock.start();
    app::Program program(dialogs, serial::MakePlatformSerialLayer(), folder.path() + QLatin1Char('/'));
    program.Form1->show();
    if (!QTest::qWaitForWindowExposed(program.Form1.get()))
      return 2;
    ms.push_back(double(clock.nsecsElapsed()) / 1e6);
  }
  std::sort(ms.begin(), ms.end());
  std::printf("start-up to the main window shown: median %.1f ms, worst %.1f ms (%d rounds)\n", ms[ms.size() / 2],
              ms.back(), kRounds);
  return ms.back() < kLimitMs ? 0 : 1;
}
