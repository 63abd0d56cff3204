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
  explicit TrayMissingNotice(const QString& shortcut, QWidget* parent = nullptr);
};

}  // namespace lumacap
