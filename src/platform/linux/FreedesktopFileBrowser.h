#pragma once

#include <QDBusConnection>
#include <QObject>

#include "platform/FileBrowser.h"

namespace lumacap {

// Reveals files through the freedesktop file-manager interface
// (org.freedesktop.FileManager1.ShowItems, which Nautilus, Dolphin, Nemo,
// Caja and Thunar answer) and opens folders with the desktop's default
// handler. Without a file manager on the bus, revealing opens the folder.
class FreedesktopFileBrowser final : public FileBrowser {
 public:
  // On the session bus, or on `bus` (tests use a private one).
  FreedesktopFileBrowser();
  explicit FreedesktopFileBrowser(const QDBusConnection& bus);

  void revealFile(const std::filesystem::path& file) override;
  void openFolder(const std::filesystem::path& folder) override;

 private:
  QDBusConnection bus_;
  QObject replies_;  // owns the watchers of calls still waiting for an answer
};

}  // namespace lumacap
