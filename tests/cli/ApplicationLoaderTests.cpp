#include <gtest/gtest.h>

#include <filesystem>

#include "support/Subprocess.h"
#include "support/TempDir.h"

namespace lumacap {
namespace {

namespace fs = std::filesystem;
using test::lumacapBinary;
using test::runProcess;
using test::TempDir;

// The executable finds its application library beside itself (the build
// tree) or under ../lib/lumacap (an installation), whatever the working folder.
TEST(ApplicationLoaderTest, FindsTheLibraryWhenInstalled) {
  TempDir prefix;
  const fs::path library = fs::path(lumacapBinary()).parent_path() / "liblumacap-app.so";
  fs::create_directories(prefix / "bin");
  fs::create_directories(prefix / "lib" / "lumacap");
  fs::copy_file(lumacapBinary(), prefix / "bin" / "lumacap");
  fs::copy_file(library, prefix / "lib" / "lumacap" / "liblumacap-app.so");

  // Without a display the library itself answers, which shows it was loaded.
  const auto loaded = runProcess({"bash", "-c", "cd / && exec \"$0\"", (prefix / "bin" / "lumacap").string()},
                                 {}, {{"DISPLAY", ""}, {"QT_QPA_PLATFORM", ""}});
  EXPECT_EQ(loaded.exitStatus, 1);
  EXPECT_EQ(loaded.standardError, "Lumacap: no X11 display to run on ($DISPLAY is not set).\n");

  fs::remove(prefix / "lib" / "lumacap" / "liblumacap-app.so");
  const auto missing = runProcess({(prefix / "bin" / "lumacap").string()}, {}, {{"DISPLAY", ""}});
  EXPECT_EQ(missing.exitStatus, 1);
  EXPECT_TRUE(missing.standardError.starts_with("Lumacap: liblumacap-app.so was not found"))
      << missing.standardError;
  EXPECT_EQ(std::count(missing.standardError.begin(), missing.standardError.end(), '\n'), 1);
}

}  // namespace
}  // namespace lumacap
