#include <gtest/gtest.h>

#include "support/Subprocess.h"

// Test programs without a GUI: a child left behind by a stopped test run is
// ended with it.
int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  lumacap::test::killRecordedGroupsOnSignals();
  return RUN_ALL_TESTS();
}
