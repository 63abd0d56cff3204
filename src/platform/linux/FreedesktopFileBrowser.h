#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>

#include "platform/FileBrowser.h"

namespace lumacap {

// Reveals files through the freedesktop file-manager interface
// (org.freedesktop.FileManager1.ShowItems, which Nautilus, Dolphin, Nemo,
// Caja and Thunar answer) and opens folders with the desktop's default
// handler (xdg-open), whose exit status says whether one is installed.
// Without a file manager on the bus, revealing opens the folder.
class FreedesktopFileBrowser final : public FileBrowser {
 public:
  // On the session bus, or on `bus` (tests use a private one); folders open
  // with `opener`.
  FreedesktopFileBrowser();
  explicit FreedesktopFileBrowser(const QDBusConnection& bus, QString opener = QStringLiteral("xdg-open"));

  void revealFile(const std::filesystem::path& file, Outcome outcome = {}) override;
  void openFolder(const std::filesystem::path& folder, Outcome outcome = {}) override;

 private:
  QDBusConnection bus_;
  QString opener_;
  QObject replies_;  // owns the watchers and openers still waiting for an answer
};

}  // namespace lumacap
