#include <gtest/gtest.h>

#include <QApplication>

#include "OpenMPThreads.h"

// GUI tests need one QApplication for the whole run; under CTest they use the
// offscreen platform unless the test sets a real display.
int main(int argc, char** argv) {
  lumacap::test::restartWithOneOpenMPThreadUnlessChosen(argv);
  ::testing::InitGoogleTest(&argc, argv);
  // Listing the tests (CTest's discovery at build time) needs no display.
  if (::testing::GTEST_FLAG(list_tests)) return RUN_ALL_TESTS();
  // CTest's environment for these tests gets lost on the way (the discovered
  // tests receive only the first variable), so the default is set here.
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication application(argc, argv);
  QApplication::setOrganizationName("Lumacap");
  QApplication::setApplicationName("Lumacap");
  return RUN_ALL_TESTS();
}
