#pragma once

#include <QDialog>
#include <QString>

namespace lumacap {

// Said once when the desktop shows no system tray: Lumacap runs, but its icon
// and menu cannot appear, so this names what still reaches it.
class TrayMissingNotice : public QDialog {
  Q_OBJECT

 public:
  // `shortcut` is the capture hot key's label ("Shift+Super+2").
  // `shortcut`: what the capture key does on this desktop now, as a sentence;
  // the applications-menu entry is named only where it is installed.
  TrayMissingNotice(const QString& shortcut, bool entryInstalled, QWidget* parent = nullptr);
};

}  // namespace lumacap
