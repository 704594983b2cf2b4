// Test main for window tests: an offscreen application with the program's style.
#include "app/ui/dialogs.h"

#include <QApplication>
#include <QStyleFactory>
#include <QTemporaryDir>
#include <gtest/gtest.h>

int main(int argc, char **argv) {
  // Production records of the programs the tests start go to a folder of the
  // run's own, never into the records of whoever runs the tests.
  QTemporaryDir data;
  qputenv("XDG_DATA_HOME", data.path().toLocal8Bit());
  // The designed texts whatever the locale of whoever runs the tests; the
  // tests of the operator's language set it themselves.
  qputenv("LC_ALL", "C.UTF-8");
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
    qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  QApplication::setApplicationName(app::kApplicationTitle);
  QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
