#include "platform/linux/FreedesktopFileBrowser.h"

#include <gtest/gtest.h>

#include <QDBusAbstractAdaptor>
#include <QDBusConnection>
#include <QDesktopServices>
#include <QUrl>
#include <fstream>

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

// Stands in for the desktop's handler of file: URLs (xdg-open).
class UrlRecorder : public QObject {
  Q_OBJECT

 public:
  QList<QUrl> opened;
  Q_INVOKABLE void open(const QUrl& url) { opened.append(url); }
};

class FreedesktopFileBrowserTest : public ::testing::Test {
 protected:
  FreedesktopFileBrowserTest() {
    QDesktopServices::setUrlHandler("file", &urls, "open");
    std::filesystem::create_directories(folder);
    std::ofstream(file).close();
  }
  ~FreedesktopFileBrowserTest() override {
    QDesktopServices::unsetUrlHandler("file");
    QDBusConnection::disconnectFromBus("file-manager");
    QDBusConnection::disconnectFromBus("file-browser");
  }

  QDBusConnection connect(const QString& name) {
    return QDBusConnection::connectToBus(QString::fromStdString(bus.address()), name);
  }
  QUrl folderUrl() const { return QUrl::fromLocalFile(QString::fromStdString(folder.string())); }

  test::SessionBus bus;
  test::TempDir home;
  std::filesystem::path folder = home / "Lumacap/Captures";
  std::filesystem::path file = folder / "Build error #2.png";
  UrlRecorder urls;
};

TEST_F(FreedesktopFileBrowserTest, RevealsTheFileThroughTheFileManager) {
  QObject object;
  const FakeFileManager& manager = *new FakeFileManager(&object);
  QDBusConnection managerBus = connect("file-manager");
  ASSERT_TRUE(managerBus.registerObject("/org/freedesktop/FileManager1", &object));
  ASSERT_TRUE(managerBus.registerService("org.freedesktop.FileManager1"));

  FreedesktopFileBrowser browser(connect("file-browser"));
  browser.revealFile(file);
  ASSERT_TRUE(processEventsUntil([&] { return !manager.shown.isEmpty(); }))
      << "the file manager was not asked";
  EXPECT_EQ(manager.shown,
            QStringList{"file://" + QString::fromStdString(folder.string()) + "/Build%20error%20%232.png"});
  // Give a wrong fallback the time to show itself.
  test::processEventsFor(std::chrono::milliseconds(100));
  EXPECT_TRUE(urls.opened.isEmpty());
}

TEST_F(FreedesktopFileBrowserTest, OpensTheFolderWhenNoFileManagerAnswers) {
  FreedesktopFileBrowser browser(connect("file-browser"));
  browser.revealFile(file);
  ASSERT_TRUE(processEventsUntil([&] { return !urls.opened.isEmpty(); })) << "the folder was not opened";
  EXPECT_EQ(urls.opened, QList<QUrl>{folderUrl()});

  // A file that is gone: its folder, without asking the bus. Folders that do
  // not exist are neither opened nor made.
  urls.opened.clear();
  browser.revealFile(folder / "gone.png");
  EXPECT_EQ(urls.opened, QList<QUrl>{folderUrl()});
  browser.openFolder(folder);
  browser.openFolder(home / "Lumacap/Missing");
  EXPECT_FALSE(std::filesystem::exists(home / "Lumacap/Missing"));
  EXPECT_EQ(urls.opened, (QList<QUrl>{folderUrl(), folderUrl()}));
}

}  // namespace
}  // namespace lumacap

#include "FreedesktopFileBrowserTest.moc"
