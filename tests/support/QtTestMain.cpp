#include <gtest/gtest.h>

#include <QApplication>
#include <cstdlib>

// GUI tests need one QApplication for the whole run; under CTest they use the
// offscreen platform unless the test sets a real display.
int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  // Also while CTest lists the tests, when no environment of ours is set yet.
  ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication application(argc, argv);
  QApplication::setOrganizationName("Lumacap");
  QApplication::setApplicationName("Lumacap");
  return RUN_ALL_TESTS();
}
