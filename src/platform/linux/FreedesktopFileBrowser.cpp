#include "platform/linux/FreedesktopFileBrowser.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QProcess>
#include <QUrl>

#include "platform/linux/DBusCall.h"

namespace fs = std::filesystem;

namespace lumacap {
namespace {

QUrl urlOf(const fs::path& path) { return QUrl::fromLocalFile(QString::fromStdString(path.string())); }

void report(const FileBrowser::Outcome& outcome, bool shown) {
  if (outcome) outcome(shown);
}

}  // namespace

FreedesktopFileBrowser::FreedesktopFileBrowser() : FreedesktopFileBrowser(QDBusConnection::sessionBus()) {}

FreedesktopFileBrowser::FreedesktopFileBrowser(const QDBusConnection& bus, QString opener)
    : bus_(bus), opener_(std::move(opener)) {}

void FreedesktopFileBrowser::revealFile(const fs::path& file, Outcome outcome) {
  const fs::path folder = file.parent_path();
  std::error_code error;
  if (!bus_.isConnected() || !fs::exists(file, error)) {
    openFolder(folder, std::move(outcome));
    return;
  }
  QDBusMessage message =
      QDBusMessage::createMethodCall("org.freedesktop.FileManager1", "/org/freedesktop/FileManager1",
                                     "org.freedesktop.FileManager1", "ShowItems");
  message << QStringList{QString::fromUtf8(urlOf(file).toEncoded())} << QString();
  auto* watcher =
      new QDBusPendingCallWatcher(bus_.asyncCall(message, DBusCall::fileManager.count()), &replies_);
  QObject::connect(watcher, &QDBusPendingCallWatcher::finished, &replies_, [this, watcher, folder, outcome] {
    watcher->isError() ? openFolder(folder, outcome) : report(outcome, true);
    watcher->deleteLater();
  });
}

void FreedesktopFileBrowser::openFolder(const fs::path& folder, Outcome outcome) {
  std::error_code error;
  if (!fs::is_directory(folder, error)) return;
  // xdg-open exits non-zero when it finds nothing to open the folder with.
  auto* opener = new QProcess(&replies_);
  opener->setProgram(opener_);
  opener->setArguments({QString::fromStdString(folder.string())});
  opener->setStandardOutputFile(QProcess::nullDevice());
  opener->setStandardErrorFile(QProcess::nullDevice());
  QObject::connect(opener, &QProcess::finished, &replies_,
                   [opener, outcome](int code, QProcess::ExitStatus status) {
                     report(outcome, status == QProcess::NormalExit && code == 0);
                     opener->deleteLater();
                   });
  QObject::connect(opener, &QProcess::errorOccurred, &replies_,
                   [opener, outcome](QProcess::ProcessError failure) {
                     if (failure != QProcess::FailedToStart) return;
                     report(outcome, false);
                     opener->deleteLater();
                   });
  opener->start();
}

}  // namespace lumacap
