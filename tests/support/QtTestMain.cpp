#include <gtest/gtest.h>

#include <QApplication>
#include <QSettings>

#include "OpenMPThreads.h"
#include "support/Subprocess.h"
#include "support/TempDir.h"

namespace {

// Every test starts with the settings in a folder of this run, whatever an
// earlier test pointed QSettings at (perhaps a folder since removed).
class PrivateSettingsFolder : public ::testing::EmptyTestEventListener {
 public:
  void OnTestStart(const ::testing::TestInfo&) override {
    const QString path = QString::fromStdString(folder_.path().string());
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, path);
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, path);
  }

 private:
  lumacap::test::TempDir folder_;
};

}  // namespace

// GUI tests need one QApplication for the whole run; under CTest they use the
// offscreen platform unless the test sets a real display.
int main(int argc, char** argv) {
  lumacap::test::restartWithOneOpenMPThreadUnlessChosen(argv);
  ::testing::InitGoogleTest(&argc, argv);
  // Listing the tests (CTest's discovery at build time) needs no display.
  if (::testing::GTEST_FLAG(list_tests)) return RUN_ALL_TESTS();
  lumacap::test::killRecordedGroupsOnSignals();
  // CTest's environment for these tests gets lost on the way (the discovered
  // tests receive only the first variable), so the default is set here.
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication application(argc, argv);
  QApplication::setOrganizationName("Lumacap");
  QApplication::setApplicationName("Lumacap");
  ::testing::UnitTest::GetInstance()->listeners().Append(new PrivateSettingsFolder);
  return RUN_ALL_TESTS();
}
