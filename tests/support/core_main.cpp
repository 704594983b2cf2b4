// Test main for logic tests: a core application, so that event loops and
// cross-thread notices work, but no windows.
#include <QCoreApplication>
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
  QCoreApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
