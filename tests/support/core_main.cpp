// Test main for logic tests: a core application, so that event loops and
// cross-thread notices work, but no windows.
#include <QCoreApplication>
#include <gtest/gtest.h>

int main(int argc, char **argv) {
  QCoreApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
