#include <gtest/gtest.h>

#include <QApplication>

// GUI tests need one QApplication for the whole run; under CTest they use the
// offscreen platform unless the test sets a real display.
int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  if (::testing::GTEST_FLAG(list_tests)) return RUN_ALL_TESTS();
  // CTest's environment list reaches only the first entry; default here.
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication application(argc, argv);
  QApplication::setOrganizationName("Lumacap");
  QApplication::setApplicationName("Lumacap");
  return RUN_ALL_TESTS();
}
