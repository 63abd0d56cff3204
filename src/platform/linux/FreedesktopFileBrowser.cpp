#include "platform/linux/FreedesktopFileBrowser.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDesktopServices>
#include <QUrl>

namespace fs = std::filesystem;

namespace lumacap {
namespace {

// A file manager that is started for the call (D-Bus activation) may take a
// few seconds; past this the folder opens instead.
constexpr int showItemsTimeoutMs = 10000;

QUrl urlOf(const fs::path& path) { return QUrl::fromLocalFile(QString::fromStdString(path.string())); }

}  // namespace

FreedesktopFileBrowser::FreedesktopFileBrowser() : FreedesktopFileBrowser(QDBusConnection::sessionBus()) {}

FreedesktopFileBrowser::FreedesktopFileBrowser(const QDBusConnection& bus) : bus_(bus) {}

void FreedesktopFileBrowser::revealFile(const fs::path& file) {
  const fs::path folder = file.parent_path();
  std::error_code error;
  if (!bus_.isConnected() || !fs::exists(file, error)) {
    openFolder(folder);
    return;
  }
  QDBusMessage message =
      QDBusMessage::createMethodCall("org.freedesktop.FileManager1", "/org/freedesktop/FileManager1",
                                     "org.freedesktop.FileManager1", "ShowItems");
  message << QStringList{QString::fromUtf8(urlOf(file).toEncoded())} << QString();
  auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(message, showItemsTimeoutMs), &replies_);
  QObject::connect(watcher, &QDBusPendingCallWatcher::finished, &replies_, [this, watcher, folder] {
    if (watcher->isError()) openFolder(folder);
    watcher->deleteLater();
  });
}

void FreedesktopFileBrowser::openFolder(const fs::path& folder) {
  std::error_code error;
  if (fs::is_directory(folder, error)) QDesktopServices::openUrl(urlOf(folder));
}

}  // namespace lumacap
