#include <gtest/gtest.h>

#include <QApplication>
#include <cstdlib>

// GUI tests need one QApplication for the whole run; under CTest they use the
// offscreen platform unless the test sets a real display.
int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  // Test discovery lists the tests without the test environment (no platform set).
  if (::testing::GTEST_FLAG(list_tests)) return RUN_ALL_TESTS();
  ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication application(argc, argv);
  QApplication::setOrganizationName("Lumacap");
  QApplication::setApplicationName("Lumacap");
  return RUN_ALL_TESTS();
}
