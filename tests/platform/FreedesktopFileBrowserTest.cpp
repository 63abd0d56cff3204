#include "platform/linux/FreedesktopFileBrowser.h"

#include <gtest/gtest.h>

#include <QDBusAbstractAdaptor>
#include <QDBusConnection>
#include <QUrl>
#include <fstream>
#include <optional>

#include "support/AwaitTask.h"
#include "support/SessionBus.h"
#include "support/TempDir.h"

namespace lumacap {
namespace {

using test::processEventsUntil;

// A file manager on the test's bus (the interface of the object it is
// given) that only remembers what it was shown.
class FakeFileManager : public QDBusAbstractAdaptor {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.freedesktop.FileManager1")

 public:
  explicit FakeFileManager(QObject* object) : QDBusAbstractAdaptor(object) {}
  QStringList shown;

 public slots:
  void ShowItems(const QStringList& uris, const QString&) { shown += uris; }
};

class FreedesktopFileBrowserTest : public ::testing::Test {
 protected:
  FreedesktopFileBrowserTest() {
    std::filesystem::create_directories(folder);
    std::ofstream(file).close();
    // Stands in for xdg-open: notes the folder it was given.
    std::ofstream(home / "opener") << "#!/bin/sh\necho \"$1\" >> '" << (home / "opened").string() << "'\n";
    std::filesystem::permissions(home / "opener", std::filesystem::perms::owner_all);
  }
  ~FreedesktopFileBrowserTest() override {
    QDBusConnection::disconnectFromBus("file-manager");
    QDBusConnection::disconnectFromBus("file-browser");
  }

  QDBusConnection connect(const QString& name) {
    return QDBusConnection::connectToBus(QString::fromStdString(bus.address()), name);
  }
  QString opener() const { return QString::fromStdString((home / "opener").string()); }
  // The folders the opener was given, one a line.
  std::string opened() const {
    std::ifstream in(home / "opened");
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  test::SessionBus bus;
  test::TempDir home;
  std::filesystem::path folder = home / "Lumacap/Captures";
  std::filesystem::path file = folder / "Build error #2.png";
};

TEST_F(FreedesktopFileBrowserTest, RevealsTheFileThroughTheFileManager) {
  QObject object;
  const FakeFileManager& manager = *new FakeFileManager(&object);
  QDBusConnection managerBus = connect("file-manager");
  ASSERT_TRUE(managerBus.registerObject("/org/freedesktop/FileManager1", &object));
  ASSERT_TRUE(managerBus.registerService("org.freedesktop.FileManager1"));

  FreedesktopFileBrowser browser(connect("file-browser"), opener());
  std::optional<bool> shown;
  browser.revealFile(file, [&](bool outcome) { shown = outcome; });
  ASSERT_TRUE(processEventsUntil([&] { return !manager.shown.isEmpty(); }))
      << "the file manager was not asked";
  EXPECT_EQ(manager.shown,
            QStringList{"file://" + QString::fromStdString(folder.string()) + "/Build%20error%20%232.png"});
  // Give a wrong fallback the time to show itself.
  test::processEventsFor(std::chrono::milliseconds(100));
  EXPECT_EQ(opened(), "");
  EXPECT_EQ(shown, true);
}

TEST_F(FreedesktopFileBrowserTest, OpensTheFolderWhenNoFileManagerAnswers) {
  FreedesktopFileBrowser browser(connect("file-browser"), opener());
  std::vector<bool> shown;
  browser.revealFile(file, [&](bool outcome) { shown.push_back(outcome); });
  ASSERT_TRUE(processEventsUntil([&] { return shown.size() == 1; })) << "the folder was not opened";
  EXPECT_EQ(opened(), folder.string() + "\n");

  // A file that is gone: its folder, without asking the bus. Folders that do
  // not exist are neither opened nor made.
  browser.revealFile(folder / "gone.png", [&](bool outcome) { shown.push_back(outcome); });
  browser.openFolder(home / "Lumacap/Missing", [&](bool outcome) { shown.push_back(outcome); });
  ASSERT_TRUE(processEventsUntil([&] { return shown.size() == 2; }));
  EXPECT_FALSE(std::filesystem::exists(home / "Lumacap/Missing"));
  EXPECT_EQ(opened(), folder.string() + "\n" + folder.string() + "\n");
  EXPECT_EQ(shown, (std::vector<bool>{true, true}));

  // No handler for folders (xdg-open exits 3), or no xdg-open at all.
  FreedesktopFileBrowser noHandler(connect("file-browser"), QStringLiteral("false"));
  FreedesktopFileBrowser noOpener(connect("file-browser"), QString::fromStdString((home / "none").string()));
  for (FreedesktopFileBrowser* without : {&noHandler, &noOpener})
    without->openFolder(folder, [&](bool outcome) { shown.push_back(outcome); });
  ASSERT_TRUE(processEventsUntil([&] { return shown.size() == 4; }));
  EXPECT_EQ(shown, (std::vector<bool>{true, true, false, false}));
}

}  // namespace
}  // namespace lumacap

#include "FreedesktopFileBrowserTest.moc"
