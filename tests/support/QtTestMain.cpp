#include <gtest/gtest.h>
#include <unistd.h>

#include <QApplication>
#include <QSettings>
#include <cstdlib>
#include <optional>

#include "support/IntegrationMain.h"
#include "support/StoppedPeer.h"
#include "support/Subprocess.h"
#include "support/TempDir.h"

namespace {

// Tesseract's OpenMP runtime reads OMP_THREAD_LIMIT once, when the library
// loads, which for a test program is before main(). So, as the lumacap
// executable does before it loads the application library, a test program
// whose user has not chosen a limit restarts itself with one thread.
void restartWithOneOpenMPThreadUnlessChosen(char** argv) {
  if (std::getenv("OMP_THREAD_LIMIT")) return;
  ::setenv("OMP_THREAD_LIMIT", "1", 0);
  ::execv("/proc/self/exe", argv);
  // Without /proc the tests still run, only slower.
}

// Every test starts with its settings in an empty folder of its own,
// whatever an earlier test stored or pointed QSettings at.
class PrivateSettingsFolder : public ::testing::EmptyTestEventListener {
 public:
  void OnTestStart(const ::testing::TestInfo&) override {
    const QString path = QString::fromStdString(folder_.emplace().path().string());
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, path);
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, path);
  }
  void OnTestEnd(const ::testing::TestInfo&) override { folder_.reset(); }

 private:
  std::optional<lumacap::test::TempDir> folder_;
};

}  // namespace

// GUI tests need one QApplication for the whole run. The integration tests
// (LUMACAP_REAL_X) run it on an X server of their own with openbox and a
// system tray; the others, under CTest, on the offscreen platform unless the
// test sets a real display.
int main(int argc, char** argv) {
  // A test's stand-in for a desktop service runs no tests.
  if (const std::optional<int> status = lumacap::test::runAsBusPeer(argc, argv)) return *status;
  restartWithOneOpenMPThreadUnlessChosen(argv);
  ::testing::InitGoogleTest(&argc, argv);
  // Listing the tests (CTest's discovery at build time) needs no display.
  if (::testing::GTEST_FLAG(list_tests)) return RUN_ALL_TESTS();
  // Children (Xvfb, openbox, trayer, clients) end with this process, however it ends.
  lumacap::test::killRecordedGroupsOnSignals();
#ifdef LUMACAP_REAL_X
  lumacap::test::sharedXServer();
  qputenv("QT_QPA_PLATFORM", "xcb");
  // An X11 session, even when the tests run inside a Wayland one: Lumacap would choose Wayland.
  qunsetenv("WAYLAND_DISPLAY");
#else
  // CTest's environment for these tests gets lost on the way (the discovered
  // tests receive only the first variable), so the default is set here.
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
#endif
  QApplication application(argc, argv);
  QApplication::setOrganizationName("Lumacap");
  QApplication::setApplicationName("Lumacap");
  ::testing::UnitTest::GetInstance()->listeners().Append(new PrivateSettingsFolder);
  return RUN_ALL_TESTS();
}
