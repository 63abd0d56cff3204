#include <gtest/gtest.h>

#include <QApplication>

// GUI tests need one QApplication for the whole run; under CTest they use the
// offscreen platform unless the test sets a real display.
int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  QApplication application(argc, argv);
  QApplication::setOrganizationName("Lumacap");
  QApplication::setApplicationName("Lumacap");
  return RUN_ALL_TESTS();
}
